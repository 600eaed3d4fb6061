#include "fat/cluster_chain.h"

#include <gtest/gtest.h>

#include "disk/fault_injecting_source.h"
#include "disk/sector_reader.h"
#include "fat_test_support.h"

namespace dravolin::test {
namespace {

using Clusters = std::vector<std::uint32_t>;

TEST(FatLayout, MapsClustersToSectorsAndRejectsNonFat) {
  VolumeParameters p;
  p.ClusterBase = 1000;
  p.SectorsPerCluster = 4;
  p.FatSectors = 10;
  auto layout = makeFatLayout(p, FsType::Fat16);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->clusterToSector(2), 1008u);
  EXPECT_EQ(layout->clusterToSector(0xFFFFFFFF), 1000u + 4ull * 0xFFFFFFFFull);
  EXPECT_EQ(layout->fatEntryCapacity(), 2560u);
  EXPECT_FALSE(makeFatLayout(p, FsType::Ntfs));
  p.SectorsPerCluster = 0;
  EXPECT_FALSE(makeFatLayout(p, FsType::Fat32));
  p.SectorsPerCluster = 257;
  EXPECT_FALSE(makeFatLayout(p, FsType::Fat32));
  p.SectorsPerCluster = 256;
  EXPECT_TRUE(makeFatLayout(p, FsType::Fat32));
}

TEST(FatLayout, ClusterCountIsBoundedByFatAndDataArea) {
  VolumeParameters p;
  p.ClusterBase = 98;  // data starts at 100
  p.SectorsPerCluster = 1;
  p.FatSectors = 1;
  EXPECT_EQ(makeFatLayout(p, FsType::Fat32)->clusterCount(), 128u);
  EXPECT_EQ(makeFatLayout(p, FsType::Fat32, 150)->clusterCount(), 52u);
  EXPECT_EQ(makeFatLayout(p, FsType::Fat12)->clusterCount(), 341u);
}

TEST(FatEntries, EndAndBadValuesPerWidth) {
  struct Case {
    FatType type;
    std::uint32_t value;
    bool end;
    bool bad;
  } cases[] = {
      {FatType::Fat12, 0xFFF, true, false},      {FatType::Fat12, 0xFF8, false, false},
      {FatType::Fat12, 0xFF7, false, true},      {FatType::Fat16, 0xFFFF, true, false},
      {FatType::Fat16, 0xFFF8, false, false},    {FatType::Fat16, 0xFFF7, false, true},
      {FatType::Fat32, 0x0FFFFFFF, true, false}, {FatType::Fat32, 0xFFFFFFFF, true, false},
      {FatType::Fat32, 0x0FFFFFF8, false, false}, {FatType::Fat32, 0x0FFFFFF7, false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isEndOfChain(c.type, c.value), c.end) << std::hex << c.value;
    EXPECT_EQ(isBadCluster(c.type, c.value), c.bad) << std::hex << c.value;
  }
}

TEST(Fat12Entries, UnpacksEvenAndOddEntries) {
  SyntheticFat v(FatType::Fat12, 1, 2, 100);
  // Cluster 2 lies at bytes 3..4, cluster 3 at bytes 4..5.
  auto fat = v.source().sector(1);
  fat[3] = std::byte{0x45};
  fat[4] = std::byte{0x23};
  fat[5] = std::byte{0x12};
  SectorReader reader(v.source());
  FatVolume volume(reader, *makeFatLayout(v.parameters, v.fileSystemType));
  EXPECT_EQ(volume.readEntry(2, FatCopy::First), 0x345u);
  // Cluster 3 shares byte 4 with cluster 2: 0x12 << 4 | 0x23 >> 4.
  EXPECT_EQ(volume.readEntry(3, FatCopy::First), 0x122u);
}

TEST(Fat12Entries, EntryAcrossASectorBoundary) {
  // Cluster 341 starts at byte 511 and ends in the next sector.
  SyntheticFat v(FatType::Fat12, 1, 3, 600);
  v.setFat(340, 0xABC);
  v.setFat(341, 0x123);
  v.setFat(342, 0xDEF);
  SectorReader reader(v.source());
  FatVolume volume(reader, *makeFatLayout(v.parameters, v.fileSystemType));
  EXPECT_EQ(volume.readEntry(340, FatCopy::First), 0xABCu);
  EXPECT_EQ(volume.readEntry(341, FatCopy::First), 0x123u);
  EXPECT_EQ(volume.readEntry(342, FatCopy::First), 0xDEFu);
}

struct ChainCase {
  const char* what;
  FatType type;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> fat;  // cluster -> entry
  std::uint32_t first;
  std::uint64_t maxClusters;
  Clusters expected;
  ChainEnd end;
  friend void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.what; }
};

class ChainTable : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ChainTable, FollowsTheFirstFat) {
  const ChainCase& c = GetParam();
  SyntheticFat v(c.type, 1, 64, 5000);
  for (auto [cluster, entry] : c.fat) v.setFat(cluster, entry);
  SectorReader reader(v.source());
  FatVolume volume(reader, *makeFatLayout(v.parameters, v.fileSystemType));
  auto chain = buildClusterChain(volume, c.first, FatCopy::First, c.maxClusters);
  ASSERT_TRUE(chain) << c.what;
  EXPECT_EQ(chain->clusters, c.expected) << c.what;
  EXPECT_EQ(chain->end, c.end) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Chains, ChainTable,
    ::testing::Values(
        ChainCase{"fat16 5-6-end", FatType::Fat16, {{5, 6}, {6, 0xFFFF}}, 5, 0, {5, 6}, ChainEnd::EndOfChain},
        ChainCase{"fat12 odd and even", FatType::Fat12, {{3, 4}, {4, 7}, {7, 0xFFF}}, 3, 0, {3, 4, 7},
                  ChainEnd::EndOfChain},
        ChainCase{"fat12 follows entry 1", FatType::Fat12, {{3, 1}, {1, 0xFFF}}, 3, 0, {3, 1}, ChainEnd::EndOfChain},
        ChainCase{"fat16 entry 1 links nothing", FatType::Fat16, {{3, 1}}, 3, 0, {3}, ChainEnd::NotLinked},
        ChainCase{"fat32 chain", FatType::Fat32, {{2, 9}, {9, 4}, {4, 0x0FFFFFFF}}, 2, 0, {2, 9, 4},
                  ChainEnd::EndOfChain},
        ChainCase{"fat32 top bits not masked", FatType::Fat32, {{2, 0x10000003}}, 2, 0, {2}, ChainEnd::EndOfChain},
        ChainCase{"free entry ends", FatType::Fat32, {{2, 3}}, 2, 0, {2, 3}, ChainEnd::NotLinked},
        ChainCase{"fat16 follows 0xFFF8 as a cluster", FatType::Fat16, {{5, 0xFFF8}}, 5, 0, {5, 0xFFF8},
                  ChainEnd::OutsideFat},
        ChainCase{"self loop", FatType::Fat16, {{7, 7}}, 7, 0, {7}, ChainEnd::Cycle},
        ChainCase{"two-cluster loop", FatType::Fat32, {{5, 6}, {6, 5}}, 5, 0, {5, 6}, ChainEnd::Cycle},
        ChainCase{"tail into loop", FatType::Fat12, {{3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 4}}, 3, 0, {3, 4, 5, 6, 7},
                  ChainEnd::Cycle},
        ChainCase{"limit keeps the first clusters", FatType::Fat16, {{5, 6}, {6, 7}, {7, 8}, {8, 0xFFFF}}, 5, 2,
                  {5, 6}, ChainEnd::LengthLimit},
        ChainCase{"limit equal to the length", FatType::Fat16, {{5, 6}, {6, 0xFFFF}}, 5, 2, {5, 6},
                  ChainEnd::EndOfChain}),
    test::NameFromWhat{});

Clusters longLoop(std::uint32_t first, std::uint32_t length) {
  Clusters c;
  for (std::uint32_t i = 0; i < length; ++i) c.push_back(first + i);
  return c;
}

TEST(ClusterChain, LongLoopEndsWithEveryClusterOnce) {
  for (FatType type : {FatType::Fat12, FatType::Fat16, FatType::Fat32}) {
    SyntheticFat v(type, 1, 64, 5000);
    // 10 -> ... -> 1009 -> 500: a tail of 490 clusters and a loop of 510.
    Clusters c = longLoop(10, 1000);
    for (std::size_t i = 0; i + 1 < c.size(); ++i) v.setFat(c[i], c[i + 1]);
    v.setFat(c.back(), 500);
    SectorReader reader(v.source());
    FatVolume volume(reader, *makeFatLayout(v.parameters, v.fileSystemType));
    auto chain = buildClusterChain(volume, 10, FatCopy::First);
    ASSERT_TRUE(chain);
    EXPECT_EQ(chain->clusters, c);
    EXPECT_EQ(chain->end, ChainEnd::Cycle);
  }
}

TEST(ClusterChain, SecondFatIsReadWhenAsked) {
  SyntheticFat v(FatType::Fat16, 1, 4, 200);
  v.setFat(5, 0, true, false);
  v.setFat(5, 6, false, true);
  v.setFat(6, 0xFFFF);
  SectorReader reader(v.source());
  FatVolume volume(reader, *makeFatLayout(v.parameters, v.fileSystemType));
  EXPECT_EQ(buildClusterChain(volume, 5, FatCopy::First)->clusters, (Clusters{5}));
  EXPECT_EQ(buildClusterChain(volume, 5, FatCopy::Second)->clusters, (Clusters{5, 6}));
  EXPECT_FALSE(buildClusterChain(volume, 1, FatCopy::First));
}

TEST(ClusterChain, EntriesOutsideTheFatEndTheChain) {
  // One FAT sector holds 256 FAT16 entries: cluster 300 has none.
  SyntheticFat v(FatType::Fat16, 1, 1, 200);
  v.setFat(5, 300);
  VolumeParameters p = v.parameters;
  SectorReader reader(v.source());
  FatVolume volume(reader, *makeFatLayout(p, v.fileSystemType));
  auto chain = buildClusterChain(volume, 5, FatCopy::First);
  EXPECT_EQ(chain->clusters, (Clusters{5, 300}));
  EXPECT_EQ(chain->end, ChainEnd::OutsideFat);
  p.Fat1Start = 0;
  FatVolume noFat(reader, *makeFatLayout(p, v.fileSystemType));
  EXPECT_EQ(buildClusterChain(noFat, 5, FatCopy::First)->end, ChainEnd::OutsideFat);
}

TEST(ClusterChain, ChainsAcrossFatCacheBlocks) {
  // A FAT32 FAT of 600 sectors spans three cache blocks; the chain jumps
  // between their ends and starts.
  SyntheticFat v(FatType::Fat32, 1, 600, 100);
  v.chain({2, 40000, 3, 70001, 65000, 4});
  SectorReader reader(v.source());
  FatVolume volume(reader, *makeFatLayout(v.parameters, v.fileSystemType));
  EXPECT_EQ(buildClusterChain(volume, 2, FatCopy::First)->clusters, (Clusters{2, 40000, 3, 70001, 65000, 4}));
}

TEST(ClusterChain, UnreadableFatSectorEndsTheChainWithoutAsking) {
  SyntheticFat v(FatType::Fat16, 1, 4, 900);
  v.chain({5, 6, 300, 301});  // 300's entry lies in FAT sector 1
  FaultInjectingSource faulty(v.source(), {v.parameters.Fat1Start + 1});
  ScriptedPrompter prompts;
  prompts.badSectorAnswers = {BadSectorAnswer::SkipAll};
  SectorReader reader(faulty, &prompts);
  FatVolume volume(reader, *makeFatLayout(v.parameters, v.fileSystemType));
  auto chain = buildClusterChain(volume, 5, FatCopy::First);
  EXPECT_EQ(chain->clusters, (Clusters{5, 6, 300}));
  EXPECT_EQ(chain->end, ChainEnd::NotLinked);
  // The cached block is not read again for the next chain.
  (void)buildClusterChain(volume, 300, FatCopy::First);
  EXPECT_EQ(prompts.badSectorQuestions, 1);
}

TEST(DirectoryChain, DeletedDirectoriesStopAt26ClustersOnFat16AndFat32) {
  for (FatType type : {FatType::Fat12, FatType::Fat16, FatType::Fat32}) {
    SyntheticFat v(type, 1, 64, 3000);
    Clusters forty = longLoop(100, 40);
    v.chain(forty);
    SectorReader reader(v.source());
    FatVolume volume(reader, *makeFatLayout(v.parameters, v.fileSystemType));
    EXPECT_EQ(directoryChain(volume, 100, false).size(), 40u);
    EXPECT_EQ(directoryChain(volume, 100, true).size(), type == FatType::Fat12 ? 40u : 26u);
    EXPECT_EQ(directoryChain(volume, 0, false), (Clusters{0}));
  }
}

TEST(ClusterRuns, SplitsAtGapsAndAtTheRunLimit) {
  EXPECT_EQ(splitIntoRuns({}, 4).size(), 0u);
  auto runs = splitIntoRuns({5, 6, 7, 9, 10, 11, 12, 13, 3}, 4);
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].first, 5u);
  EXPECT_EQ(runs[0].count, 3u);
  EXPECT_EQ(runs[1].first, 9u);
  EXPECT_EQ(runs[1].count, 4u);
  EXPECT_EQ(runs[2].first, 13u);
  EXPECT_EQ(runs[2].count, 1u);
  EXPECT_EQ(runs[3].first, 3u);
  EXPECT_EQ(contiguousChain(7, 3), (Clusters{7, 8, 9}));
  EXPECT_EQ(contiguousChain(0xFFFFFFFE, 5).size(), 2u);
}

}  // namespace
}  // namespace dravolin::test

namespace dravolin::test {
namespace {

// A disk that fails every transfer reaching past its last sector.
class StrictEndSource final : public SectorSource {
 public:
  explicit StrictEndSource(SectorSource& inner) : inner_(inner) {}
  std::uint64_t sizeInBytes() const override { return inner_.sizeInBytes(); }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override {
    if (first + count > sectorCount()) return TransferStatus::IoError;
    return inner_.read(first, count, out);
  }
  std::string description() const override { return "strict"; }

 private:
  SectorSource& inner_;
};

TEST(ClusterChain, FatClaimingToGoPastTheSourceEndIsReadUpToIt) {
  SyntheticFat v(FatType::Fat16, 1, 4, 100);
  v.chain({5, 6, 7});
  VolumeParameters p = v.parameters;
  p.FatSectors = 300;  // far beyond the 2 + 1 + 4 + ... sectors the source holds
  p.Fat2Start = 1 + 300;
  v.source().bytes().resize(3 * kSectorSize);  // the boot sector and two FAT sectors
  StrictEndSource disk(v.source());
  ScriptedPrompter prompts;
  SectorReader reader(disk, &prompts);
  FatVolume volume(reader, *makeFatLayout(p, v.fileSystemType));
  auto chain = buildClusterChain(volume, 5, FatCopy::First);
  EXPECT_EQ(chain->clusters, (std::vector<std::uint32_t>{5, 6, 7}));
  EXPECT_EQ(chain->end, ChainEnd::EndOfChain);
  EXPECT_EQ(prompts.badSectorQuestions, 0);
  // Entries in the part of the FAT that is not there read as free.
  EXPECT_EQ(volume.readEntry(600, FatCopy::First), 0u);
}

}  // namespace
}  // namespace dravolin::test
