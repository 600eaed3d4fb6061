#include "results/lost_partition_search.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <deque>
#include <limits>
#include <set>

#include "exfat/lost_volume.h"
#include "common/text_encoding.h"
#include "disk/read_ahead.h"
#include "entries/lost_directories.h"
#include "fat/boot_sector.h"
#include "fat/directory_entry.h"
#include "ntfs/ntfs_search.h"
#include "partition/volume_boot_record.h"
#include "partition/volume_check.h"

namespace dravolin {
namespace {

constexpr const char* kScanText = "Step 1/5 :- Searching Boot Sector/Sub-Directories. Please Wait...";
constexpr const char* kPhase1Text = "Step 2/5 :- Analysing File System(Phase 1). Please Wait...  ";
constexpr const char* kPhase2Text = "Step 3/5 :- Analysing File System(Phase 2). Please Wait...  ";
constexpr const char* kFatFormText = "Step 4/5 :- Dumping Folders information for Selected File System. Please Wait...  ";

// Sectors per read of the scan (the NTFS scan reads its own chunks).
constexpr std::uint32_t kScanSectors = 1000;
// The read-ahead ring of the scan: 8 blocks of one chunk each.
constexpr std::size_t kScanBlocks = 8;
// Clusters FAT12 and FAT16 address at most.
constexpr std::uint64_t kFat12MaxClusters = 4085;
constexpr std::uint64_t kFat16MaxClusters = 65525;
// The largest cluster number a FAT16 volume has.
constexpr std::uint32_t kFat16LargestCluster = 65524;
// Sectors of FAT12 and FAT16 FATs at most (4,086 entries of 1.5 bytes;
// 65,527 entries of 2 bytes).
constexpr std::uint32_t kFat12MaxFatSectors = 12;
constexpr std::uint32_t kFat32MinFatSectors = 512;
// Sectors compared between the two copies of a FAT.
constexpr std::uint32_t kFatCompareSectors = 64;
// Root directories of FAT12/16 above this many sectors (65,536 entries) do not exist.
constexpr std::uint64_t kMaxRootSectors = 4096;

constexpr std::array<std::uint32_t, 8> kClusterSizes{1, 2, 4, 8, 16, 32, 64, 128};

int percentOf(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return 100;
  return static_cast<int>(std::min<std::uint64_t>(100, part * 100 / whole));
}

bool isMediaByte(std::uint8_t b) { return b == 0xF0 || b >= 0xF8; }

// A FAT's first sector: the media byte, then FF FF.
bool beginsFat(ByteSpan sector) {
  return sector.size() >= 3 && isMediaByte(readU8(sector, 0)) && readU8(sector, 1) == 0xFF &&
         readU8(sector, 2) == 0xFF;
}

// Key of a (cluster size, cluster base) pair in the indexes.
std::uint64_t layoutKey(std::uint32_t sectorsPerCluster, SectorNumber clusterBase) {
  // Cluster sizes are powers of two up to 128: three bits below the base
  // would not do, so the size's bit position takes the top byte. Bases stay
  // below 2^56 (disks of 32 EiB).
  const auto bit = static_cast<std::uint64_t>(std::countr_zero(sectorsPerCluster));
  return (bit << 56) | (clusterBase & ((std::uint64_t{1} << 56) - 1));
}

}  // namespace

// ---------------------------------------------------------------------------

FoundFileSystem FatBootCandidate::toFoundFileSystem() const {
  FoundFileSystem entry;
  entry.name = name;
  entry.sectorsPerCluster = sectorsPerCluster;
  entry.startSector = bootSector;
  entry.endSector = endSector;
  entry.sectorsPerFat = sectorsPerFat;
  entry.rootDirSectors = rootDirSectors;
  entry.reservedSectors = reservedSectors;
  entry.rootStart = name == "FAT32" ? rootStart : static_cast<std::uint32_t>(0);
  entry.clusterBase = clusterBase;
  entry.firstFatSector = firstFat;
  entry.secondFatSector = secondFat;
  if (name != "FAT32") {
    // The found list holds the root's absolute sector for FAT12/16 in 32
    // bits; beyond that it keeps 0 and the root is placed from the FATs.
    const SectorNumber root = firstFat + std::uint64_t{sectorsPerFat} * (secondFat != 0 ? 2 : 1);
    entry.rootStart = root <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(root) : 0;
  }
  return entry;
}

std::optional<FatBootCandidate> readFatBootCandidate(ByteSpan sector, SectorNumber at, std::uint32_t diskSectorBytes) {
  if (!hasBootSectorSignature(sector)) return std::nullopt;
  // An NTFS boot sector carries a BPB too; its OEM name tells it apart.
  if (const auto record = parseVolumeBootRecord(sector); record && record->oemId.starts_with("NTFS")) return std::nullopt;
  auto boot = parseFatBootSector(sector);
  if (!boot) return std::nullopt;
  // A volume made for the disk's larger sectors starts on one of them.
  const bool diskSized = boot->bytesPerSector == diskSectorBytes && diskSectorBytes > kSectorSize &&
                         at % boot->unitsPerSector == 0;
  if ((boot->bytesPerSector != kSectorSize && !diskSized) || boot->reservedSectors == 0 || boot->numberOfFats == 0 ||
      boot->numberOfFats > 2 || !isMediaByte(boot->mediaDescriptor))
    return std::nullopt;
  const bool fat32 = boot->fatSectors16 == 0;
  const std::uint64_t fatSectors = fat32 ? boot->fatSectors32 : boot->fatSectors16;
  if (fatSectors == 0 || fatSectors > 0xFFFFFFFFull) return std::nullopt;
  if (fat32 && (boot->rootEntries != 0 || boot->rootCluster < 2)) return std::nullopt;
  if (!fat32 && boot->rootEntries == 0) return std::nullopt;
  const std::uint64_t total = boot->smallSectorCount != 0 ? boot->smallSectorCount : boot->largeSectorCount;
  const std::uint64_t rootSectors = fat32                       ? 0
                                    : boot->unitsPerSector > 1 ? boot->rootDirectorySectors()
                                                               : (std::uint64_t{boot->rootEntries} * 32 + kSectorSize - 1) / kSectorSize;
  const std::uint64_t overhead = boot->reservedSectors + boot->numberOfFats * fatSectors + rootSectors;
  if (total <= overhead) return std::nullopt;
  const std::uint64_t clusters = (total - overhead) / boot->sectorsPerCluster;
  if (clusters == 0) return std::nullopt;

  FatBootCandidate c;
  c.bootSector = at;
  c.sectorsPerFat = static_cast<std::uint32_t>(fatSectors);
  c.sectorsPerCluster = boot->sectorsPerCluster;
  c.rootDirSectors = static_cast<std::uint32_t>(rootSectors);
  c.reservedSectors = boot->reservedSectors;
  c.firstFat = at + boot->reservedSectors;
  c.secondFat = boot->numberOfFats >= 2 ? c.firstFat + fatSectors : 0;
  c.endSector = at + total;
  c.mediaDescriptor = boot->mediaDescriptor;
  const SectorNumber dataStart = c.firstFat + boot->numberOfFats * fatSectors + rootSectors;
  // Cluster 2 is the first of the data area.
  if (dataStart < 2u * c.sectorsPerCluster) return std::nullopt;
  c.clusterBase = dataStart - 2u * c.sectorsPerCluster;
  if (fat32) {
    c.name = "FAT32";
    c.rootStart = boot->rootCluster;
    c.backupBootSector = static_cast<std::uint16_t>(std::min<std::uint32_t>(boot->backupBootSector, 0xFFFF));
  } else {
    c.name = clusters < kFat12MaxClusters ? "FAT12" : "FAT16";
    c.rootStart = static_cast<std::uint32_t>(boot->reservedSectors + boot->numberOfFats * fatSectors);
  }
  (void)kFat16MaxClusters;
  return c;
}

std::optional<FatBootCandidate> primaryOfBackup(const FatBootCandidate& backup) {
  if (backup.name != "FAT32" || backup.backupBootSector == 0 || backup.bootSector < backup.backupBootSector)
    return std::nullopt;
  const SectorNumber shift = backup.backupBootSector;
  if (backup.clusterBase < shift || backup.firstFat < shift || backup.endSector < shift) return std::nullopt;
  FatBootCandidate primary = backup;
  primary.bootSector -= shift;
  primary.firstFat -= shift;
  if (primary.secondFat != 0) primary.secondFat -= shift;
  primary.clusterBase -= shift;
  primary.endSector -= shift;
  primary.fromBackup = true;
  return primary;
}

bool beginsDirectoryStart(ByteSpan sector) {
  return sector.size() >= 64 && readU8(sector, 0) == '.' && readU8(sector, 1) == ' ' && readU8(sector, 32) == '.' &&
         readU8(sector, 33) == '.' && readU8(sector, 34) == ' ';
}

DirectoryStartRecord readDirectoryStart(ByteSpan sector, SectorNumber at) {
  DirectoryStartRecord record;
  const DirectoryEntry dot = decodeDirectoryEntry(sector);
  record.ownCluster = makeClusterNumber(sector);
  record.parentCluster = makeClusterNumber(sector.subspan(kDirectoryEntrySize));
  record.sector = at;
  record.size = dot.size;
  record.times = dot.times();
  return record;
}

// ---------------------------------------------------------------------------

void confirmBootCandidates(const std::vector<FatBootCandidate>& candidates, std::vector<DirectoryStartRecord>& records,
                           FoundFileSystems& found, const FatPairProbe& fatPair, Job* job) {
  if (job) job->setStatus(kPhase1Text);
  // The records each candidate's layout could hold, in list order.
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> byLayout;
  for (const FatBootCandidate& c : candidates) byLayout.emplace(layoutKey(c.sectorsPerCluster, c.clusterBase), std::vector<std::size_t>{});
  for (std::size_t i = 0; i < records.size(); ++i) {
    const DirectoryStartRecord& r = records[i];
    for (std::uint32_t k : kClusterSizes) {
      const std::uint64_t offset = std::uint64_t{r.ownCluster} * k;
      if (offset > r.sector) break;
      if (auto it = byLayout.find(layoutKey(k, r.sector - offset)); it != byLayout.end()) it->second.push_back(i);
    }
  }
  // Boot sectors of the volumes listed: a copy of one (the FAT32 backup seen
  // as its own volume, or the primary it stands for) confirms nothing new.
  std::set<std::pair<SectorNumber, SectorNumber>> listed;
  std::set<SectorNumber> listedBoots;
  for (std::size_t x = 0; x < candidates.size(); ++x) {
    const FatBootCandidate& c = candidates[x];
    if (listed.count({c.bootSector, c.clusterBase}) != 0) continue;
    // The backup copy of a volume already listed.
    if (c.backupBootSector != 0 && c.bootSector >= c.backupBootSector &&
        listedBoots.count(c.bootSector - c.backupBootSector) != 0)
      continue;
    std::uint32_t ordinal = 0;
    for (std::size_t i : byLayout[layoutKey(c.sectorsPerCluster, c.clusterBase)]) {
      DirectoryStartRecord& r = records[i];
      if (r.fileSystem != 0 || r.sector < c.clusterBase || r.sector > c.endSector) continue;
      if (r.ownCluster < 2) continue;  // cluster 0 and 1 are no clusters of the data area
      if (ordinal == 0) {
        found.push_back(c.toFoundFileSystem());
        ordinal = static_cast<std::uint32_t>(found.size());
        listed.insert({c.bootSector, c.clusterBase});
        listedBoots.insert(c.bootSector);
      }
      r.fileSystem = static_cast<std::int32_t>(ordinal);
      if (job && job->stopRequested()) break;
    }
    if (ordinal == 0 && fatPair && fatPair(c)) {
      // A volume with files only in its root has no directory to confirm it.
      found.push_back(c.toFoundFileSystem());
      listed.insert({c.bootSector, c.clusterBase});
      listedBoots.insert(c.bootSector);
    }
    if (job) {
      job->setPercent(percentOf(x + 1, candidates.size()));
      job->checkpoint();
    }
  }
}

void inferFatFileSystems(std::vector<DirectoryStartRecord>& records, FoundFileSystems& found, Job* job) {
  if (job) job->setStatus(kPhase2Text);
  // Every record under each (cluster size, cluster base) it could belong to,
  // in list order.
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> byLayout;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const DirectoryStartRecord& r = records[i];
    for (std::uint32_t k : kClusterSizes) {
      const std::uint64_t offset = std::uint64_t{r.ownCluster} * k;
      if (offset >= r.sector) break;  // the base must lie above sector 0
      byLayout[layoutKey(k, r.sector - offset)].push_back(i);
    }
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    DirectoryStartRecord& p = records[i];
    if (p.fileSystem != 0) continue;
    const std::uint64_t o = p.ownCluster;
    const SectorNumber t = p.sector;
    std::size_t partner = records.size();
    std::uint32_t partnerSize = 0;
    for (std::uint32_t k : kClusterSizes) {
      if (o * k >= t) break;
      auto it = byLayout.find(layoutKey(k, t - o * k));
      if (it == byLayout.end()) continue;
      const auto& list = it->second;
      for (auto at = std::upper_bound(list.begin(), list.end(), i); at != list.end() && *at < partner; ++at) {
        const DirectoryStartRecord& q = records[*at];
        const std::uint64_t v = q.ownCluster;
        const SectorNumber u = q.sector;
        // The second record of a pair is one no volume holds yet.
        if (q.fileSystem != 0 || v <= o || u <= t || v >= u || v >= t) continue;
        partner = *at;
        partnerSize = k;
        break;
      }
    }
    if (partner == records.size()) {
      p.fileSystem = kUnmatchedDirectory;
    } else {
      const std::uint32_t k = partnerSize;
      const SectorNumber base = t - o * k;
      FoundFileSystem entry;
      entry.sectorsPerCluster = k;
      entry.clusterBase = base;
      found.push_back(entry);
      const auto ordinal = static_cast<std::int32_t>(found.size());
      std::uint32_t largest = records[partner].ownCluster;
      p.fileSystem = ordinal;
      records[partner].fileSystem = ordinal;
      for (std::size_t index : byLayout[layoutKey(k, base)]) {
        DirectoryStartRecord& r = records[index];
        if (r.fileSystem != 0) continue;
        r.fileSystem = ordinal;
        largest = std::max(largest, r.ownCluster);
      }
      found.back().name = largest > kFat16LargestCluster ? "FAT32" : "FAT16";
    }
    if (job) {
      job->setPercent(percentOf(i + 1, records.size()));
      job->checkpoint();
      if (job->stopRequested()) break;
    }
  }
}

// ---------------------------------------------------------------------------

namespace {

bool locateFatsIn(FoundFileSystem& entry, std::uint64_t window, const SectorProbe& read, const SectorSweep& sweep) {
  const SectorNumber base = entry.clusterBase;
  const std::uint64_t k = entry.sectorsPerCluster;
  const SectorNumber dataStart = base + 2 * k;
  const SectorNumber first = dataStart > window ? dataStart - window : 1;
  // The pair nearest the data area wins: only the nearest few thousand
  // FAT-like sectors take part (pairs are quadratic), and only those are
  // kept while the window is swept upwards: a FAT full of end-of-chain
  // entries would otherwise keep every one of its sectors.
  constexpr std::size_t kMaxFatStarts = 4096;
  struct FatStart {
    SectorNumber sector;
    SectorBuffer bytes;
  };
  std::deque<FatStart> starts;
  auto take = [&](SectorNumber s, ByteSpan sector) {
    if (sector.size() < kSectorSize || !beginsFat(sector)) return;
    if (starts.size() == kMaxFatStarts) starts.pop_front();
    FatStart& start = starts.emplace_back();
    start.sector = s;
    std::memcpy(start.bytes.data(), sector.data(), kSectorSize);
  };
  if (first < dataStart) {
    if (sweep) {
      sweep(first, dataStart, take);
    } else {
      for (SectorNumber s = first; s < dataStart; ++s)
        if (auto sector = read(s)) take(s, *sector);
    }
  }
  // Walk from the top.
  for (std::size_t j = starts.size(); j-- > 1;) {
    const SectorNumber second = starts[j].sector;
    for (std::size_t i = j; i-- > 0;) {
      const SectorNumber firstFat = starts[i].sector;
      const std::uint64_t fatSize = second - firstFat;
      if (second + fatSize > dataStart) continue;
      const std::uint64_t rootSectors = dataStart - (second + fatSize);
      const bool fat32Layout = rootSectors == 0;
      if (!fat32Layout && rootSectors > kMaxRootSectors) continue;
      if (starts[i].bytes != starts[j].bytes) continue;
      // The two copies agree over their first sectors.
      bool identical = true;
      const std::uint64_t compare = std::min<std::uint64_t>(fatSize, kFatCompareSectors);
      for (std::uint64_t n = 1; n < compare && identical; ++n) {
        auto a = read(firstFat + n);
        auto b = read(second + n);
        identical = a && b && *a == *b;
      }
      if (!identical) continue;
      const SectorBuffer& head = starts[i].bytes;
      std::string name;
      if (fat32Layout) {
        if (fatSize < kFat32MinFatSectors || readU8(head, 3) > 0x0F) continue;
        name = "FAT32";
      } else {
        name = fatSize <= kFat12MaxFatSectors ? "FAT12" : "FAT16";
      }
      if (fatSize > 0xFFFFFFFFull || second > std::numeric_limits<std::uint64_t>::max() / 2) continue;
      entry.name = name;
      entry.firstFatSector = firstFat;
      entry.secondFatSector = second;
      entry.sectorsPerFat = static_cast<std::uint32_t>(fatSize);
      if (fat32Layout) {
        entry.rootStart = 2;
        entry.rootDirSectors = 0;
      } else {
        const SectorNumber root = second + fatSize;
        entry.rootStart = root <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(root) : 0;
        entry.rootDirSectors = static_cast<std::uint32_t>(rootSectors);
      }
      return true;
    }
  }
  return false;
}

}  // namespace

bool locateFats(FoundFileSystem& entry, std::uint32_t largestCluster, const SectorProbe& read,
                const SectorSweep& sweep) {
  if (entry.sectorsPerCluster == 0 || entry.clusterBase == 0) return false;
  // FAT32 FATs hold 4 bytes per cluster: the window covers two of them for
  // the largest cluster seen, at least 30,000 sectors; FAT12/16 FATs and
  // root fit in 550. A volume named by its clusters FAT16 may still be a
  // FAT32 one whose directories all have low clusters: the larger window
  // is tried after the small one.
  const std::uint64_t fatSectors = (std::uint64_t{largestCluster} + 2) * 4 / kSectorSize + 1;
  const std::uint64_t fat32Window = std::clamp<std::uint64_t>(2 * fatSectors + 64, 30000, std::uint64_t{1} << 22);
  if (entry.name == "FAT32") return locateFatsIn(entry, fat32Window, read, sweep);
  return locateFatsIn(entry, 550, read, sweep) || locateFatsIn(entry, fat32Window, read, sweep);
}

bool isFatName(const std::string& name) { return name == "FAT12" || name == "FAT16" || name == "FAT32"; }
bool isInferred(const FoundFileSystem& entry) { return entry.startSector == 0 && entry.endSector == 0; }
bool fatNotLocated(const FoundFileSystem& entry) { return isFatName(entry.name) && entry.firstFatSector == 0; }

std::string foundFileSystemLabel(const FoundFileSystems& found, std::size_t index) {
  return "File System " + std::to_string(index + 1) + " - " + found.at(index).name;
}

// ---------------------------------------------------------------------------

namespace {

// The NTFS volumes of a found list by start; a record belongs to the volume
// with the greatest start at or below it whose end lies above it (volumes
// inferred from index buffers reach the end of the range and so hold later
// volumes).
class NtfsVolumeRanges {
 public:
  explicit NtfsVolumeRanges(const FoundFileSystems& found) {
    for (std::size_t i = 0; i < found.size(); ++i)
      if (found[i].name == "NTFS")
        ranges_.push_back({found[i].startSector, found[i].endSector, static_cast<std::uint32_t>(i + 1)});
    std::stable_sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.start < b.start; });
  }
  // The ordinal of the volume that holds the sector; 0 when none does.
  std::uint32_t volumeOf(SectorNumber sector) const {
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), sector,
                               [](SectorNumber s, const Range& r) { return s < r.start; });
    while (it != ranges_.begin()) {
      --it;
      if (sector < it->end) return it->ordinal;
    }
    return 0;
  }

 private:
  struct Range {
    SectorNumber start, end;
    std::uint32_t ordinal;
  };
  std::vector<Range> ranges_;
};

// The FAT side of the scan: looks at every sector of each chunk.
class FatSectorScan {
 public:
  FatSectorScan(std::vector<FatBootCandidate>& candidates, std::vector<DirectoryStartRecord>& records,
                std::uint32_t diskSectorBytes)
      : candidates_(candidates), records_(records), diskSectorBytes_(diskSectorBytes) {}

  void examine(ByteSpan chunk, SectorNumber first) {
    const std::size_t count = chunk.size() / kSectorSize;
    for (std::size_t i = 0; i < count; ++i) {
      const ByteSpan sector = chunk.subspan(i * kSectorSize, kSectorSize);
      if (hasBootSectorSignature(sector)) {
        if (auto candidate = readFatBootCandidate(sector, first + i, diskSectorBytes_)) take(*candidate);
      } else if (beginsDirectoryStart(sector)) {
        records_.push_back(readDirectoryStart(sector, first + i));
      }
    }
  }

 private:
  void take(const FatBootCandidate& candidate) {
    // A FAT32 backup copy also stands for its primary, which the search for
    // lost partitions is usually run because of: the candidate at the
    // primary's place goes first, unless the primary itself was seen.
    if (auto primary = primaryOfBackup(candidate)) {
      const bool seen = std::any_of(candidates_.begin(), candidates_.end(), [&](const FatBootCandidate& c) {
        return c.bootSector == primary->bootSector && c.clusterBase == primary->clusterBase;
      });
      if (!seen) candidates_.push_back(*primary);
    }
    candidates_.push_back(candidate);
  }

  std::vector<FatBootCandidate>& candidates_;
  std::vector<DirectoryStartRecord>& records_;
  std::uint32_t diskSectorBytes_;
};

class LostSearch {
 public:
  LostSearch(Job& job, LostSearchContext& ctx) : job_(job), ctx_(ctx), fatScan_(candidates_, ctx.records.directoryStarts, ctx.reader.source().logicalSectorSize()) {}

  void run() {
    job_.clearStopRequest();
    ctx_.found.clear();
    ctx_.records.clear();
    ctx_.records.rangeStart = ctx_.rangeStart;
    ctx_.records.rangeEnd = ctx_.rangeEnd;
    const bool fat = ctx_.scope != LostSearchScope::Ntfs;
    const bool ntfs = ctx_.scope != LostSearchScope::Fat;
    NtfsLostResult ntfsResult;
    if (ntfs) {
      // One reading of the range serves both: the NTFS scan hands every
      // chunk to the FAT scan.
      FoundEntries scratch;
      MftRunList mft;
      bool exhaustive = true;
      NtfsSearchContext search{.reader = ctx_.reader,
                               .parameters = VolumeParameters{},
                               .entries = scratch,
                               .mft = mft,
                               .exhaustiveSearch = exhaustive,
                               .partitionStart = ctx_.rangeStart,
                               .partitionEnd = ctx_.rangeEnd};
      search.lostResult = &ntfsResult;
      if (fat)
        search.chunkObserver = [this](ByteSpan chunk, SectorNumber first) {
          fatScan_.examine(chunk, first);
          exfatScan_.examine(chunk, first);
        };
      if (ctx_.rangeStart < ctx_.rangeEnd) runNtfsExhaustiveSearch(job_, search);
    } else {
      scanFat();
    }
    // A stop ends the scan only; the analysis runs on what was found.
    job_.clearStopRequest();
    if (fat) analyseFat();
    if (ntfs) takeNtfs(ntfsResult);
    if (fat) takeExfat();
    job_.clearStopRequest();
    job_.complete(Completion::LostPassDone);
  }

 private:
  void scanFat() {
    job_.setStatus(kScanText);
    std::vector<std::byte> chunk(std::size_t{kScanSectors} * kSectorSize);
    // Read through the read-ahead stream: ahead on its own thread, or in place
    // for an image file whose pages are in memory.
    ReadAheadStream stream(ctx_.reader, job_, ctx_.rangeStart, ctx_.rangeEnd, kScanSectors, kScanBlocks);
    for (SectorNumber s = ctx_.rangeStart; s < ctx_.rangeEnd;) {
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kScanSectors, ctx_.rangeEnd - s));
      // What cannot be read comes back as zeros, which match nothing.
      const ByteSpan read = stream.read(s, count, chunk);
      fatScan_.examine(read, s);
      exfatScan_.examine(read, s);
      s += count;
      job_.updateStatistics({s - 1, ctx_.records.directoryStarts.size(), 0, "", StatisticsFormat::Sector, 0, count});
      job_.setPercent(percentOf(s, ctx_.rangeEnd));
      job_.checkpoint();
      if (job_.stopRequested()) return;
    }
  }

  std::optional<SectorBuffer> readOne(SectorNumber sector) {
    SectorBuffer buffer{};
    if (ctx_.reader.ReadSector(sector, 1, buffer) == 0) return std::nullopt;
    return buffer;
  }

  // Reads [first, end) once through the read-ahead stream and hands every
  // sector to visit; what cannot be read comes back as zeros.
  void sweep(SectorNumber first, SectorNumber end, const std::function<void(SectorNumber, ByteSpan)>& visit) {
    std::vector<std::byte> chunk(std::size_t{kScanSectors} * kSectorSize);
    ReadAheadStream stream(ctx_.reader, job_, first, end, kScanSectors, kScanBlocks);
    for (SectorNumber s = first; s < end;) {
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kScanSectors, end - s));
      const ByteSpan bytes = stream.read(s, count, chunk);
      for (std::uint32_t i = 0; i < count; ++i) visit(s + i, bytes.subspan(std::size_t{i} * kSectorSize, kSectorSize));
      s += count;
      job_.checkpoint();
    }
  }

  void analyseFat() {
    auto& records = ctx_.records.directoryStarts;
    confirmBootCandidates(
        candidates_, records, ctx_.found,
        [this](const FatBootCandidate& c) {
          if (c.secondFat == 0) return false;
          auto a = readOne(c.firstFat);
          auto b = readOne(c.secondFat);
          return a && b && *a == *b && readU8(*a, 0) == c.mediaDescriptor && readU8(*a, 1) == 0xFF &&
                 readU8(*a, 2) == 0xFF;
        },
        &job_);
    const std::size_t confirmed = ctx_.found.size();
    job_.clearStopRequest();
    inferFatFileSystems(records, ctx_.found, &job_);
    // The inferred volumes take their type from the FATs found below them.
    std::unordered_map<std::int32_t, std::uint32_t> largest;
    for (const DirectoryStartRecord& r : records)
      if (r.fileSystem > static_cast<std::int32_t>(confirmed)) largest[r.fileSystem] = std::max(largest[r.fileSystem], r.ownCluster);
    for (std::size_t i = confirmed; i < ctx_.found.size(); ++i) {
      FoundFileSystem& entry = ctx_.found[i];
      const auto ordinal = static_cast<std::int32_t>(i + 1);
      if (!locateFats(entry, largest[ordinal], [this](SectorNumber s) { return readOne(s); },
                      [this](SectorNumber first, SectorNumber end, const auto& visit) { sweep(first, end, visit); }))
        ctx_.notes.push_back(foundFileSystemLabel(ctx_.found, i) + " : " + kFatNotLocatedText);
      job_.checkpoint();
    }
  }

  // The NTFS layouts follow the FAT volumes in the list; every NTFS folder
  // and file takes the number of the volume that holds its record.
  void takeNtfs(NtfsLostResult& result) {
    const auto offset = static_cast<std::uint32_t>(ctx_.found.size());
    struct Range {
      SectorNumber start, end;
      std::uint32_t ordinal;
    };
    std::vector<Range> ranges;
    for (std::size_t i = 0; i < result.layouts.size(); ++i) {
      const NtfsFoundLayout& layout = result.layouts[i];
      FoundFileSystem entry;
      entry.name = "NTFS";
      entry.sectorsPerCluster = static_cast<std::uint32_t>(layout.sectorsPerCluster);
      entry.startSector = layout.start;
      entry.endSector = layout.end;
      entry.clusterBase = layout.start;
      ctx_.found.push_back(entry);
      ranges.push_back({layout.start, layout.end, offset + static_cast<std::uint32_t>(i) + 1});
    }
    const NtfsVolumeRanges volumes(ctx_.found);
    NtfsScanLists& lists = result.lists;
    for (NtfsFolderEntry& folder : lists.folders) {
      const std::uint32_t local = folder.fileSystem;
      if (local != 0 && local != kNtfsNoFileSystem && local <= ranges.size())
        folder.fileSystem = ranges[local - 1].ordinal;
      else
        folder.fileSystem = volumes.volumeOf(folder.recordSector);
    }
    for (NtfsFileEntry& file : lists.files) file.fileSystem = volumes.volumeOf(file.recordSector);
    lists.indexBuffers.clear();
    lists.unlisted.clear();
    ctx_.records.ntfs = std::move(lists);
  }

  // The exFAT volumes follow the FAT and NTFS ones in the list.
  void takeExfat() {
    const auto volumes = exfatScan_.finish([this](std::uint64_t sector) -> std::optional<std::uint32_t> {
      auto bytes = readOne(sector);
      if (!bytes) return std::nullopt;
      return readU32(*bytes, 0);
    });
    for (const ExfatLostVolume& v : volumes) {
      FoundFileSystem entry;
      entry.name = toString(FsType::ExFat);
      entry.sectorsPerCluster = static_cast<std::uint32_t>(v.sectorsPerCluster);
      entry.startSector = v.start;
      entry.endSector = v.end;
      entry.sectorsPerFat = static_cast<std::uint32_t>(v.fatSectors);
      entry.reservedSectors = static_cast<std::uint32_t>(v.fatOffset);
      entry.rootStart = v.rootCluster;
      entry.clusterBase = v.clusterBase;
      entry.firstFatSector = v.fatStart;
      ctx_.found.push_back(entry);
    }
  }

  Job& job_;
  LostSearchContext& ctx_;
  std::vector<FatBootCandidate> candidates_;
  FatSectorScan fatScan_;
  ExfatLostExaminer exfatScan_;
};

}  // namespace

void runLostPartitionSearch(Job& job, LostSearchContext& context) { LostSearch(job, context).run(); }

// ---------------------------------------------------------------------------

LostChoice applyFoundFileSystem(const FoundFileSystem& entry, SectorNumber rangeEnd) {
  LostChoice choice;
  choice.fileSystemType = fileSystemTypeFromText(entry.name).value_or(FsType::Unknown);
  VolumeParameters& p = choice.parameters;
  p.SectorsPerCluster = entry.sectorsPerCluster;
  p.ClusterBase = entry.clusterBase;
  if (entry.name != "NTFS") {
    p.Fat1Start = entry.firstFatSector;
    p.Fat2Start = entry.secondFatSector;
    p.FatSectors = entry.sectorsPerFat;
    p.ReservedSectors = entry.reservedSectors;
    if (entry.name == "FAT32") {
      p.RootDirSectors = 0;
      p.RootDirStart = entry.rootStart != 0 ? entry.rootStart : 2;
    } else if (!fatNotLocated(entry)) {
      p.RootDirSectors = entry.rootDirSectors != 0 ? entry.rootDirSectors : 32;
      p.RootDirStart = entry.rootStart;
    }
    // FAT12/16 whose FATs were not found: no root is read (RootDirStart 0).
  }
  choice.start = entry.startSector != 0 ? entry.startSector : entry.clusterBase;
  choice.end = entry.endSector != 0 ? entry.endSector : rangeEnd;
  return choice;
}

void assignNtfsFilesToVolumes(NtfsScanLists& lists, const FoundFileSystems& found) {
  const NtfsVolumeRanges volumes(found);
  for (NtfsFileEntry& file : lists.files) file.fileSystem = volumes.volumeOf(file.recordSector);
}

bool fatGeometryHolds(const FoundFileSystem& entry, const DirectoryStartRecord& record) {
  if (entry.name == "NTFS" || entry.sectorsPerCluster == 0) return false;
  const std::uint64_t offset = std::uint64_t{record.ownCluster} * entry.sectorsPerCluster;
  if (offset > record.sector || record.sector - offset != entry.clusterBase) return false;
  if (isInferred(entry)) return entry.clusterBase > 0;
  return record.ownCluster >= 2 && record.sector <= entry.endSector;
}

void rescanFatDirectoryStarts(Job& job, SectorReader& reader, const FoundFileSystems& found, std::uint32_t ordinal,
                              LostSearchRecords& records) {
  if (ordinal == 0 || ordinal > found.size()) return;
  const FoundFileSystem& entry = found[ordinal - 1];
  auto& starts = records.directoryStarts;
  const auto mine = static_cast<std::int32_t>(ordinal);
  std::erase_if(starts, [&](const DirectoryStartRecord& r) { return r.fileSystem == mine; });
  if (entry.name == "NTFS" || entry.sectorsPerCluster == 0) return;
  const bool inferred = isInferred(entry);
  // The found entries whose geometry selects the directories read: the
  // chosen one; for an inferred volume every inferred volume up to it,
  // because the pairs that made them decide which directories the chosen
  // one got (see below).
  std::vector<std::size_t> selecting;
  if (inferred) {
    for (std::size_t i = 0; i < ordinal; ++i)
      if (isFatName(found[i].name) && isInferred(found[i]) && found[i].sectorsPerCluster != 0 &&
          found[i].clusterBase > 0)
        selecting.push_back(i);
  } else {
    selecting.push_back(ordinal - 1);
  }
  SectorNumber from = std::numeric_limits<SectorNumber>::max();
  for (std::size_t i : selecting) from = std::min<SectorNumber>(from, found[i].clusterBase);
  from = std::max<SectorNumber>(from, records.rangeStart);
  SectorNumber to = std::min<SectorNumber>(records.rangeEnd, reader.source().sectorCount());
  // A volume found by its boot sector holds directories up to its end sector.
  if (!inferred && entry.endSector < std::numeric_limits<SectorNumber>::max())
    to = std::min<SectorNumber>(to, entry.endSector + 1);
  job.setStatus(kScanText);
  std::vector<DirectoryStartRecord> read;
  std::vector<std::byte> chunk(std::size_t{kScanSectors} * kSectorSize);
  ReadAheadStream stream(reader, job, from, to, kScanSectors, kScanBlocks);
  for (SectorNumber s = from; s < to;) {
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kScanSectors, to - s));
    // What cannot be read comes back as zeros, which match nothing.
    const ByteSpan bytes = stream.read(s, count, chunk);
    for (std::uint32_t i = 0; i < count; ++i) {
      const ByteSpan sector = ByteSpan(bytes).subspan(std::size_t{i} * kSectorSize, kSectorSize);
      // As in the scan: a sector with the boot signature is no directory.
      if (hasBootSectorSignature(sector) || !beginsDirectoryStart(sector)) continue;
      DirectoryStartRecord record = readDirectoryStart(sector, s + i);
      if (std::any_of(selecting.begin(), selecting.end(),
                      [&](std::size_t index) { return fatGeometryHolds(found[index], record); }))
        read.push_back(record);
    }
    s += count;
    job.updateStatistics({s - 1, read.size(), 0, "", StatisticsFormat::Sector, 0, count});
    job.setPercent(percentOf(s - from, to - from));
    job.checkpoint();
    if (job.stopRequested()) break;
  }
  job.clearStopRequest();

  // The volumes found by their boot sectors took, in list order, every
  // directory where their geometry puts one.
  auto claimedBefore = [&](const DirectoryStartRecord& record, bool bootVolumesOnly) -> std::int32_t {
    for (std::size_t i = 0; i + 1 < ordinal; ++i)
      if ((!bootVolumesOnly || !isInferred(found[i])) && fatGeometryHolds(found[i], record))
        return static_cast<std::int32_t>(i + 1);
    return 0;
  };
  bool replayed = false;
  if (inferred) {
    // The inference walks the directories left in disk order and pairs each
    // with a later one. A directory where the chosen volume puts one but
    // which found no partner when its turn came (its partner's cluster must
    // lie below its sector) was left out of that volume; which ones those
    // are depends on the directories of the inferred volumes listed before
    // it. Those lie inside what was read, and any directory outside them
    // either had no partner or would have made a volume of the list: the
    // inference over what was read assigns them as the scan did, which the
    // volumes it finds again confirm.
    for (DirectoryStartRecord& record : read) record.fileSystem = claimedBefore(record, true);
    std::size_t firstInferred = 0;
    while (firstInferred < found.size() && !isInferred(found[firstInferred])) ++firstInferred;
    FoundFileSystems again(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(firstInferred));
    std::vector<DirectoryStartRecord> replay = read;
    inferFatFileSystems(replay, again);
    replayed = again.size() >= ordinal;
    for (std::size_t i = firstInferred; replayed && i < ordinal; ++i)
      replayed = again[i].sectorsPerCluster == found[i].sectorsPerCluster && again[i].clusterBase == found[i].clusterBase;
    if (replayed) read = std::move(replay);
  }
  if (!replayed) {
    // A volume found by its boot sector (or a disk that no longer gives the
    // listed volumes): every directory where the chosen volume puts one,
    // unless an earlier volume of the list puts one there too.
    for (DirectoryStartRecord& record : read)
      record.fileSystem = fatGeometryHolds(entry, record) && claimedBefore(record, false) == 0 ? mine : 0;
  }
  for (const DirectoryStartRecord& record : read)
    if (record.fileSystem == mine) starts.push_back(record);
}

void buildLostFileSystemTree(FoundEntries& entries, const LostSearchRecords& records, const FoundFileSystems& found,
                             std::uint32_t ordinal, Job* job) {
  entries.clear();
  if (ordinal == 0 || ordinal > found.size() || ordinal > 0xFFFF) return;
  const auto partition = static_cast<std::uint16_t>(ordinal);
  if (found[ordinal - 1].name == "NTFS") {
    NtfsScanLists lists;
    for (const NtfsFolderEntry& folder : records.ntfs.folders)
      if (folder.fileSystem == ordinal) lists.folders.push_back(folder);
    for (const NtfsFileEntry& file : records.ntfs.files)
      if (file.fileSystem == ordinal) lists.files.push_back(file);
    lists.extentSizes = records.ntfs.extentSizes;
    lists.tornRecords = records.ntfs.tornRecords;
    assembleNtfsResults(entries, lists, partition, job);
    for (FileNode& file : entries.FileList) file.partition = partition;
    return;
  }
  if (job) job->setStatus(kFatFormText);
  std::vector<const DirectoryStartRecord*> mine;
  for (const DirectoryStartRecord& r : records.directoryStarts)
    if (r.fileSystem == static_cast<std::int32_t>(ordinal)) mine.push_back(&r);
  if (!mine.empty()) entries.AddDirectoryNode("Lost", u"", false, 0, kLostId, 0, EntryTimes{}, partition);
  std::uint64_t counted = 0;
  for (const DirectoryStartRecord* r : mine) {
    const std::string name = "Dir" + std::to_string(entries.DirectoryCount);
    entries.AddDirectoryNode(name, u"", false, r->parentCluster, r->ownCluster, r->sector, r->times, partition);
    ++counted;
    if (job && (counted & 255) == 0) {
      job->setPercent(percentOf(counted, mine.size()));
      job->checkpoint();
      if (job->stopRequested()) break;
    }
  }
  if (job) job->clearStopRequest();
  reattachLostDirectories(entries, 0, partition, job);
}

}  // namespace dravolin
