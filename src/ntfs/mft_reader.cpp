#include "ntfs/mft_reader.h"

#include <algorithm>
#include <limits>

#include "ntfs/attribute.h"
#include "ntfs/mft_record.h"

namespace dravolin {
namespace {

constexpr std::uint64_t kMaxRecordNumber = 0x0000FFFFFFFFFFFFull;

Result<std::vector<std::byte>> readSectors(SectorReader& reader, SectorNumber first, std::uint32_t count) {
  std::vector<std::byte> bytes(std::size_t{count} * kSectorSize);
  if (!reader.ReadSector(first, count, bytes)) return makeError(ErrorKind::Io, "cannot read the MFT record");
  return bytes;
}

// Bytes covered from VCN 0 without holes, at most the data size.
std::uint64_t coveredBytes(const std::vector<DataRun>& runs, std::uint64_t cluster_size, std::uint64_t data_size) {
  std::uint64_t next = 0;
  for (const auto& run : runs) {
    if (run.vcn != next || run.sparse) break;
    next = run.endVcn();
  }
  if (next > data_size / cluster_size + 1) return data_size;
  return std::min(data_size, next * cluster_size);
}

}  // namespace

std::optional<SectorNumber> MftNumberToSector(const MftRunList& mft, const NtfsGeometry& geometry,
                                              std::uint64_t record_number) {
  if (record_number > kMaxRecordNumber || geometry.cluster_size == 0) return std::nullopt;
  const std::uint64_t byte_offset = record_number * geometry.record_size;
  if (byte_offset >= mft.covered_bytes) return std::nullopt;
  const std::uint64_t vcn = byte_offset / geometry.cluster_size;
  auto it = std::upper_bound(mft.runs.begin(), mft.runs.end(), vcn,
                             [](std::uint64_t v, const DataRun& run) { return v < run.vcn; });
  if (it == mft.runs.begin()) return std::nullopt;
  --it;
  if (it->endVcn() <= vcn || it->sparse) return std::nullopt;
  const std::uint64_t lcn = it->lcn + (vcn - it->vcn);
  const std::uint64_t spc = geometry.sectorsPerCluster();
  if (lcn > (std::numeric_limits<std::uint64_t>::max() - geometry.partition_start) / spc - 1) return std::nullopt;
  return geometry.partition_start + lcn * spc + (byte_offset % geometry.cluster_size) / kSectorSize;
}

Result<std::vector<std::byte>> ReadMftRecord(SectorReader& reader, const MftRunList& mft,
                                             const NtfsGeometry& geometry, std::uint64_t record_number) {
  const std::uint32_t sectors = geometry.sectorsPerRecord();
  auto first = MftNumberToSector(mft, geometry, record_number);
  if (!first || sectors == 0) return makeError(ErrorKind::NotFound, "record beyond the MFT run list");
  if (geometry.record_size <= geometry.cluster_size) return readSectors(reader, *first, sectors);
  // A record larger than a cluster may cross from one run into the next.
  std::vector<std::byte> bytes(std::size_t{sectors} * kSectorSize);
  for (std::uint32_t i = 0; i < sectors; ++i) {
    const std::uint64_t offset = record_number * geometry.record_size + std::uint64_t{i} * kSectorSize;
    const std::uint64_t vcn = offset / geometry.cluster_size;
    auto it = std::upper_bound(mft.runs.begin(), mft.runs.end(), vcn,
                               [](std::uint64_t v, const DataRun& run) { return v < run.vcn; });
    if (it == mft.runs.begin() || std::prev(it)->endVcn() <= vcn || std::prev(it)->sparse)
      return makeError(ErrorKind::NotFound, "record beyond the MFT run list");
    --it;
    const SectorNumber sector = geometry.partition_start +
                                (it->lcn + (vcn - it->vcn)) * geometry.sectorsPerCluster() +
                                (offset % geometry.cluster_size) / kSectorSize;
    if (!reader.ReadSector(sector, 1, std::span<std::byte>(bytes).subspan(std::size_t{i} * kSectorSize, kSectorSize)))
      return makeError(ErrorKind::Io, "cannot read the MFT record");
  }
  return bytes;
}

Result<std::vector<std::byte>> ReadRecordAtSector(SectorReader& reader, const NtfsGeometry& geometry,
                                                  SectorNumber sector) {
  return readSectors(reader, sector, geometry.sectorsPerRecord());
}

FetchRecord makeRecordFetcher(SectorReader& reader, const MftRunList& mft, const NtfsGeometry& geometry) {
  return [&reader, &mft, geometry](std::uint64_t number) -> std::optional<std::vector<std::byte>> {
    if (mft.runs.empty()) {
      const auto found = mft.scannedRecords.find(number);
      if (found == mft.scannedRecords.end()) return std::nullopt;
      auto raw = ReadRecordAtSector(reader, geometry, found->second);
      if (!raw) return std::nullopt;
      return std::move(*raw);
    }
    auto raw = ReadMftRecord(reader, mft, geometry, number);
    if (!raw) return std::nullopt;
    return std::move(*raw);
  };
}

ReadClusters makeClusterReader(SectorReader& reader, const NtfsGeometry& geometry) {
  return [&reader, geometry](std::uint64_t lcn, std::uint64_t count, std::span<std::byte> out) {
    const std::uint64_t spc = geometry.sectorsPerCluster();
    // Clusters whose sector number would not fit in 64 bits lie on no disk.
    const std::uint64_t limit =
        spc ? (std::numeric_limits<std::uint64_t>::max() - geometry.partition_start) / spc : 0;
    if (count > limit || lcn > limit - count) {
      std::fill(out.begin(), out.end(), std::byte{0});
      return false;
    }
    bool ok = true;
    // Pieces of at most 2,048 sectors keep the count in 32 bits.
    const std::uint64_t clusters_per_piece = std::max<std::uint64_t>(1, 2048 / spc);
    for (std::uint64_t done = 0; done < count;) {
      const std::uint64_t n = std::min(clusters_per_piece, count - done);
      const SectorNumber sector = geometry.partition_start + (lcn + done) * spc;
      auto piece = out.subspan(done * geometry.cluster_size, n * geometry.cluster_size);
      if (!reader.ReadSector(sector, static_cast<std::uint32_t>(n * spc), piece)) ok = false;
      done += n;
    }
    return ok;
  };
}

Result<MftRunList> LoadMftRunList(SectorReader& reader, const NtfsGeometry& geometry) {
  const SectorNumber sector = geometry.partition_start + geometry.mft_cluster * geometry.sectorsPerCluster();
  auto bytes = ReadRecordAtSector(reader, geometry, sector);
  if (!bytes) return std::unexpected(bytes.error());
  auto record = readMftRecord(*bytes);
  if (!record) return std::unexpected(record.error());
  if (record->header.isExtension()) return makeError(ErrorKind::NotFound, "MFT record 0 is an extension");
  // First the runs held by record 0 itself: they locate any extension
  // records of $MFT, which lie near its start.
  MftRunList own;
  auto data = findAttribute(*record, AttributeType::Data);
  if (!data || !data->non_resident || data->first_vcn != 0)
    return makeError(ErrorKind::NotFound, "MFT record 0 has no usable data attribute");
  auto runs = decodeDataRuns(data->runs, 0);
  if (!runs || runs->empty()) return makeError(ErrorKind::NotFound, "MFT runs do not decode");
  own.runs = std::move(*runs);
  own.data_size = data->data_size;
  own.covered_bytes = coveredBytes(own.runs, geometry.cluster_size, own.data_size);

  auto stream = collectDataStream(*record, 0, geometry.cluster_size, makeRecordFetcher(reader, own, geometry),
                                  makeClusterReader(reader, geometry));
  MftRunList mft;
  if (stream && !stream->resident && stream->data_size > 0) {
    mft.runs = std::move(stream->runs);
    mft.data_size = stream->data_size;
  } else {
    mft = std::move(own);
  }
  mft.covered_bytes = coveredBytes(mft.runs, geometry.cluster_size, mft.data_size);
  mft.complete = mft.covered_bytes >= mft.data_size;
  return mft;
}

Result<NtfsDataStream> ReadRecordRuns(SectorReader& reader, const NtfsGeometry& geometry, const MftRunList& mft,
                                      SectorNumber record_sector, std::optional<std::uint64_t> record_number) {
  auto bytes = ReadRecordAtSector(reader, geometry, record_sector);
  if (!bytes) return std::unexpected(bytes.error());
  auto record = readMftRecord(*bytes);
  if (!record) return std::unexpected(record.error());
  if (record->header.isExtension()) return makeError(ErrorKind::NotFound, "an extension record is not a file");
  return collectDataStream(*record, record_number, geometry.cluster_size, makeRecordFetcher(reader, mft, geometry),
                           makeClusterReader(reader, geometry));
}

}  // namespace dravolin
