// The FAT searches on a failing disk: the fixture images read through a
// source that fails chosen sectors. An unreadable folder sector costs the
// entries it held and nothing more, an unreadable link of a folder's chain
// is read from the other FAT, and each loss is named with its folder.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "app/volume_check.h"
#include "disk/fault_injecting_source.h"
#include "disk/file_source.h"
#include "fat/cluster_chain.h"
#include "fat/directory_entry.h"
#include "fat/fat_search.h"
#include "fat_test_support.h"

namespace dravolin::test {
namespace {

namespace fs = std::filesystem;

struct Searched {
  FoundEntries entries;
  bool exhaustive = false;
  RecordingJob job;
};

// Runs a search on the volume as the wizard committed it from the healthy
// image (the volume check reads the first FAT sectors, which some cases
// make fail); unreadable sectors are retried one by one, so exactly the
// failing ones are lost.
void search(SectorSource& source, SectorSource& healthy, FsType type, bool exhaustive, Searched& out) {
  SectorReader check(healthy);
  const std::uint64_t end = source.sectorCount();
  auto checked = checkVolume(check, type, 0, end);
  ASSERT_TRUE(checked);
  out.job.prompts.badSectorAnswers = {BadSectorAnswer::RetryAll};
  SectorReader reader(source, &out.job.prompts);
  reader.setSelectionEnd(static_cast<std::int64_t>(end));
  out.exhaustive = exhaustive;
  FatSearchContext ctx{.reader = reader,
                       .parameters = *checked,
                       .fileSystemType = type,
                       .entries = out.entries,
                       .exhaustiveSearch = out.exhaustive,
                       .partitionEnd = end};
  if (exhaustive) runFatExhaustiveSearch(out.job, ctx);
  else runFatDirectoryTreeSearch(out.job, ctx);
}

// A file as both searches identify it, whatever its name.
using FileKey = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, bool>;  // parent, cluster, size, deleted

std::map<FileKey, std::string> filesOf(const FoundEntries& entries) {
  std::map<FileKey, std::string> out;
  for (const FileNode& f : entries.FileList)
    out[{f.parentId, f.firstCluster, static_cast<std::uint32_t>(f.size), f.isDeleted()}] = nameOf(f);
  return out;
}

// The folders above a folder (its own id included), by the healthy listing.
std::set<std::uint32_t> selfAndAncestors(const FoundEntries& entries, std::uint32_t folder) {
  std::set<std::uint32_t> out;
  for (int depth = 0; depth < 64 && out.insert(folder).second && folder != 0; ++depth) {
    const std::ptrdiff_t at = entries.findDirectory(folder);
    if (at < 0) break;
    folder = entries.DirectoryList[static_cast<std::size_t>(at)].parentId;
  }
  return out;
}

// A short name as the volume stores it: no lower case, no space.
bool looksShort(const std::string& name) {
  return name.size() <= 12 && std::none_of(name.begin(), name.end(), [](char c) { return c == ' ' || std::islower(static_cast<unsigned char>(c)); });
}

enum class Damage { FolderSector, RootSector, BothFats, FirstFatOnly };

struct Layout {
  VolumeParameters parameters;
  std::uint32_t folder = 0;            // /Documents/Many notes
  std::vector<std::uint32_t> chain;    // its clusters
  std::uint64_t fatSectorOfLink = 0;   // offset in a FAT of the sector holding its first link
};

Layout layoutOf(SectorSource& image, FsType type, const FoundEntries& healthy) {
  Layout out;
  SectorReader reader(image);
  out.parameters = checkVolume(reader, type, 0, image.sectorCount()).value();
  for (const DirectoryNode& d : healthy.DirectoryList)
    if (nameOf(d) == "Many notes") out.folder = d.ownId;
  EXPECT_NE(out.folder, 0u);
  FatVolume volume(reader, makeFatLayout(out.parameters, type).value());
  out.chain = directoryChain(volume, out.folder, false);
  const std::uint64_t entryBytesTimesTwo = type == FsType::Fat12 ? 3 : type == FsType::Fat16 ? 4 : 8;
  out.fatSectorOfLink = std::uint64_t{out.folder} * entryBytesTimesTwo / 2 / kSectorSize;
  return out;
}

// The clusters named by the short entries of the given sectors of the image.
std::set<std::uint32_t> clustersNamedIn(SectorSource& image, const std::set<SectorNumber>& sectors, bool lowWordOnly) {
  std::set<std::uint32_t> out;
  for (SectorNumber s : sectors) {
    std::vector<std::byte> bytes(kSectorSize);
    EXPECT_EQ(image.read(s, 1, bytes), TransferStatus::Ok);
    for (std::size_t e = 0; e < kSectorSize; e += 32) {
      const auto first = readU8(bytes, e);
      if (first == 0 || first == '.' || readU8(bytes, e + 11) == 0x0F) continue;
      out.insert(lowWordOnly ? readU16(bytes, e + 26) : makeClusterNumber(ByteSpan(bytes).subspan(e, 32)));
    }
  }
  return out;
}

TEST(FatReadLoss, EveryReadableEntryIsListedAndEveryLossNamed) {
  struct Case {
    const char* image;
    FsType type;
    Damage damage;
  } cases[] = {
      {"fat12.img", FsType::Fat12, Damage::FolderSector}, {"fat16.img", FsType::Fat16, Damage::FolderSector},
      {"fat32.img", FsType::Fat32, Damage::FolderSector}, {"fat12.img", FsType::Fat12, Damage::RootSector},
      {"fat16.img", FsType::Fat16, Damage::RootSector},   {"fat12.img", FsType::Fat12, Damage::BothFats},
      {"fat32.img", FsType::Fat32, Damage::BothFats},     {"fat16.img", FsType::Fat16, Damage::FirstFatOnly},
      {"fat32.img", FsType::Fat32, Damage::FirstFatOnly},
  };
  for (const Case& c : cases) {
    if (!fs::exists(fixturePath(c.image))) GTEST_SKIP() << "fixture images not built";
    auto opened = FileSectorSource::open(fixturePath(c.image).string());
    ASSERT_TRUE(opened);
    SectorSource& image = **opened;
    for (bool exhaustive : {false, true}) {
      SCOPED_TRACE(std::string(c.image) + " damage " + std::to_string(static_cast<int>(c.damage)) +
                   (exhaustive ? " exhaustive" : " tree"));
      Searched healthy;
      search(image, image, c.type, exhaustive, healthy);
      const Layout layout = layoutOf(image, c.type, healthy.entries);
      ASSERT_GE(layout.chain.size() * layout.parameters.SectorsPerCluster, 4u);
      const VolumeParameters& p = layout.parameters;

      std::set<SectorNumber> bad;
      std::uint32_t lostFolder = layout.folder;
      switch (c.damage) {
        case Damage::FolderSector: {
          // The folder's second sector: entries 16 to 31.
          const std::uint64_t spc = p.SectorsPerCluster;
          bad = {p.ClusterBase + std::uint64_t{layout.chain[1 / spc]} * spc + 1 % spc};
          break;
        }
        case Damage::RootSector:
          bad = {p.RootDirStart + 1};
          lostFolder = 0;
          break;
        case Damage::BothFats: bad = {p.Fat1Start + layout.fatSectorOfLink, p.Fat2Start + layout.fatSectorOfLink}; break;
        case Damage::FirstFatOnly: bad = {p.Fat1Start + layout.fatSectorOfLink}; break;
      }
      FaultInjectingSource failing(image, bad);
      Searched damaged;
      search(failing, image, c.type, exhaustive, damaged);

      const auto before = filesOf(healthy.entries);
      const auto after = filesOf(damaged.entries);
      const auto& losses = damaged.entries.Losses.list;
      if (c.damage == Damage::FirstFatOnly) {
        EXPECT_EQ(after, before);
        EXPECT_TRUE(losses.empty());
        continue;
      }
      if (c.damage == Damage::BothFats) {
        std::set<std::uint32_t> cut;
        for (const ReadLoss& loss : losses) {
          EXPECT_EQ(loss.kind, ReadLossKind::FatChain);
          EXPECT_EQ(loss.sectors, (std::vector<SectorRange>{{*bad.begin(), *bad.begin() + 1},
                                                            {*bad.rbegin(), *bad.rbegin() + 1}}));
          cut.insert(loss.folderId);
        }
        EXPECT_TRUE(cut.contains(layout.folder));
        std::size_t stillInFolder = 0;
        for (const auto& [key, name] : after) {
          EXPECT_TRUE(before.contains(key)) << name;
          if (std::get<0>(key) == layout.folder) ++stillInFolder;
        }
        // The folder's first cluster is still read.
        EXPECT_GT(stillInFolder, 0u);
        for (const auto& [key, name] : before) {
          if (after.contains(key)) continue;
          std::set<std::uint32_t> above = selfAndAncestors(healthy.entries, std::get<0>(key));
          EXPECT_TRUE(std::any_of(above.begin(), above.end(), [&](std::uint32_t f) { return cut.contains(f); }))
              << "lost without a named cause: " << name;
        }
        continue;
      }

      // Folder sectors: exactly the entries of the failing sector are lost,
      // and in the tree search what lay below the folders they named.
      ASSERT_EQ(losses.size(), 1u);
      EXPECT_EQ(losses[0].kind, ReadLossKind::FolderSectors);
      EXPECT_EQ(losses[0].folderId, lostFolder);
      EXPECT_EQ(losses[0].sectors, (std::vector<SectorRange>{{*bad.begin(), *bad.begin() + 1}}));
      EXPECT_EQ(losses[0].entriesLost, 16u);
      const bool lowWordOnly = lostFolder == 0 && c.type != FsType::Fat32;
      const std::set<std::uint32_t> gone = clustersNamedIn(image, bad, lowWordOnly);
      ASSERT_FALSE(gone.empty());
      auto lostWithEntry = [&](std::uint32_t parent, std::uint32_t cluster) {
        if (parent == lostFolder && gone.contains(cluster)) return true;
        if (exhaustive) return false;  // the sweep finds folders by their own clusters
        for (std::uint32_t above : selfAndAncestors(healthy.entries, parent)) {
          const std::ptrdiff_t at = healthy.entries.findDirectory(above);
          if (at >= 0 && healthy.entries.DirectoryList[static_cast<std::size_t>(at)].parentId == lostFolder &&
              gone.contains(above))
            return true;
        }
        return false;
      };
      std::map<FileKey, std::string> expected;
      for (const auto& [key, name] : before)
        if (!lostWithEntry(std::get<0>(key), std::get<1>(key))) expected[key] = name;
      EXPECT_LT(expected.size(), before.size());
      ASSERT_EQ(after.size(), expected.size());
      std::size_t renamed = 0;
      for (const auto& [key, name] : expected) {
        auto it = after.find(key);
        ASSERT_NE(it, after.end()) << "not listed: " << name;
        // A long name cut by the gap gives way to the short name.
        if (it->second != name) {
          ++renamed;
          EXPECT_TRUE(looksShort(it->second)) << it->second << " for " << name;
        }
      }
      EXPECT_LE(renamed, 1u);
    }
  }
}

// A long name whose first pieces lay in the failing sector is not glued to
// what came before the gap: the entry keeps its short name. A name wholly
// after the gap is read as usual.
TEST(FatReadLoss, LongNameCutByTheGapGivesWayToTheShortName) {
  for (bool exhaustive : {false, true}) {
    SyntheticFat v(FatType::Fat32, 1, 16, 100);
    // Folder at cluster 10, over clusters 10, 11, 12: 14 entries of long
    // names fill sector 10 after the dots; then a name of 3 pieces starting
    // in the last entry of cluster 11 and ending in cluster 12.
    std::vector<RawEntry> entries;
    for (int i = 0; i < 7; ++i) {
      auto named = namedEntry(u"first file " + std::u16string(1, char16_t(u'a' + i)), "FIRST" + std::string(1, char('A' + i)) + "  TXT",
                              0x20, 20 + i, 10);
      entries.insert(entries.end(), named.begin(), named.end());
    }
    // Sector 11: 15 entries of a long name run (a name whose short entry
    // was damaged into a long-name entry would be orphaned: here simply
    // pieces of a 5-piece name), then the start of the next name.
    for (int i = 0; i < 15; ++i) {
      auto named = namedEntry(u"x", "XFILE" + std::string(1, char('A' + i % 26)) + "  TXT", 0x20, 40 + i, 10);
      entries.push_back(named.back());
    }
    auto cut = namedEntry(u"a name of three pieces that spans.txt", "ANAMEO~1TXT", 0x20, 60, 10);
    ASSERT_EQ(cut.size(), 4u);
    entries.insert(entries.end(), cut.begin(), cut.end());
    auto after = namedEntry(u"after the gap.txt", "AFTERT~1TXT", 0x20, 61, 10);
    entries.insert(entries.end(), after.begin(), after.end());
    v.writeDirectory({10, 11, 12}, 0, entries);
    auto folder = namedEntry(u"Folder", "FOLDER     ", 0x10, 10);
    v.writeRoot(folder);
    FaultInjectingSource failing(v.source(), {v.clusterSector(11)});
    Searched out;
    out.job.prompts.badSectorAnswers = {BadSectorAnswer::RetryAll};
    SectorReader reader(failing, &out.job.prompts);
    FatSearchContext ctx{.reader = reader,
                         .parameters = v.parameters,
                         .fileSystemType = v.fileSystemType,
                         .entries = out.entries,
                         .exhaustiveSearch = out.exhaustive,
                         .partitionEnd = v.end};
    if (exhaustive) runFatExhaustiveSearch(out.job, ctx);
    else runFatDirectoryTreeSearch(out.job, ctx);
    std::map<std::uint32_t, std::string> byCluster;
    for (const FileNode& f : out.entries.FileList) byCluster[f.firstCluster] = nameOf(f);
    EXPECT_EQ(byCluster[20], "first file a");
    EXPECT_FALSE(byCluster.contains(40));  // in the failing sector
    EXPECT_EQ(byCluster[60], "ANAMEO~1.TXT") << "exhaustive " << exhaustive;
    EXPECT_EQ(byCluster[61], "after the gap.txt");
    ASSERT_EQ(out.entries.Losses.list.size(), 1u);
    EXPECT_EQ(out.entries.Losses.list[0].folderId, 10u);
    EXPECT_EQ(out.entries.Losses.list[0].entriesLost, 16u);
  }
}

}  // namespace
}  // namespace dravolin::test
