// The rules of the search for lost partitions on buffers and small tables:
// which boot sectors count and what geometry they give, which directories
// confirm a boot sector, which pairs of directories reveal a volume whose
// boot sector is gone (and which must not), where the FATs of such a volume
// are, that a FAT volume read again after a log gets the directories the
// scan gave it, and that the tree of one found file system never holds
// another's.
#include "results/lost_partition_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <ostream>

#include "disk/memory_source.h"
#include "recording_job.h"
#include "support/test_support.h"

namespace dravolin::test {
namespace {

// A boot sector with the BPB fields the cases change.
struct Bpb {
  std::uint16_t bytesPerSector = 512;
  std::uint8_t sectorsPerCluster = 4;
  std::uint16_t reserved = 4;
  std::uint8_t fats = 2;
  std::uint16_t rootEntries = 512;
  std::uint16_t smallTotal = 0;
  std::uint8_t media = 0xF8;
  std::uint16_t fat16Size = 32;
  std::uint32_t largeTotal = 32768;
  std::uint32_t fat32Size = 0;
  std::uint32_t rootCluster = 0;
  std::uint16_t backup = 0;
  const char* oem = "mkfs.fat";
  bool signature = true;
};

SectorBuffer bootSector(const Bpb& b) {
  SectorBuffer s{};
  auto put16 = [&](std::size_t at, std::uint16_t v) { writeU16(s, at, v); };
  auto put32 = [&](std::size_t at, std::uint32_t v) { writeU32(s, at, v); };
  for (std::size_t i = 0; i < 8; ++i) s[3 + i] = static_cast<std::byte>(b.oem[i]);
  put16(11, b.bytesPerSector);
  s[13] = std::byte{b.sectorsPerCluster};
  put16(14, b.reserved);
  s[16] = std::byte{b.fats};
  put16(17, b.rootEntries);
  put16(19, b.smallTotal);
  s[21] = std::byte{b.media};
  put16(22, b.fat16Size);
  put32(32, b.largeTotal);
  put32(36, b.fat32Size);
  put32(44, b.rootCluster);
  put16(50, b.backup);
  if (b.signature) {
    s[510] = std::byte{0x55};
    s[511] = std::byte{0xAA};
  }
  return s;
}

Bpb fat32Bpb() {
  Bpb b;
  b.sectorsPerCluster = 1;
  b.reserved = 32;
  b.rootEntries = 0;
  b.fat16Size = 0;
  b.largeTotal = 81920;
  b.fat32Size = 630;
  b.rootCluster = 2;
  b.backup = 6;
  return b;
}

struct BootCase {
  std::string what;
  friend void PrintTo(const BootCase& c, std::ostream* os) { *os << c.what; }
  Bpb bpb;
  SectorNumber at;
  std::optional<std::string> name;  // nothing: not a candidate
  SectorNumber clusterBase = 0;
  SectorNumber end = 0;
};

const BootCase kBootCases[] = {
    {"a FAT16 boot sector gives its geometry", Bpb{}, 2048, "FAT16", 2048 + 4 + 64 + 32 - 8, 2048 + 32768},
    {"a FAT16 boot sector with a 32-bit total of 0 takes the word at 19",
     [] { Bpb b; b.largeTotal = 0; b.smallTotal = 30000; return b; }(), 100, "FAT16", 100 + 4 + 64 + 32 - 8,
     100 + 30000},
    {"fewer than 4,085 clusters is FAT12, whatever the type text",
     [] { Bpb b; b.sectorsPerCluster = 1; b.fat16Size = 12; b.largeTotal = 0; b.smallTotal = 2880; return b; }(), 63,
     "FAT12", 63 + 4 + 24 + 32 - 2, 63 + 2880},
    {"a FAT32 boot sector gives cluster base boot + reserved + 2 x (FAT - cluster)", fat32Bpb(), 34816, "FAT32",
     34816 + 32 + 2 * 630 - 2, 34816 + 81920},
    {"no 0x55 0xAA signature", [] { Bpb b; b.signature = false; return b; }(), 0, std::nullopt},
    {"an NTFS boot sector", [] { Bpb b; b.oem = "NTFS    "; return b; }(), 0, std::nullopt},
    {"4,096 bytes per sector", [] { Bpb b; b.bytesPerSector = 4096; return b; }(), 0, std::nullopt},
    {"3 sectors per cluster", [] { Bpb b; b.sectorsPerCluster = 3; return b; }(), 0, std::nullopt},
    {"a media byte that is none", [] { Bpb b; b.media = 0x12; return b; }(), 0, std::nullopt},
    {"no reserved sector", [] { Bpb b; b.reserved = 0; return b; }(), 0, std::nullopt},
    {"a FAT area larger than the volume", [] { Bpb b; b.largeTotal = 90; return b; }(), 0, std::nullopt},
    {"a partition table sector (zeroed table, signature kept)", [] { Bpb b; b = Bpb{}; b.bytesPerSector = 0;
       b.sectorsPerCluster = 0; b.reserved = 0; b.fats = 0; b.media = 0; b.fat16Size = 0; b.largeTotal = 0;
       b.rootEntries = 0; return b; }(), 0, std::nullopt},
};

class BootCandidateTest : public ::testing::TestWithParam<BootCase> {};

TEST_P(BootCandidateTest, ReadsOnlyValidBootSectors) {
  const BootCase& c = GetParam();
  const auto candidate = readFatBootCandidate(bootSector(c.bpb), c.at);
  ASSERT_EQ(candidate.has_value(), c.name.has_value());
  if (!candidate) return;
  EXPECT_EQ(candidate->name, *c.name);
  EXPECT_EQ(candidate->bootSector, c.at);
  EXPECT_EQ(candidate->clusterBase, c.clusterBase);
  EXPECT_EQ(candidate->endSector, c.end);
}

INSTANTIATE_TEST_SUITE_P(Cases, BootCandidateTest, ::testing::ValuesIn(kBootCases), NameFromWhat{});

// ---------------------------------------------------------------------------
// Phases 1 and 2 over candidates and directory-start records.

struct Dir {
  std::uint32_t own;
  SectorNumber sector;
};

struct Found {
  std::string name;
  std::uint32_t sectorsPerCluster;
  SectorNumber start;
  SectorNumber clusterBase;
};

struct PhaseCase {
  std::string what;
  friend void PrintTo(const PhaseCase& c, std::ostream* os) { *os << c.what; }
  std::vector<FatBootCandidate> candidates;  // in scan order
  std::vector<Dir> directories;              // in scan order
  std::vector<SectorNumber> fatPairs;        // boot sectors whose FATs confirm the volume
  std::vector<Found> found;
  std::vector<std::int32_t> ordinals;        // per directory, after both phases
};

FatBootCandidate candidateAt(const Bpb& bpb, SectorNumber at) { return *readFatBootCandidate(bootSector(bpb), at); }

// The scan's order for a FAT32 boot sector and its backup 6 sectors later,
// and for a backup whose primary is gone: the primary's candidate first.
std::vector<FatBootCandidate> primaryAndBackup() {
  return {candidateAt(fat32Bpb(), 34816), candidateAt(fat32Bpb(), 34822)};
}
std::vector<FatBootCandidate> backupOnly() {
  const FatBootCandidate backup = candidateAt(fat32Bpb(), 34822);
  return {*primaryOfBackup(backup), backup};
}

// FAT32 at 34816: cluster base 36074, one sector per cluster.
constexpr SectorNumber kFat32Base = 34816 + 32 + 2 * 630 - 2;

const PhaseCase kPhaseCases[] = {
    {"directories at 1,000 (cluster 10) and 1,032 (14) give 8 sectors per cluster and base 920; 1,080 (20) joins",
     {},
     {{10, 1000}, {14, 1032}, {20, 1080}},
     {},
     {{"FAT16", 8, 0, 920}},
     {1, 1, 1}},
    {"a FAT32 boot sector and its backup: only the one whose geometry fits is listed",
     primaryAndBackup(),
     {{5, kFat32Base + 5}, {9, kFat32Base + 9}},
     {},
     {{"FAT32", 1, 34816, kFat32Base}},
     {1, 1}},
    {"the backup of a wiped FAT32 boot sector yields the volume at its real start",
     backupOnly(),
     {{5, kFat32Base + 5}},
     {},
     {{"FAT32", 1, 34816, kFat32Base}},
     {1}},
    {"a boot sector with no directory where its geometry puts one is not listed",
     {candidateAt(Bpb{}, 2048)},
     {{7, 9000}},
     {},
     {},
     {-1}},
    {"a volume with files only in its root is confirmed by its two FATs",
     {candidateAt(Bpb{}, 2048)},
     {},
     {2048},
     {{"FAT16", 4, 2048, 2140}},
     {}},
    {"the backup of a confirmed volume confirms nothing new, even with identical FATs",
     primaryAndBackup(),
     {{5, kFat32Base + 5}},
     {34816, 34822},
     {{"FAT32", 1, 34816, kFat32Base}},
     {1}},
    {"a pair whose second directory belongs to a volume already found is no volume",
     {candidateAt(Bpb{}, 2048)},
     // 2,140 + 10 x 4 = 2,180 belongs to the boot sector at 2,048; with the
     // directory of cluster 6 at 2,172 it would imply 2 sectors per cluster.
     {{6, 2172}, {10, 2180}},
     {},
     {{"FAT16", 4, 2048, 2140}},
     {-1, 1}},
    {"a pair implying 3 sectors per cluster is never inferred",
     {},
     {{10, 1000}, {12, 1006}},
     {},
     {},
     {-1, -1}},
    {"a directory of cluster 70,000 makes the inferred volume FAT32",
     {},
     {{10, 1000}, {14, 1004}, {70000, 70990}},
     {},
     {{"FAT32", 1, 0, 990}},
     {1, 1, 1}},
    {"a directory cluster above its sector is no pair",
     {},
     {{500, 400}, {600, 500}},
     {},
     {},
     {-1, -1}},
};

class PhaseTest : public ::testing::TestWithParam<PhaseCase> {};

TEST_P(PhaseTest, ConfirmsAndInfersFileSystems) {
  const PhaseCase& c = GetParam();
  std::vector<DirectoryStartRecord> records;
  for (const Dir& d : c.directories) {
    DirectoryStartRecord r;
    r.ownCluster = d.own;
    r.sector = d.sector;
    records.push_back(r);
  }
  FoundFileSystems found;
  confirmBootCandidates(c.candidates, records, found, [&](const FatBootCandidate& candidate) {
    return std::find(c.fatPairs.begin(), c.fatPairs.end(), candidate.bootSector) != c.fatPairs.end();
  });
  inferFatFileSystems(records, found);
  std::vector<Found> got;
  for (const FoundFileSystem& f : found) got.push_back({f.name, f.sectorsPerCluster, f.startSector, f.clusterBase});
  ASSERT_EQ(got.size(), c.found.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].name, c.found[i].name) << i;
    EXPECT_EQ(got[i].sectorsPerCluster, c.found[i].sectorsPerCluster) << i;
    EXPECT_EQ(got[i].start, c.found[i].start) << i;
    EXPECT_EQ(got[i].clusterBase, c.found[i].clusterBase) << i;
  }
  std::vector<std::int32_t> ordinals;
  for (const auto& r : records) ordinals.push_back(r.fileSystem);
  EXPECT_EQ(ordinals, c.ordinals);
}

INSTANTIATE_TEST_SUITE_P(Cases, PhaseTest, ::testing::ValuesIn(kPhaseCases), NameFromWhat{});

// ---------------------------------------------------------------------------
// After a ".ST2C" log the FAT directories are read again from the disk:
// each volume must get the directories the scan gave it. A directory where
// an inferred volume puts one, but which found no partner when its turn
// came (the later directories' clusters lie above its sector), stays out of
// that volume, also behind a volume found by its boot sector.

struct RescanCase {
  std::string what;
  friend void PrintTo(const RescanCase& c, std::ostream* os) { *os << c.what; }
  std::optional<SectorNumber> bootAt;  // a FAT16 boot sector (Bpb{}) there
  std::vector<Dir> directories;        // in disk order
  SectorNumber sectors;
  std::vector<std::int32_t> scanned;   // per directory, as the scan assigns them
};

const RescanCase kRescanCases[] = {
    {"an inferred volume alone", std::nullopt, {{10, 1010}, {2000, 3000}, {2010, 3010}}, 4000, {-1, 1, 1}},
    {"an inferred volume after a boot-sector volume",
     2048,
     {{10, 2180}, {10, 40010}, {50000, 90000}, {50010, 90010}},
     100000,
     {1, -1, 2, 2}},
};

class RescanTest : public ::testing::TestWithParam<RescanCase> {};

TEST_P(RescanTest, ReadingAVolumeAgainGivesItTheScansDirectories) {
  const RescanCase& c = GetParam();
  MemorySectorSource disk(static_cast<std::size_t>(c.sectors));
  if (c.bootAt) {
    const SectorBuffer boot = bootSector(Bpb{});
    std::memcpy(disk.sector(*c.bootAt).data(), boot.data(), boot.size());
  }
  for (const Dir& d : c.directories) {
    auto sector = disk.sector(d.sector);
    std::memcpy(sector.data(), ".          \x10", 12);
    std::memcpy(sector.data() + 32, "..         \x10", 12);
    writeU16(sector, 26, static_cast<std::uint16_t>(d.own));
    writeU16(sector, 20, static_cast<std::uint16_t>(d.own >> 16));
  }
  SectorReader reader(disk);
  RecordingJob job;
  FoundFileSystems found;
  LostSearchRecords scanned;
  LostSearchContext search{.reader = reader, .rangeStart = 0, .rangeEnd = c.sectors, .scope = LostSearchScope::Fat,
                           .found = found, .records = scanned};
  runLostPartitionSearch(job, search);
  std::vector<std::int32_t> ordinals;
  for (const DirectoryStartRecord& r : scanned.directoryStarts) ordinals.push_back(r.fileSystem);
  ASSERT_EQ(ordinals, c.scanned);

  for (std::uint32_t n = 1; n <= found.size(); ++n) {
    SCOPED_TRACE(n);
    LostSearchRecords again;
    again.rangeEnd = c.sectors;
    again.directoryStartsKept = false;
    rescanFatDirectoryStarts(job, reader, found, n, again);
    std::vector<SectorNumber> expected, got;
    for (const DirectoryStartRecord& r : scanned.directoryStarts)
      if (r.fileSystem == static_cast<std::int32_t>(n)) expected.push_back(r.sector);
    for (const DirectoryStartRecord& r : again.directoryStarts) {
      EXPECT_EQ(r.fileSystem, static_cast<std::int32_t>(n));
      got.push_back(r.sector);
    }
    EXPECT_EQ(got, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RescanTest, ::testing::ValuesIn(kRescanCases), NameFromWhat{});

// ---------------------------------------------------------------------------
// The FATs of an inferred volume.

struct FatCase {
  std::string what;
  friend void PrintTo(const FatCase& c, std::ostream* os) { *os << c.what; }
  SectorNumber clusterBase;
  std::uint32_t sectorsPerCluster;
  std::string nameBefore;
  std::map<SectorNumber, std::vector<std::uint8_t>> sectors;  // first bytes of the sectors that hold any
  bool located;
  std::string name;
  SectorNumber firstFat = 0, secondFat = 0;
  std::uint32_t rootDirSectors = 0;
};

const FatCase kFatCases[] = {
    {"FAT16: two identical FATs of 32 sectors and a root of 32 below the data", 2140, 4, "FAT16",
     {{2052, {0xF8, 0xFF, 0xFF, 0xFF}}, {2084, {0xF8, 0xFF, 0xFF, 0xFF}}}, true, "FAT16", 2052, 2084, 32},
    {"a FAT of 9 sectors is FAT12", 100 - 2, 1, "FAT16",
     {{37, {0xF0, 0xFF, 0xFF, 0x03}}, {46, {0xF0, 0xFF, 0xFF, 0x03}}}, true, "FAT12", 37, 46, 45},
    {"FATs whose copies differ are not located", 2140, 4, "FAT16",
     {{2052, {0xF8, 0xFF, 0xFF, 0xFF, 0x01}}, {2084, {0xF8, 0xFF, 0xFF, 0xFF, 0x02}}}, false, "FAT16"},
    {"a pair with no room for a root is shaped as FAT32 but too small for it: not located", 2140, 4, "FAT16",
     {{2076, {0xF8, 0xFF, 0xFF, 0x0F}}, {2112, {0xF8, 0xFF, 0xFF, 0x0F}}}, false, "FAT16"},
    {"a FAT32 pair of 600 sectors far below the data is found though the clusters said FAT16", 40000, 1, "FAT16",
     {{38802, {0xF8, 0xFF, 0xFF, 0x0F}}, {39402, {0xF8, 0xFF, 0xFF, 0x0F}}}, true, "FAT32", 38802, 39402, 0},
    {"no FAT below the data area: not located", 2140, 4, "FAT16", {}, false, "FAT16"},
};

class LocateFatsTest : public ::testing::TestWithParam<FatCase> {};

TEST_P(LocateFatsTest, FindsOnlyAFittingIdenticalPair) {
  const FatCase& c = GetParam();
  FoundFileSystem entry;
  entry.name = c.nameBefore;
  entry.sectorsPerCluster = c.sectorsPerCluster;
  entry.clusterBase = c.clusterBase;
  const bool located = locateFats(entry, 100, [&](SectorNumber s) -> std::optional<SectorBuffer> {
    SectorBuffer buffer{};
    if (auto it = c.sectors.find(s); it != c.sectors.end())
      for (std::size_t i = 0; i < it->second.size(); ++i) buffer[i] = std::byte{it->second[i]};
    return buffer;
  });
  EXPECT_EQ(located, c.located);
  EXPECT_EQ(entry.name, c.name);
  EXPECT_EQ(fatNotLocated(entry), !c.located);
  if (!c.located) return;
  EXPECT_EQ(entry.firstFatSector, c.firstFat);
  EXPECT_EQ(entry.secondFatSector, c.secondFat);
  EXPECT_EQ(entry.sectorsPerFat, c.secondFat - c.firstFat);
  EXPECT_EQ(entry.rootDirSectors, c.rootDirSectors);
  // The layout the second pass reads with: the root right after the second
  // FAT, or cluster 2 on FAT32.
  const LostChoice choice = applyFoundFileSystem(entry, 50000);
  EXPECT_EQ(choice.parameters.RootDirStart, c.name == "FAT32" ? 2 : c.secondFat + (c.secondFat - c.firstFat));
  EXPECT_EQ(choice.start, c.clusterBase);
  EXPECT_EQ(choice.end, 50000u);
}

INSTANTIATE_TEST_SUITE_P(Cases, LocateFatsTest, ::testing::ValuesIn(kFatCases), NameFromWhat{});

TEST(LostFileSystemTree, AFatVolumeWhoseFatsWereNotFoundReadsNoRoot) {
  FoundFileSystem entry;
  entry.name = "FAT16";
  entry.sectorsPerCluster = 4;
  entry.clusterBase = 2140;
  const LostChoice choice = applyFoundFileSystem(entry, 9000);
  EXPECT_EQ(choice.parameters.RootDirStart, 0u);
  EXPECT_EQ(choice.parameters.RootDirSectors, 0u);
  EXPECT_EQ(choice.parameters.ClusterBase, 2140u);
}

// Two volumes of each kind on one disk: the tree of one holds its own
// folders and files only, each marked with its number, under its own "Lost".
TEST(LostFileSystemTree, VolumesNeverShowEachOthersEntries) {
  LostSearchRecords records;
  auto dir = [](std::uint32_t own, std::uint32_t parent, SectorNumber sector, std::int32_t fs) {
    DirectoryStartRecord r;
    r.ownCluster = own;
    r.parentCluster = parent;
    r.sector = sector;
    r.fileSystem = fs;
    return r;
  };
  records.directoryStarts = {dir(3, 0, 100, 1), dir(3, 0, 900, 2), dir(4, 3, 104, 1), dir(9, 77, 908, 2)};
  auto folder = [](std::u16string name, std::uint64_t number, SectorNumber sector, std::uint32_t fs) {
    NtfsFolderEntry f;
    f.name = std::move(name);
    f.ownNumber = number;
    f.numberKnown = true;
    f.parent = FileReference{kNtfsRootId, 0};
    f.recordSector = sector;
    f.fileSystem = fs;
    return f;
  };
  auto file = [](std::u16string name, std::uint64_t number, SectorNumber sector, std::uint32_t fs) {
    NtfsFileEntry f;
    f.name = std::move(name);
    f.ownNumber = number;
    f.numberKnown = true;
    f.parent = FileReference{kNtfsRootId, 0};
    f.recordSector = sector;
    f.fileSystem = fs;
    return f;
  };
  records.ntfs.folders = {folder(u"Docs A", 64, 5000, 3), folder(u"Docs B", 64, 9000, 4)};
  records.ntfs.files = {file(u"a.txt", 70, 5010, 3), file(u"b.txt", 70, 9010, 4), file(u"c.txt", 71, 9012, 4)};
  FoundFileSystems found(4);
  found[0].name = found[1].name = "FAT16";
  found[2].name = found[3].name = "NTFS";

  struct Expect {
    std::uint32_t ordinal;
    std::vector<std::u16string> files;
    std::vector<std::uint32_t> dirs;  // own ids, "Lost" included
    std::vector<std::uint32_t> parents;
  };
  const Expect expects[] = {
      {1, {}, {kLostId, 3, 4}, {0, 0, 3}},
      {2, {}, {kLostId, 3, 9}, {0, 0, kLostId}},
      // Nothing of the NTFS volumes is lost: no empty "Lost" is shown.
      {3, {u"a.txt"}, {64}, {kNtfsRootId}},
      {4, {u"b.txt", u"c.txt"}, {64}, {kNtfsRootId}},
  };
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.ordinal);
    FoundEntries entries;
    entries.AddDirectoryNode("stale", u"", false, 0, 99, 0, EntryTimes{}, 0);
    buildLostFileSystemTree(entries, records, found, e.ordinal);
    std::vector<std::uint32_t> dirs, parents;
    for (const DirectoryNode& d : entries.DirectoryList) {
      EXPECT_EQ(d.partition, e.ordinal);
      dirs.push_back(d.ownId);
      parents.push_back(d.parentId);
    }
    EXPECT_EQ(dirs, e.dirs);
    EXPECT_EQ(parents, e.parents);
    std::vector<std::u16string> files;
    for (const FileNode& f : entries.FileList) {
      EXPECT_EQ(f.partition, e.ordinal);
      files.push_back(f.wideName);
    }
    EXPECT_EQ(files, e.files);
  }
}

}  // namespace
}  // namespace dravolin::test
