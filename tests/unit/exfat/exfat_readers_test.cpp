// The exFAT readers on the volume mkfs.exfat made and exfat-fuse filled
// (tests/fixtures/build-exfat-images.sh), and on copies damaged in memory:
// one damaged copy per failure the readers must survive.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>

#include "disk/memory_source.h"
#include "disk/sector_reader.h"
#include "exfat/directory_entry.h"
#include "exfat/exfat_volume.h"
#include "exfat/fat_table.h"
#include "exfat/file_copy.h"
#include "exfat/lost_volume.h"
#include "support/test_support.h"

namespace dravolin::test {
namespace {

namespace fs = std::filesystem;

fs::path exfatFixtures() {
  if (const char* dir = std::getenv("DRAVOLIN_EXFAT_FIXTURES")) return dir;
  return fixturePath("exfat");
}

class ExfatReaders : public ::testing::Test {
 protected:
  void SetUp() override {
    if (fs::exists(exfatFixtures() / "SKIPPED")) GTEST_SKIP() << "exFAT fixtures were not built";
    const fs::path image = exfatFixtures() / "exfat.img";
    ASSERT_TRUE(fs::exists(image)) << image;
    const std::string data = readFile(image);
    bytes.resize(data.size());
    std::memcpy(bytes.data(), data.data(), data.size());
  }
  std::vector<std::byte> bytes;
};

// Boot region: a damaged main region gives way to the backup at sector 12;
// both damaged is Corrupt, never a wrong geometry.
TEST_F(ExfatReaders, BootRegionFallsBackToItsBackup) {
  struct Case {
    const char* name;
    std::function<void(std::vector<std::byte>&)> damage;
    bool valid;
    bool fromBackup;
  };
  const std::vector<Case> cases = {
      {"intact", [](auto&) {}, true, false},
      {"main serial number changed (checksum fails)", [](auto& b) { b[kExfatSerialNumber] ^= std::byte{1}; }, true,
       true},
      {"main extended boot sector changed", [](auto& b) { b[3 * 512 + 7] ^= std::byte{0x40}; }, true, true},
      {"main name wiped", [](auto& b) { b[kExfatNameOffset] = std::byte{0}; }, true, true},
      {"VolumeFlags and PercentInUse changed (outside the checksum)",
       [](auto& b) {
         b[kExfatVolumeFlags] ^= std::byte{2};
         b[kExfatPercentInUse] = std::byte{77};
       },
       true, false},
      {"main and backup damaged",
       [](auto& b) {
         b[kExfatSerialNumber] ^= std::byte{1};
         b[12 * 512 + kExfatSerialNumber] ^= std::byte{1};
       },
       false, false},
      {"sectors per cluster shift out of range in both",
       [](auto& b) {
         b[kExfatSectorsPerClusterShift] = std::byte{30};
         b[12 * 512 + kExfatSectorsPerClusterShift] = std::byte{30};
       },
       false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::byte> copy(bytes.begin(), bytes.begin() + 64 * 512);
    c.damage(copy);
    MemorySectorSource source(copy, true);
    SectorReader reader(source);
    auto geometry = readExfatGeometry(reader, 0);
    ASSERT_EQ(geometry.has_value(), c.valid) << (geometry ? "" : geometry.error().message);
    if (!c.valid) continue;
    EXPECT_EQ(geometry->fromBackup, c.fromBackup);
    // 64 MiB, 4 KiB clusters as mkfs.exfat was asked.
    EXPECT_EQ(geometry->end, 131072u);
    EXPECT_EQ(geometry->sectorsPerCluster, 8u);
  }
}

// Chains: each bad link ends the chain with its reason, within the bound.
TEST(ExfatChain, EndsAtEveryKindOfBadLink) {
  struct Case {
    const char* name;
    std::map<std::uint32_t, std::uint32_t> fat;
    std::uint64_t bound;
    std::vector<std::uint32_t> clusters;
    ExfatChainEnd end;
  };
  const std::vector<Case> cases = {
      {"ends properly", {{2, 3}, {3, 7}, {7, kExfatEndOfChain}}, 10, {2, 3, 7}, ExfatChainEnd::EndOfChain},
      {"cycle", {{2, 3}, {3, 4}, {4, 2}}, 1000, {2, 3, 4}, ExfatChainEnd::Cycle},
      {"self link", {{2, 2}}, 1000, {2}, ExfatChainEnd::Cycle},
      {"free link", {{2, 3}, {3, 0}}, 10, {2, 3}, ExfatChainEnd::Free},
      {"bad cluster", {{2, kExfatBadCluster}}, 10, {2}, ExfatChainEnd::Bad},
      {"beyond the heap", {{2, 5000}}, 10, {2}, ExfatChainEnd::OutOfRange},
      {"cut at the length asked for", {{2, 3}, {3, 4}, {4, 5}}, 2, {2, 3}, ExfatChainEnd::Length},
      {"unreadable FAT sector", {{2, 9}}, 10, {2, 9}, ExfatChainEnd::Unreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto chain = followExfatChain(
        [&](std::uint32_t cluster) -> std::optional<std::uint32_t> {
          auto it = c.fat.find(cluster);
          if (it == c.fat.end()) return std::nullopt;
          return it->second;
        },
        2, 100, c.bound);
    EXPECT_EQ(chain.clusters, c.clusters);
    EXPECT_EQ(chain.end, c.end);
  }
}

// Entry sets from the root folder exfat-fuse wrote: the live set decodes;
// its deleted form decodes as deleted; each damage is refused for its reason.
TEST_F(ExfatReaders, EntrySetsAreCheckedByTheirSetChecksum) {
  MemorySectorSource source(bytes, true);
  SectorReader reader(source);
  auto geometry = readExfatGeometry(reader, 0);
  ASSERT_TRUE(geometry.has_value());
  ExfatVolume volume(reader, *geometry);
  const auto clusters = volume.chain(geometry->boot.rootCluster, 0).clusters;
  std::vector<std::byte> root(clusters.size() * geometry->clusterBytes());
  volume.readClusters(clusters, root);
  std::size_t at = 0;
  while (at < root.size() && static_cast<std::uint8_t>(root[at]) != kExfatFileEntry) at += kExfatEntrySize;
  ASSERT_LT(at, root.size());
  const auto live = decodeExfatEntrySet(root, at);
  ASSERT_TRUE(live.set.has_value());
  // The first set is the folder "Docs", one 4 KiB cluster.
  EXPECT_EQ(live.set->name, u"Docs");
  EXPECT_TRUE(live.set->directory);
  EXPECT_EQ(live.set->dataLength, 4096u);
  const std::size_t entries = live.set->entries;

  struct Case {
    const char* name;
    std::function<void(std::span<std::byte>)> damage;
    EntrySetFault fault;
    bool inUse;
  };
  const std::vector<Case> cases = {
      {"deleted form of every entry",
       [entries](std::span<std::byte> s) {
         for (std::size_t e = 0; e < entries; ++e) s[e * 32] &= std::byte{0x7F};
       },
       EntrySetFault::None, false},
      {"a name character changed", [](std::span<std::byte> s) { s[2 * 32 + 2] ^= std::byte{1}; },
       EntrySetFault::BadChecksum, true},
      {"the data length changed", [](std::span<std::byte> s) { s[32 + kStreamDataLength] ^= std::byte{1}; },
       EntrySetFault::BadChecksum, true},
      {"only the File entry deleted", [](std::span<std::byte> s) { s[0] &= std::byte{0x7F}; },
       EntrySetFault::BadStream, false},
      {"secondary count 1", [](std::span<std::byte> s) { s[kFileSecondaryCount] = std::byte{1}; },
       EntrySetFault::BadSecondaryCount, true},
      {"name longer than its entries", [](std::span<std::byte> s) { s[32 + kStreamNameLength] = std::byte{200}; },
       EntrySetFault::BadName, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::byte> copy(root.begin() + static_cast<std::ptrdiff_t>(at),
                                root.begin() + static_cast<std::ptrdiff_t>(at + entries * 32));
    c.damage(copy);
    const auto outcome = decodeExfatEntrySet(copy, 0);
    EXPECT_EQ(outcome.fault, c.fault);
    if (c.fault == EntrySetFault::None) {
      ASSERT_TRUE(outcome.set.has_value());
      EXPECT_EQ(outcome.set->inUse, c.inUse);
      EXPECT_EQ(outcome.set->name, u"Docs");
    }
  }
  // A set cut short by the end of the buffer.
  EXPECT_EQ(decodeExfatEntrySet(ByteSpan(root).subspan(at, 64), 0).fault, EntrySetFault::Truncated);
}

// Times: local time with the 10 ms increment, moved to UTC by a valid
// offset and taken as it stands without one.
TEST(ExfatTimestamp, TakesTheIncrementAndTheUtcOffset) {
  // 2024-03-05 10:20:30 local: year 44, month 3, day 5, 10:20, 15 double seconds.
  const std::uint32_t packed = (44u << 25) | (3u << 21) | (5u << 16) | (10u << 11) | (20u << 5) | 15u;
  // 2024-03-05T09:20:31.5Z: one hour east of UTC, 150 x 10 ms.
  EXPECT_EQ(exfatTimestampToFileTime({packed, 150, 0x80 | 4}), 133541040315000000ULL);
  // No valid offset: 10:20:31.5 as it stands.
  EXPECT_EQ(exfatTimestampToFileTime({packed, 150, 4}), 133541040315000000ULL + 36000000000ULL);
  // West of UTC (-5 h = -20 steps, 7-bit two's complement).
  EXPECT_EQ(exfatTimestampToFileTime({packed, 0, 0x80 | (128 - 20)}),
            133541040315000000ULL - 15000000 + 5 * 36000000000ULL + 36000000000ULL);
  EXPECT_EQ(exfatTimestampToFileTime({0, 0, 0}), 0u);  // no date
}

// Copying: past ValidDataLength the bytes are zeros; a size beyond the heap
// is clipped to the clusters the heap holds.
TEST_F(ExfatReaders, CopyZerosPastValidLengthAndClipsAtTheHeapEnd) {
  MemorySectorSource source(bytes, true);
  SectorReader reader(source);
  auto geometry = readExfatGeometry(reader, 0);
  ASSERT_TRUE(geometry.has_value());
  ExfatVolume volume(reader, *geometry);
  const std::uint64_t clusterBytes = geometry->clusterBytes();
  const std::uint32_t last = kExfatFirstCluster + geometry->clusterCount - 1;
  const std::uint32_t first = last - 3;  // four clusters to the end of the heap
  ExfatStream stream{first, 10 * clusterBytes, clusterBytes + 100, true, false};
  std::vector<std::byte> buffer(4 << 20), saved;
  const auto outcome = copyExfatStream(
      volume, stream, buffer,
      [&](std::span<const std::byte> piece) {
        saved.insert(saved.end(), piece.begin(), piece.end());
        return true;
      },
      [] { return true; });
  EXPECT_TRUE(outcome.clipped);
  EXPECT_EQ(outcome.savableSize, 4 * clusterBytes);
  ASSERT_EQ(saved.size(), 4 * clusterBytes);
  const std::size_t at = static_cast<std::size_t>(geometry->clusterSector(first) * 512);
  EXPECT_TRUE(std::equal(saved.begin(), saved.begin() + static_cast<std::ptrdiff_t>(clusterBytes + 100),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at)));
  EXPECT_TRUE(std::all_of(saved.begin() + static_cast<std::ptrdiff_t>(clusterBytes + 100), saved.end(),
                          [](std::byte b) { return b == std::byte{0}; }));
}

// Lost partitions: the backup boot sector alone (main one wiped) stands for
// the volume at its start, placed by the FAT.
TEST_F(ExfatReaders, LostExaminerPlacesABackupAtItsVolume) {
  // The volume's first 8,192 sectors (boot regions and FAT) at sector 2048.
  std::vector<std::byte> disk((2048 + 8192) * 512);
  std::copy(bytes.begin(), bytes.begin() + 8192 * 512, disk.begin() + 2048 * 512);
  std::fill(disk.begin() + 2048 * 512, disk.begin() + 2049 * 512, std::byte{0});  // main boot sector wiped
  ExfatLostExaminer examiner;
  examiner.examine(disk, 0);
  ASSERT_EQ(examiner.candidates().size(), 1u);
  EXPECT_EQ(examiner.candidates()[0].sector, 2048u + 12u);
  const auto volumes = examiner.finish([&](std::uint64_t sector) -> std::optional<std::uint32_t> {
    if ((sector + 1) * 512 > disk.size()) return std::nullopt;
    return readU32(disk, static_cast<std::size_t>(sector * 512));
  });
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0].start, 2048u);
  EXPECT_EQ(volumes[0].end, 2048u + 131072u);
}

}  // namespace
}  // namespace dravolin::test
