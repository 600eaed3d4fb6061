// The MFT walk: every record of $MFT in order, folders and files inserted
// with their MFT numbers as ids and their parents checked against the
// records the walk found.
#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/text_encoding.h"
#include "ntfs/attribute.h"
#include "ntfs/data_stream.h"
#include "ntfs/file_name.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_search.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/standard_information.h"

namespace dravolin {
namespace {

// Bytes of $MFT read per transfer.
constexpr std::uint64_t kWalkReadBytes = 1u << 20;

// What the walk keeps of one base record until every record has been read.
struct WalkRecord {
  std::uint32_t number = 0;
  std::uint16_t sequence = 0;
  bool inUse = false;
  bool directory = false;
  FileReference parent;
  std::u16string name;
  EntryTimes times{};
  std::uint64_t size = 0;
};

EntryTimes entryTimes(std::uint64_t modified, std::uint64_t created, std::uint64_t accessed) {
  auto low = [](std::uint64_t t) { return static_cast<std::uint32_t>(t); };
  auto high = [](std::uint64_t t) { return static_cast<std::uint32_t>(t >> 32); };
  return {low(modified), high(modified), low(created), high(created), low(accessed), high(accessed)};
}

// The sequence number a record takes when it is freed (0 is skipped).
std::uint16_t nextSequence(std::uint16_t sequence) {
  const auto next = static_cast<std::uint16_t>(sequence + 1);
  return next == 0 ? 1 : next;
}

int percentOf(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return 100;
  return static_cast<int>(std::min<std::uint64_t>(100, part * 100 / whole));
}

class MftWalk {
 public:
  MftWalk(Job& job, NtfsSearchContext& context, const NtfsGeometry& geometry)
      : job_(job), ctx_(context), geometry_(geometry),
        fetch_(makeRecordFetcher(context.reader, context.mft, geometry)),
        clusters_(makeClusterReader(context.reader, geometry)) {}

  // Reads every record the run list reaches. False when stopped.
  bool read() {
    const MftRunList& mft = ctx_.mft;
    const std::uint64_t recordSize = geometry_.record_size;
    const std::uint64_t clusterSize = geometry_.cluster_size;
    totalRecords_ = mft.data_size / recordSize;
    // Runs are read only as far as the volume reaches: a damaged run list
    // may name clusters far beyond it.
    const std::uint64_t spc = geometry_.sectorsPerCluster();
    const std::uint64_t volumeClusters = ctx_.partitionEnd > geometry_.partition_start
                                             ? (ctx_.partitionEnd - geometry_.partition_start) / spc
                                             : std::numeric_limits<std::uint64_t>::max() / clusterSize;
    const std::uint64_t maxVcn = std::numeric_limits<std::uint64_t>::max() / clusterSize;
    std::uint64_t reachable = 0;  // clusters
    for (const DataRun& run : mft.runs)
      if (!run.sparse && run.lcn < volumeClusters)
        reachable = std::min(maxVcn, reachable + std::min(run.length, volumeClusters - run.lcn));
    const std::uint64_t expected = std::min(totalRecords_, reachable * clusterSize / recordSize);
    records_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(expected, 1u << 20)));
    byNumber_.reserve(records_.capacity());
    std::vector<std::byte> buffer;
    for (const DataRun& run : mft.runs) {
      if (run.sparse || run.length == 0 || run.lcn >= volumeClusters) continue;
      if (run.vcn >= maxVcn) break;
      const std::uint64_t length = std::min({run.length, volumeClusters - run.lcn, maxVcn - run.vcn});
      const std::uint64_t runStart = run.vcn * clusterSize;
      const std::uint64_t runEnd = std::min((run.vcn + length) * clusterSize, totalRecords_ * recordSize);
      if (runStart >= runEnd) continue;
      // Records that lie wholly within this run, read in large transfers.
      std::uint64_t number = (runStart + recordSize - 1) / recordSize;
      const std::uint64_t end = runEnd / recordSize;
      const std::uint64_t perRead = std::max<std::uint64_t>(1, kWalkReadBytes / recordSize);
      while (number < end) {
        if (job_.stopRequested()) {
          flushRecordLoss();
          return false;
        }
        job_.checkpoint();
        const std::uint64_t count = std::min(perRead, end - number);
        const std::uint64_t offset = number * recordSize - runStart;
        const SectorNumber first =
            geometry_.partition_start + run.lcn * geometry_.sectorsPerCluster() + offset / kSectorSize;
        buffer.resize(static_cast<std::size_t>(count * recordSize));
        const std::uint64_t losses = ctx_.reader.lossCount();
        (void)ctx_.reader.ReadSector(first, static_cast<std::uint32_t>(buffer.size() / kSectorSize), buffer);
        // Only a read that lost something looks at what it lost.
        if (ctx_.reader.lossCount() != losses) noteLostRecords(first, count * recordSize / kSectorSize, number);
        for (std::uint64_t i = 0; i < count; ++i)
          examine(std::span<std::byte>(buffer).subspan(static_cast<std::size_t>(i * recordSize),
                                                       static_cast<std::size_t>(recordSize)),
                  number + i);
        number += count;
        visited_ += count;
        job_.setPercent(percentOf(visited_, totalRecords_));
      }
      // A record that crosses into the next run (records larger than a
      // cluster on a fragmented $MFT) is read sector by sector.
      if (length == run.length && runEnd % recordSize != 0 && runEnd / recordSize < totalRecords_) {
        UnreadableWatch watch(ctx_.reader);
        if (auto raw = ReadMftRecord(ctx_.reader, mft, geometry_, runEnd / recordSize)) {
          examine(*raw, runEnd / recordSize);
          ++visited_;
        }
        for (const SectorRange& r : watch.sectors().ranges()) addRecordLoss(runEnd / recordSize, r);
      }
    }
    flushRecordLoss();
    return true;
  }

  // Inserts the folders and files read, in MFT order. Parents that were not
  // found, that are no folder, or whose record was reused since go under
  // "Lost"; so do folders caught in a parent cycle.
  void insert() {
    FoundEntries& entries = ctx_.entries;
    std::vector<std::uint32_t> parents(records_.size());
    std::vector<std::ptrdiff_t> parentIndex(records_.size(), -1);
    bool needsLost = false;
    for (std::size_t i = 0; i < records_.size(); ++i) {
      parents[i] = resolveParent(records_[i], parentIndex[i]);
      if (parents[i] == kLostId) needsLost = true;
    }
    needsLost = breakCycles(parents, parentIndex) || needsLost;
    if (needsLost) entries.AddDirectoryNode("", u"Lost", false, kNtfsRootId, kLostId, 0, EntryTimes{});
    // One statistics record, its name text rewritten in place for each entry.
    SearchStatistics statistics;
    for (std::size_t i = 0; i < records_.size(); ++i) {
      WalkRecord& r = records_[i];
      statistics.lastName.clear();
      appendUtf8(statistics.lastName, r.name);
      if (r.directory) {
        entries.AddDirectoryNode("", r.name, !r.inUse, parents[i], r.number, 0, r.times);
      } else {
        // The record's name is not looked at again: the entry takes it.
        entries.AddFileNode("", std::move(r.name), !r.inUse, r.size, parents[i], r.number, 0, r.times);
        entries.TotalSize += r.size;
      }
      statistics.value = entries.TotalSize;
      statistics.directories = entries.DirectoryCount;
      statistics.files = entries.FileCount;
      job_.updateStatistics(statistics);
    }
  }

  std::uint64_t torn() const { return torn_; }

 private:
  // The records of the transfer of `sectors` sectors at first (the first
  // being record number firstRecord) that lie in sectors it could not read.
  void noteLostRecords(SectorNumber first, std::uint64_t sectors, std::uint64_t firstRecord) {
    const std::uint64_t perRecord = std::max<std::uint64_t>(1, geometry_.record_size / kSectorSize);
    for (const SectorRange& r : ctx_.reader.unreadable().rangesIn(first, sectors)) {
      // Each record whose sectors meet the range, with the part of the
      // range that lies in it.
      for (std::uint64_t at = (r.start - first) / perRecord; at * perRecord < r.end - first; ++at) {
        const SectorNumber recordStart = first + at * perRecord;
        addRecordLoss(firstRecord + at, {std::max(r.start, recordStart), std::min(r.end, recordStart + perRecord)});
      }
    }
  }

  // Consecutive lost records are one loss, its sectors merged.
  void addRecordLoss(std::uint64_t number, SectorRange sectors) {
    if (open_) {
      std::vector<std::uint64_t>& numbers = open_->recordNumbers;
      const bool sameRecord = numbers.back() == number;
      if (sameRecord || numbers.back() + 1 == number) {
        if (!sameRecord) numbers.push_back(number);
        SectorRange& last = open_->sectors.back();
        if (sectors.start <= last.end && sectors.end >= last.start) {
          last = {std::min(last.start, sectors.start), std::max(last.end, sectors.end)};
        } else {
          open_->sectors.push_back(sectors);
        }
        return;
      }
      flushRecordLoss();
    }
    open_ = ReadLoss{ReadLossKind::MftRecord, kLostId, 0, {sectors}, 0, {number}};
  }

  void flushRecordLoss() {
    if (open_) ctx_.entries.Losses.add(std::move(*open_));
    open_.reset();
  }

  void examine(std::span<std::byte> raw, std::uint64_t position) {
    auto record = readMftRecord(raw);
    if (!record) return;
    const MftRecordHeader& header = record->header;
    // Extension records hold attributes of their base record: never a file
    // of their own.
    if (header.isExtension()) return;
    const std::uint64_t number = header.record_number ? *header.record_number : position;
    if (number == kNtfsRootId || number > std::numeric_limits<std::uint32_t>::max() - 1 || number == kLostId) return;
    const auto key = static_cast<std::uint32_t>(number);
    if (byNumber_.contains(key)) return;

    // One pass over the attributes gives the names, the times and the data.
    AttributeCursor walk(*record);
    bool hasList = false;
    std::optional<ByteSpan> information;
    std::optional<AttributeHeader> data;
    std::vector<FileName>& names = names_;
    names.clear();
    while (const AttributeHeader* next = walk.next()) {
      const AttributeHeader& attribute = *next;
      if (attribute.is(AttributeType::AttributeList)) hasList = true;
      if (attribute.is(AttributeType::StandardInformation) && !information && !attribute.non_resident)
        information = attribute.value;
      if (attribute.is(AttributeType::Data) && !data && attribute.name.empty()) data = attribute;
      if (attribute.is(AttributeType::FileName) && !attribute.non_resident && attribute.name.empty())
        if (auto parsed = parseFileName(attribute.value)) names.push_back(std::move(*parsed));
    }
    if (names.empty() && hasList)
      names = collectFileNames(*record, number, geometry_.cluster_size, fetch_, clusters_);
    const auto chosen = bestFileNameIndex(names);
    FileName* name = chosen && !names[*chosen].name.empty() ? &names[*chosen] : nullptr;
    // A record without a name is listed when it holds something, as the
    // sector scan lists it: data, an attribute list or a folder's index
    // (records never used, emptied or reserved hold none of them).
    const bool holdsSomething = (data && data->size() > 0) || hasList || header.isDirectory();
    if (!name && !holdsSomething) return;
    if (record->torn) ++torn_;

    WalkRecord out;
    out.number = key;
    out.sequence = header.sequence_number;
    out.inUse = header.inUse();
    out.directory = header.isDirectory();
    if (name) {
      out.parent = name->parent;
      out.name = std::move(name->name);
    } else {
      // Its folder is unknown: it goes under "Lost", named by its number.
      out.parent = FileReference{};
      out.name = namelessRecordName(key, out.directory);
    }
    auto info = information ? parseStandardInformation(*information)
                            : Result<StandardInformation>(makeError(ErrorKind::NotFound, "no standard information"));
    if (info)
      out.times = entryTimes(info->modification_time, info->creation_time, info->access_time);
    else if (name)
      out.times = entryTimes(name->modification_time, name->creation_time, name->access_time);
    if (!out.directory) out.size = dataSize(*record, data ? &*data : nullptr, number, hasList);
    byNumber_.emplace(key, records_.size());
    records_.push_back(std::move(out));
    lastName_.clear();
    appendUtf8(lastName_, records_.back().name);
    job_.setLastName(lastName_);
  }

  // The size of the unnamed $DATA: from its extent at VCN 0, looked for in
  // the extension records when the base record does not hold it.
  std::uint64_t dataSize(const MftRecord& record, const AttributeHeader* data, std::uint64_t number, bool hasList) {
    if (data && (!data->non_resident || data->first_vcn == 0)) return data->size();
    if (!hasList) return 0;
    auto stream = collectDataStream(record, number, geometry_.cluster_size, fetch_, clusters_);
    return stream ? stream->data_size : 0;
  }

  std::uint32_t resolveParent(const WalkRecord& r, std::ptrdiff_t& index) const {
    const std::uint64_t parent = r.parent.record_number;
    if (parent == kNtfsRootId) return kNtfsRootId;
    if (r.parent.isZero()) return kLostId;
    if (parent == r.number || parent > std::numeric_limits<std::uint32_t>::max()) return kLostId;
    auto it = byNumber_.find(static_cast<std::uint32_t>(parent));
    if (it == byNumber_.end()) return kLostId;
    const WalkRecord& folder = records_[it->second];
    if (!folder.directory) return kLostId;
    // A freed folder's record has its sequence number raised by one: its
    // children still name the number it had while it was in use.
    const std::uint16_t wanted = r.parent.sequence_number;
    const bool matches = wanted == 0 || folder.sequence == wanted ||
                         (!folder.inUse && folder.sequence == nextSequence(wanted));
    if (!matches) return kLostId;
    index = static_cast<std::ptrdiff_t>(it->second);
    return folder.number;
  }

  // Moves the first folder (in MFT order) of every parent cycle under "Lost".
  bool breakCycles(std::vector<std::uint32_t>& parents, std::vector<std::ptrdiff_t>& parentIndex) const {
    enum : std::uint8_t { kUnseen, kOnPath, kDone };
    std::vector<std::uint8_t> state(records_.size(), kUnseen);
    std::vector<std::size_t> path;
    bool moved = false;
    for (std::size_t start = 0; start < records_.size(); ++start) {
      if (state[start] != kUnseen) continue;
      path.clear();
      std::ptrdiff_t at = static_cast<std::ptrdiff_t>(start);
      while (at >= 0 && state[static_cast<std::size_t>(at)] == kUnseen) {
        state[static_cast<std::size_t>(at)] = kOnPath;
        path.push_back(static_cast<std::size_t>(at));
        at = parentIndex[static_cast<std::size_t>(at)];
      }
      if (at >= 0 && state[static_cast<std::size_t>(at)] == kOnPath) {
        const auto from = std::find(path.begin(), path.end(), static_cast<std::size_t>(at));
        const std::size_t first = *std::min_element(from, path.end());
        parents[first] = kLostId;
        parentIndex[first] = -1;
        moved = true;
      }
      for (std::size_t i : path) state[i] = kDone;
    }
    return moved;
  }

  Job& job_;
  NtfsSearchContext& ctx_;
  NtfsGeometry geometry_;
  FetchRecord fetch_;
  ReadClusters clusters_;
  std::vector<WalkRecord> records_;
  std::vector<FileName> names_;  // the names of the record being examined
  std::string lastName_;         // the text of the last name read, its room reused
  std::unordered_map<std::uint32_t, std::size_t> byNumber_;
  std::uint64_t totalRecords_ = 0;
  std::uint64_t visited_ = 0;
  std::uint64_t torn_ = 0;
  std::optional<ReadLoss> open_;  // the loss of the last records found unreadable
};

}  // namespace

void runNtfsMftWalk(Job& job, NtfsSearchContext& context) {
  context.entries.clear();
  context.mft = MftRunList{};
  context.tornRecords = 0;
  context.mftRunListIncomplete = false;
  context.mftBytesCovered = context.mftDataSize = 0;

  bool stopped = false;
  auto geometry = readNtfsGeometry(context.reader, context.parameters, context.partitionStart, context.partitionEnd);
  if (geometry) {
    auto mft = LoadMftRunList(context.reader, *geometry);
    if (!mft) {
      if (auto moved = geometryAtParameterMft(*geometry, context.parameters)) {
        mft = LoadMftRunList(context.reader, *moved);
        if (mft) geometry = *moved;
      }
    }
    if (mft && geometry->record_size > 0) {
      context.mft = std::move(*mft);
      context.mftDataSize = context.mft.data_size;
      context.mftBytesCovered = context.mft.covered_bytes;
      context.mftRunListIncomplete = !context.mft.complete;
      MftWalk walk(job, context, *geometry);
      stopped = !walk.read();
      walk.insert();
      context.tornRecords = walk.torn();
    }
  }

  const FoundEntries& entries = context.entries;
  if (stopped || entries.DirectoryCount != 0 || entries.FileCount != 0) {
    job.setPercent(100);
    job.requestStop();
    job.complete(Completion::Stopped);
    return;
  }
  job.prompter().inform(kSwitchingToExhaustiveText);
  context.exhaustiveSearch = true;
  // The scan numbers records by what it finds; the saving then reads each
  // file's record at the sector the scan stored.
  context.mft = MftRunList{};
  runNtfsExhaustiveSearch(job, context);
}

}  // namespace dravolin
