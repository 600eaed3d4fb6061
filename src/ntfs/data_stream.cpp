#include "ntfs/data_stream.h"

#include <algorithm>
#include <tuple>
#include <unordered_set>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/data_runs.h"

namespace dravolin {
namespace {

void takeSizes(NtfsDataStream& stream, const AttributeHeader& data) {
  stream.data_size = data.data_size;
  stream.allocated_size = data.allocated_size;
  stream.initialized_size = std::min(data.initialized_size, data.data_size);
  stream.flags = data.flags;
  stream.compression_unit_shift = data.compression_unit_shift;
}

// Appends the runs of one extent; a list damaged part way keeps the runs
// before the damage, and the stream is then incomplete.
void takeRuns(NtfsDataStream& stream, const AttributeHeader& data) {
  DecodedRuns decoded = decodeDataRunsUpToDamage(data.runs, data.first_vcn);
  if (decoded.damage) {
    stream.complete = false;
    stream.runs_damaged = true;
  }
  stream.runs.insert(stream.runs.end(), decoded.runs.begin(), decoded.runs.end());
}

// A resident value is the whole stream: every size is its length.
void takeResidentValue(NtfsDataStream& stream, const AttributeHeader& data) {
  stream.resident = true;
  stream.resident_value.assign(data.value.begin(), data.value.end());
  stream.data_size = stream.allocated_size = stream.initialized_size = data.value.size();
  stream.flags = data.flags;
}

// The unnamed $DATA of record that starts at vcn (any when vcn is empty).
// When the walk ended at an unnamed $DATA holding an illegal value, corrupt
// (if given) says what.
std::optional<AttributeHeader> findDataExtent(const MftRecord& record, std::optional<std::uint64_t> vcn,
                                              std::string* corrupt = nullptr) {
  AttributeCursor walk(record);
  while (const AttributeHeader* attribute = walk.next()) {
    if (!attribute->is(AttributeType::Data) || !attribute->name.empty()) continue;
    if (!vcn || (attribute->non_resident ? attribute->first_vcn == *vcn : *vcn == 0)) return *attribute;
  }
  if (corrupt && walk.corruptAttributeIs(AttributeType::Data, u"")) *corrupt = walk.corrupt();
  return std::nullopt;
}

// Sorts the runs by VCN, drops any run that overlaps one before it, and
// checks that they cover the data size without holes.
void finishRuns(NtfsDataStream& stream, std::uint64_t cluster_size) {
  std::sort(stream.runs.begin(), stream.runs.end(), [](const DataRun& a, const DataRun& b) {
    return std::tie(a.vcn, a.length, a.lcn, a.sparse) < std::tie(b.vcn, b.length, b.lcn, b.sparse);
  });
  std::vector<DataRun> kept;
  std::uint64_t next = 0;
  bool holes = false;
  for (const auto& run : stream.runs) {
    if (!kept.empty() && run.vcn < next) { stream.complete = false; continue; }
    if (run.vcn != next) holes = true;
    kept.push_back(run);
    next = run.endVcn();
  }
  stream.runs = std::move(kept);
  const std::uint64_t needed = cluster_size ? (stream.data_size + cluster_size - 1) / cluster_size : 0;
  if (holes || next < needed) stream.complete = false;
}

Result<NtfsDataStream> fromOneRecord(const MftRecord& base, std::uint64_t cluster_size) {
  std::string corrupt;
  auto data = findDataExtent(base, std::nullopt, &corrupt);
  if (!data && !corrupt.empty()) return makeError(ErrorKind::Corrupt, std::move(corrupt));
  if (!data) return makeError(ErrorKind::NotFound, "no unnamed data attribute");
  NtfsDataStream stream;
  if (!data->non_resident) {
    takeResidentValue(stream, *data);
    return stream;
  }
  takeSizes(stream, *data);
  takeRuns(stream, *data);
  if (data->first_vcn != 0) stream.complete = false;
  finishRuns(stream, cluster_size);
  return stream;
}

Result<std::vector<AttributeListEntry>> readAttributeList(const AttributeHeader& list, std::uint64_t cluster_size,
                                                          const ReadClusters& read_clusters) {
  if (!list.non_resident) return parseAttributeList(list.value);
  NtfsDataStream stream;
  takeSizes(stream, list);
  stream.flags = 0;
  auto runs = decodeDataRuns(list.runs, list.first_vcn);
  if (!runs) return std::unexpected(runs.error());
  stream.runs = std::move(*runs);
  auto bytes = readWholeStream(stream, cluster_size, read_clusters, kMaxAttributeListSize);
  if (!bytes) return std::unexpected(bytes.error());
  return parseAttributeList(*bytes);
}

// The number of the base record: given, carried by the record, or named by
// the list as the holder of $STANDARD_INFORMATION (always in the base).
std::optional<std::uint64_t> baseNumberOf(const MftRecord& base, std::optional<std::uint64_t> base_number,
                                          const std::vector<AttributeListEntry>& entries) {
  if (base_number) return base_number;
  if (base.header.record_number) return base.header.record_number;
  for (const auto& entry : entries)
    if (entry.is(AttributeType::StandardInformation)) return entry.reference.record_number;
  return std::nullopt;
}

// Reads extension record number into buffer and accepts it only when it
// names the base record (number and sequence number: the one the base
// carries, or for a freed base the one it carried in use) and, when it
// carries its own number, is the record asked for.
std::optional<MftRecord> fetchExtension(const FetchRecord& fetch_record, std::uint64_t number,
                                        std::uint64_t base_number, const MftRecordHeader& base,
                                        std::vector<std::byte>& buffer) {
  auto bytes = fetch_record(number);
  if (!bytes) return std::nullopt;
  buffer = std::move(*bytes);
  auto record = readMftRecord(buffer);
  if (!record || record->header.base_reference.record_number != base_number ||
      !referenceNamesRecord(record->header.base_reference.sequence_number, base.sequence_number, base.inUse()) ||
      (record->header.record_number && *record->header.record_number != number))
    return std::nullopt;
  return *record;
}

}  // namespace

std::vector<FileName> collectFileNames(const MftRecord& base, std::optional<std::uint64_t> base_number,
                                       std::uint64_t cluster_size, const FetchRecord& fetch_record,
                                       const ReadClusters& read_clusters) {
  std::vector<FileName> names = readFileNames(base);
  auto list_attribute = findAttribute(base, AttributeType::AttributeList);
  if (!list_attribute) return names;
  auto entries = readAttributeList(*list_attribute, cluster_size, read_clusters);
  if (!entries) return names;
  base_number = baseNumberOf(base, base_number, *entries);
  if (!base_number) return names;
  std::unordered_set<std::uint64_t> read;
  std::vector<std::byte> buffer;
  for (const auto& entry : *entries) {
    const std::uint64_t number = entry.reference.record_number;
    if (!entry.is(AttributeType::FileName) || number == *base_number || !read.insert(number).second) continue;
    if (auto record = fetchExtension(fetch_record, number, *base_number, base.header, buffer)) {
      auto more = readFileNames(*record);
      names.insert(names.end(), more.begin(), more.end());
    }
  }
  return names;
}

Result<NtfsDataStream> collectDataStream(const MftRecord& base, std::optional<std::uint64_t> base_number,
                                         std::uint64_t cluster_size, const FetchRecord& fetch_record,
                                         const ReadClusters& read_clusters) {
  auto list_attribute = findAttribute(base, AttributeType::AttributeList);
  if (!list_attribute) return fromOneRecord(base, cluster_size);
  auto entries = readAttributeList(*list_attribute, cluster_size, read_clusters);
  if (!entries) return fromOneRecord(base, cluster_size);
  base_number = baseNumberOf(base, base_number, *entries);
  const auto extents = selectDataExtents(*entries);
  if (extents.empty()) return fromOneRecord(base, cluster_size);

  NtfsDataStream stream;
  bool sized = false;
  std::vector<std::byte> buffer;
  for (const auto& extent : extents) {
    std::optional<AttributeHeader> data;
    if (base_number && extent.reference.record_number == *base_number) {
      data = findDataExtent(base, extent.starting_vcn);
    } else if (base_number) {
      // An extension belongs to this file only when it names the base record.
      if (auto record = fetchExtension(fetch_record, extent.reference.record_number, *base_number,
                                       base.header, buffer))
        data = findDataExtent(*record, extent.starting_vcn);
    }
    if (!data) { stream.complete = false; continue; }
    if (extent.starting_vcn == 0) {
      if (!data->non_resident) {
        takeResidentValue(stream, *data);
        return stream;
      }
      takeSizes(stream, *data);
      sized = true;
    }
    takeRuns(stream, *data);
  }
  if (!sized) {
    // Without the first extent the size is unknown: the runs found give the
    // most the file can hold.
    stream.complete = false;
    stream.data_size = stream.initialized_size = stream.allocated_size = 0;
    return stream;
  }
  finishRuns(stream, cluster_size);
  return stream;
}

}  // namespace dravolin
