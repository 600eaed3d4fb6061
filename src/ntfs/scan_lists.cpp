#include "ntfs/scan_lists.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <string_view>

#include "common/text_encoding.h"
#include "entries/lost_directories.h"

namespace dravolin {
namespace {

// The first position given for each 64-bit key: a table of open addressing
// sized for count keys, with no allocation per key.
class FirstPositions {
 public:
  explicit FirstPositions(std::size_t count) : slots_(std::bit_ceil(2 * count + 2)) {}
  // The position stored for key; position is stored when the key is new.
  std::size_t firstOf(std::uint64_t key, std::size_t position) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (!slot.used) {
        slot = {key, position, true};
        return position;
      }
      if (slot.key == key) return slot.position;
    }
  }

 private:
  struct Slot {
    std::uint64_t key = 0;
    std::size_t position = 0;
    bool used = false;
  };
  std::vector<Slot> slots_;
};

constexpr const char* kCountingText =
    "Step 4.1/5 :- Analysing File System. Please Wait...      File System Enumerated :- ";
constexpr const char* kInferringText =
    "Step 4.2/5 :- Analysing File System. Please Wait...      Total File Systems Enumerated :- ";
constexpr const char* kGuessTriedText =
    "Step 4.2/5 :- Analysing File System. Please Wait...      File System Enumerated :-";
constexpr const char* kGuessConfirmedText =
    "Step 4.2/5 :- Analysing File System. Please Wait...      File System Enumerated :- ";
constexpr const char* kDumpingText =
    "Step 4.3/5 :- Dumping Files/Folders information for Selected File System. Please Wait...  ";

int percentOf(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return 100;
  return static_cast<int>(std::min<std::uint64_t>(100, part * 100 / whole));
}

EntryTimes entryTimes(const NtfsTimes& t) {
  auto low = [](std::uint64_t v) { return static_cast<std::uint32_t>(v); };
  auto high = [](std::uint64_t v) { return static_cast<std::uint32_t>(v >> 32); };
  return {low(t.modification), high(t.modification), low(t.creation), high(t.creation), low(t.access),
          high(t.access)};
}

// NTFS raises a record's sequence number when it frees the record, skipping 0.
std::uint16_t nextSequence(std::uint16_t sequence) {
  const std::uint16_t next = static_cast<std::uint16_t>(sequence + 1);
  return next == 0 ? 1 : next;
}

void hashCombine(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2);
}

}  // namespace

std::optional<std::uint64_t> systemFileNumber(std::u16string_view name) {
  static constexpr std::array<std::pair<std::u16string_view, std::uint64_t>, 11> kSystemFiles{{
      {u"$MFT", 0}, {u"$MFTMirr", 1}, {u"$LogFile", 2}, {u"$Volume", 3}, {u"$AttrDef", 4}, {u"$Bitmap", 6},
      {u"$Boot", 7}, {u"$BadClus", 8}, {u"$Secure", 9}, {u"$UpCase", 10}, {u"$Extend", 11},
  }};
  for (const auto& [system, number] : kSystemFiles)
    if (system == name) return number;
  return std::nullopt;
}

// ---------------------------------------------------------------------------

std::size_t FolderNumbersFromIndex::KeyHash::operator()(const Key& k) const {
  std::size_t seed = std::hash<std::u16string>{}(k.name);
  hashCombine(seed, std::hash<std::uint64_t>{}(k.creation));
  hashCombine(seed, std::hash<std::uint64_t>{}(k.parent));
  return seed;
}

FolderNumbersFromIndex::FolderNumbersFromIndex(std::vector<NtfsFolderEntry>& folders) : folders_(folders) {
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    const NtfsFolderEntry& folder = folders_[i];
    if (folder.numberKnown) continue;
    byKey_[Key{folder.times.creation, folder.parent.record_number, folder.name}].folders.push_back(i);
    ++waiting_;
  }
}

void FolderNumbersFromIndex::apply(const IndexEntries& node) {
  if (waiting_ == 0) return;
  for (const IndexEntry& entry : node.entries) {
    if (!entry.file_name || !entry.file_name->isDirectory()) continue;
    const FileName& name = *entry.file_name;
    auto it = byKey_.find(Key{name.creation_time, name.parent.record_number, name.name});
    if (it == byKey_.end()) continue;
    Bucket& bucket = it->second;
    while (bucket.next < bucket.folders.size() && folders_[bucket.folders[bucket.next]].numberKnown) ++bucket.next;
    if (bucket.next == bucket.folders.size()) continue;
    NtfsFolderEntry& folder = folders_[bucket.folders[bucket.next++]];
    folder.ownNumber = entry.file_reference.record_number;
    folder.numberKnown = true;
    --waiting_;
  }
}

// ---------------------------------------------------------------------------

void numberByPosition(NtfsScanLists& lists, Job* job) {
  // Every record that takes a place in the MFT, in disk order. Each list is
  // already in disk order; a stable sort merges them.
  enum class Kind : std::uint8_t { Folder, File, Unlisted };
  struct Slot {
    SectorNumber sector;
    Kind kind;
    std::size_t index;
  };
  std::vector<Slot> slots;
  slots.reserve(lists.folders.size() + lists.files.size() + lists.unlisted.size());
  for (std::size_t i = 0; i < lists.folders.size(); ++i) slots.push_back({lists.folders[i].recordSector, Kind::Folder, i});
  for (std::size_t i = 0; i < lists.files.size(); ++i) slots.push_back({lists.files[i].recordSector, Kind::File, i});
  for (std::size_t i = 0; i < lists.unlisted.size(); ++i)
    slots.push_back({lists.unlisted[i].recordSector, Kind::Unlisted, i});
  std::stable_sort(slots.begin(), slots.end(), [](const Slot& a, const Slot& b) { return a.sector < b.sector; });

  const std::uint64_t total = lists.folders.size() + lists.files.size() + lists.indexBuffers.size();
  std::uint64_t running = 1;
  std::uint64_t steps = 0;
  auto take = [&running](std::uint64_t& number, bool& known) {
    if (!known) {
      number = running + 1;
      known = true;
    }
    running = number;
  };
  for (const Slot& slot : slots) {
    switch (slot.kind) {
      case Kind::Folder: {
        NtfsFolderEntry& folder = lists.folders[slot.index];
        take(folder.ownNumber, folder.numberKnown);
        break;
      }
      case Kind::File: {
        NtfsFileEntry& file = lists.files[slot.index];
        take(file.ownNumber, file.numberKnown);
        break;
      }
      case Kind::Unlisted: {
        NtfsUnlistedRecord& record = lists.unlisted[slot.index];
        if (!record.ownNumber) record.ownNumber = running + 1;
        running = *record.ownNumber;
        break;
      }
    }
    if (job && slot.kind != Kind::Unlisted && (++steps & 1023) == 0) job->setPercent(percentOf(steps, total));
  }
  if (job) job->setPercent(percentOf(steps, total));
}

namespace {

template <typename Entry>
void takeNameFromExtensions(Entry& entry, const NtfsScanLists& lists) {
  if (!entry.name.empty() || !entry.numberKnown) return;
  auto it = lists.extentNames.find(entry.ownNumber);
  if (it == lists.extentNames.end()) return;
  std::vector<FileName> names;
  for (const auto& extent : it->second)
    if (referenceNamesRecord(extent.baseSequence, entry.sequenceNumber, !entry.deleted)) names.push_back(extent.name);
  auto best = chooseFileName(names);
  if (!best) return;
  entry.name = best->name;
  entry.parent = best->parent;
  if (entry.times.creation == 0 && entry.times.modification == 0)
    entry.times = {best->modification_time, best->creation_time, best->access_time};
}

}  // namespace

void takeNamesFromExtensions(NtfsScanLists& lists) {
  if (lists.extentNames.empty()) return;
  for (NtfsFolderEntry& folder : lists.folders) takeNameFromExtensions(folder, lists);
  for (NtfsFileEntry& file : lists.files) takeNameFromExtensions(file, lists);
}

std::vector<IndexBufferEntry> firstIndexBuffers(const std::vector<IndexBufferEntry>& buffers) {
  std::vector<IndexBufferEntry> first;
  for (const IndexBufferEntry& buffer : buffers)
    if (buffer.vcn == 0) first.push_back(buffer);
  return first;
}

// ---------------------------------------------------------------------------

std::optional<NtfsLayout> guessNtfsLayout(SectorNumber h, std::uint64_t t, SectorNumber o, std::uint64_t m) {
  if (o == 0 || o == h || m == t) return std::nullopt;
  std::uint64_t k = 0;
  if (m < t) {
    if (h < o || (h - o) % (t - m) != 0) return std::nullopt;
    k = (h - o) / (t - m);
  } else {
    if (o < h || (o - h) % (m - t) != 0) return std::nullopt;
    k = (o - h) / (m - t);
  }
  if (k == 0 || k > 128 || (k & (k - 1)) != 0) return std::nullopt;
  if (t > h / k) return std::nullopt;  // the start would lie before sector 0
  return NtfsLayout{h - t * k, k};
}

NtfsLayoutAnalysis::NtfsLayoutAnalysis(std::vector<NtfsFolderEntry>& folders,
                                       std::vector<IndexBufferEntry> firstBuffers, IndexBufferProbe probe, Job* job)
    : folders_(folders), firstBuffers_(std::move(firstBuffers)), probe_(std::move(probe)), job_(job) {
  for (std::size_t i = 0; i < firstBuffers_.size(); ++i) {
    bufferBySector_.emplace(firstBuffers_[i].sector, i);
    buffersByOwner_[firstBuffers_[i].owner].push_back(i);
  }
}

void NtfsLayoutAnalysis::statusCounting() {
  if (job_) job_->setStatus(kCountingText + std::to_string(fileSystems_.size()));
}

bool NtfsLayoutAnalysis::CheckNtfsLayout(SectorNumber start, std::uint64_t sectorsPerCluster, SectorNumber end) {
  statusCounting();
  if (sectorsPerCluster == 0 || end <= start) return false;
  const auto number = static_cast<std::uint32_t>(fileSystems_.size() + 1);
  bool confirmed = false;
  std::uint64_t examined = 0;
  lastConfirmed_.clear();
  lastClaimed_.clear();
  for (std::size_t index = 0; index < folders_.size(); ++index) {
    NtfsFolderEntry& folder = folders_[index];
    if (folder.recordSector <= start || folder.recordSector >= end) continue;
    if (folder.fileSystem != 0 || folder.indexAllocationCluster == 0) continue;
    ++examined;
    const std::uint64_t cluster = folder.indexAllocationCluster;
    // A buffer that would lie past the end (or past 2^64) confirms nothing.
    if (cluster <= (end - start - 1) / sectorsPerCluster) {
      const SectorNumber sector = start + cluster * sectorsPerCluster;
      if (probe_(sector)) {
        folder.fileSystem = number;
        confirmed = true;
        lastConfirmed_.push_back(index);
        if (auto it = bufferBySector_.find(sector); it != bufferBySector_.end() && !firstBuffers_[it->second].claimed) {
          firstBuffers_[it->second].claimed = true;
          lastClaimed_.push_back(it->second);
        }
      }
    }
    if (job_ && (examined & 255) == 0) job_->setPercent(percentOf(examined, folders_.size()));
  }
  if (job_) job_->setPercent(percentOf(examined, folders_.size()));
  return confirmed;
}

void NtfsLayoutAnalysis::checkKnownLayout(SectorNumber start, std::uint64_t sectorsPerCluster, SectorNumber end) {
  if (CheckNtfsLayout(start, sectorsPerCluster, end)) fileSystems_.push_back({start, sectorsPerCluster});
}

std::optional<std::size_t> NtfsLayoutAnalysis::firstUnclaimedBuffer(std::uint64_t owner) {
  auto it = buffersByOwner_.find(owner);
  if (it == buffersByOwner_.end()) return std::nullopt;
  // Claims are never undone, so the cursor only moves forward.
  std::size_t& cursor = ownerCursor_[owner];
  while (cursor < it->second.size() && firstBuffers_[it->second[cursor]].claimed) ++cursor;
  if (cursor == it->second.size()) return std::nullopt;
  return it->second[cursor];
}

void NtfsLayoutAnalysis::inferLayouts(SectorNumber end) {
  if (job_) job_->setStatus(kInferringText + std::to_string(fileSystems_.size()));
  // Only folders with an index allocation take part; the pairs are taken in
  // list order.
  std::vector<std::size_t> candidates;
  for (std::size_t i = 0; i < folders_.size(); ++i)
    if (folders_[i].indexAllocationCluster != 0) candidates.push_back(i);
  std::uint64_t done = 0;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    NtfsFolderEntry& first = folders_[candidates[c]];
    if (first.fileSystem != 0) continue;
    const auto firstBuffer = firstUnclaimedBuffer(first.ownNumber);
    if (!firstBuffer) {
      first.fileSystem = kNtfsNoFileSystem;
      continue;
    }
    const SectorNumber h = firstBuffers_[*firstBuffer].sector;
    for (std::size_t d = c + 1; d < candidates.size() && first.fileSystem == 0; ++d) {
      const NtfsFolderEntry& second = folders_[candidates[d]];
      if (second.fileSystem != 0) continue;
      const auto secondBuffer = firstUnclaimedBuffer(second.ownNumber);
      if (!secondBuffer) continue;
      const auto guess =
          guessNtfsLayout(h, first.indexAllocationCluster, firstBuffers_[*secondBuffer].sector,
                          second.indexAllocationCluster);
      if (!guess || guess->start >= end) continue;
      // A guess that confirmed nothing never will (folders only leave the
      // unassigned set), and one that did has nothing left to confirm.
      if (!triedGuesses_.emplace(guess->start, guess->sectorsPerCluster).second) continue;
      bool confirmed = CheckNtfsLayout(guess->start, guess->sectorsPerCluster, end);
      if (confirmed && lastConfirmed_.size() == 1 && lastConfirmed_.front() == candidates[c]) {
        // Only the folder that made the guess fits it: no volume. Its
        // buffers were placed there by the guess itself.
        folders_[candidates[c]].fileSystem = 0;
        for (std::size_t claimed : lastClaimed_) firstBuffers_[claimed].claimed = false;
        ownerCursor_.clear();
        confirmed = false;
      }
      if (job_) job_->setStatus(kGuessTriedText + std::to_string(fileSystems_.size()));
      if (confirmed) {
        fileSystems_.push_back(*guess);
        if (job_) job_->setStatus(kGuessConfirmedText + std::to_string(fileSystems_.size()));
        break;
      }
    }
    ++done;
    if (job_) job_->setPercent(percentOf(done, folders_.size()));
  }
}

void NtfsLayoutAnalysis::close() {
  std::uint32_t previous = 1;
  for (NtfsFolderEntry& folder : folders_) {
    if (folder.fileSystem == 0 || folder.fileSystem == kNtfsNoFileSystem) folder.fileSystem = previous;
    previous = folder.fileSystem;
  }
}

// ---------------------------------------------------------------------------

void assembleNtfsResults(FoundEntries& entries, NtfsScanLists& lists, std::uint16_t partition, Job* job) {
  if (job) job->setStatus(kDumpingText);
  const std::uint64_t total = lists.folders.size() + lists.files.size();

  // The folder records found for each number, to check references.
  struct FolderRecord {
    std::uint16_t sequence;
    bool deleted;
  };
  std::unordered_map<std::uint64_t, std::vector<FolderRecord>> folderRecords;
  for (const NtfsFolderEntry& folder : lists.folders)
    if (folder.numberKnown) folderRecords[folder.ownNumber].push_back({folder.sequenceNumber, folder.deleted});
  // A reference names its parent when a folder record of that number carries
  // the sequence number of the reference, or carried it before it was freed
  // (freeing raises the number by one). Sequence 0 is not checked.
  auto parentIdOf = [&](const FileReference& parent) -> std::uint32_t {
    if (parent.record_number == kNtfsRootId) return kNtfsRootId;
    auto it = folderRecords.find(parent.record_number);
    if (it == folderRecords.end() || parent.record_number > 0xFFFFFFFFull) return kLostId;
    if (parent.sequence_number == 0) return static_cast<std::uint32_t>(parent.record_number);
    for (const FolderRecord& record : it->second) {
      if (record.sequence == parent.sequence_number ||
          (record.deleted && record.sequence == nextSequence(parent.sequence_number)))
        return static_cast<std::uint32_t>(parent.record_number);
    }
    return kLostId;
  };
  auto ensureLost = [&] {
    if (entries.findDirectory(kLostId, partition) < 0)
      entries.AddDirectoryNode("", u"Lost", false, kNtfsRootId, kLostId, 0, EntryTimes{}, partition);
  };
  std::uint64_t counted = 0;
  // The report is sent for every 256th entry and after the last of each
  // list; what it shows is what the lists hold at that moment.
  auto report = [&](const std::u16string& name, bool last) {
    ++counted;
    if (!job || ((counted & 255) != 0 && !last)) return;
    job->updateStatistics({entries.TotalSize, entries.DirectoryCount, entries.FileCount, utf16ToUtf8(name),
                           StatisticsFormat::Size, lists.tornRecords});
    job->setPercent(percentOf(counted, total));
    job->checkpoint();
  };

  // "Lost" is shown only when it holds something; it comes before the
  // folders when one of them goes there (files and folders moved there later
  // add it when they do).
  if (std::any_of(lists.folders.begin(), lists.folders.end(), [&](const NtfsFolderEntry& folder) {
        return folder.ownNumber != kNtfsRootId && folder.ownNumber <= 0xFFFFFFFFull &&
               parentIdOf(folder.parent) == kLostId;
      }))
    ensureLost();
  for (std::size_t i = 0; i < lists.folders.size(); ++i) {
    NtfsFolderEntry& folder = lists.folders[i];
    if (job && job->stopRequested()) break;
    if (folder.ownNumber != kNtfsRootId && folder.ownNumber <= 0xFFFFFFFFull) {
      if (folder.name.empty()) folder.name = namelessRecordName(folder.ownNumber, true);
      entries.AddDirectoryNode("", folder.name, folder.deleted, parentIdOf(folder.parent),
                               static_cast<std::uint32_t>(folder.ownNumber), folder.recordSector,
                               entryTimes(folder.times), partition);
    }
    report(folder.name, i + 1 == lists.folders.size());
  }
  if (job) job->clearStopRequest();

  // Copies of one record (the same number, sequence, parent and name: the
  // $MFTMirr copies of the first records) are listed once. They are found
  // first, so that the names can then be handed over without a copy.
  std::vector<bool> copies(lists.files.size(), false);
  {
    FirstPositions firstByKey(lists.files.size());
    for (std::size_t i = 0; i < lists.files.size(); ++i) {
      const NtfsFileEntry& file = lists.files[i];
      const std::size_t first = firstByKey.firstOf((file.ownNumber << 16) | file.sequenceNumber, i);
      if (first == i) continue;
      const NtfsFileEntry& original = lists.files[first];
      copies[i] = original.ownNumber == file.ownNumber && original.parent == file.parent && original.name == file.name;
    }
  }
  entries.FileList.reserve(entries.FileList.size() + lists.files.size());
  for (std::size_t i = 0; i < lists.files.size(); ++i) {
    NtfsFileEntry& file = lists.files[i];
    if (job && job->stopRequested()) break;
    const bool last = i + 1 == lists.files.size();
    if (file.ownNumber <= 0xFFFFFFFFull && !copies[i]) {
      std::uint64_t size = file.size;
      if (!file.hasData) {
        if (auto it = lists.extentSizes.find(file.ownNumber); it != lists.extentSizes.end()) size = it->second;
      }
      const std::uint32_t parentId = parentIdOf(file.parent);
      if (parentId == kLostId) ensureLost();
      if (file.name.empty()) file.name = namelessRecordName(file.ownNumber, false);
      const std::size_t added =
          entries.AddFileNode({}, std::move(file.name), file.deleted, size, parentId,
                              static_cast<std::uint32_t>(file.ownNumber), file.recordSector, entryTimes(file.times));
      entries.TotalSize += size;
      report(entries.FileList[added].wideName, last);
    } else {
      report(file.name, last);
    }
  }
  if (job) job->clearStopRequest();
  lists.folders.clear();
  lists.files.clear();
  reattachLostDirectories(entries, kNtfsRootId, partition, job);
}

}  // namespace dravolin
