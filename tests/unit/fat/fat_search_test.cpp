#include "fat/fat_search.h"

#include <gtest/gtest.h>

#include <map>

#include "disk/fault_injecting_source.h"
#include "fat/result_assembly.h"
#include "fat_test_support.h"

namespace dravolin::test {
namespace {

using Paths = std::vector<std::string>;

struct SearchRun {
  FoundEntries entries;
  bool exhaustive = false;
  RecordingJob job;

  void tree(SyntheticFat& v, SectorSource* source = nullptr) { run(v, source, false); }
  void sweep(SyntheticFat& v, SectorSource* source = nullptr) { run(v, source, true); }

 private:
  void run(SyntheticFat& v, SectorSource* source, bool exhaustiveSearch) {
    SectorReader reader(source ? *source : v.source(), &job.prompts);
    reader.setSelectionEnd(static_cast<std::int64_t>(v.end));
    exhaustive = exhaustiveSearch;
    FatSearchContext ctx{.reader = reader,
                         .parameters = v.parameters,
                         .fileSystemType = v.fileSystemType,
                         .entries = entries,
                         .exhaustiveSearch = exhaustive,
                         .partitionEnd = v.end};
    if (exhaustiveSearch) runFatExhaustiveSearch(job, ctx);
    else runFatDirectoryTreeSearch(job, ctx);
  }
};

// Deleted entries that fill a directory without ending it.
std::vector<RawEntry> padding(std::size_t count) {
  return std::vector<RawEntry>(count, deletedCopy(shortEntry("PAD     TXT", 0x20, 0)));
}

const DirectoryNode* directoryById(const FoundEntries& e, std::uint32_t id) {
  auto i = e.findDirectory(id);
  return i < 0 ? nullptr : &e.DirectoryList[static_cast<std::size_t>(i)];
}

// A FAT16 volume with 4 sectors per cluster: root files (one deleted, one
// empty, one with a long name), a folder DOCS at cluster 10 holding a file
// and a folder SUB at 12 with a file, and a deleted folder OLD at 20.
SyntheticFat sampleVolume(FatType type = FatType::Fat16) {
  SyntheticFat v(type, 4, 16, 200);
  std::vector<RawEntry> root = {shortEntry("README  TXT", 0x20, 3, 100), deletedCopy(shortEntry("README  BAK", 0x20, 4, 50)),
                                shortEntry("EMPTY   TXT", 0x20, 0, 0), shortEntry("DOCS       ", 0x10, 10),
                                deletedCopy(shortEntry("OLD        ", 0x10, 20))};
  auto named = namedEntry(u"Caf\u00e9 cr\u00e8me.txt", "CAFCR~1 TXT", 0x20, 5, 2000);
  root.insert(root.end(), named.begin(), named.end());
  v.writeRoot(root, {2});
  v.chain({3});
  v.chain({5});
  v.writeDirectory({10, 11}, 0, {shortEntry("NOTES   TXT", 0x20, 30, 700), shortEntry("SUB        ", 0x10, 12)});
  v.writeDirectory({12}, 10, {shortEntry("DEEP    DAT", 0x20, 31, 10)});
  // The deleted folder keeps its "." and ".." but its chain is freed; its
  // entries are live as far as their own first byte goes.
  v.writeDirectory({20}, 0, {shortEntry("KEPT    TXT", 0x20, 40, 5)}, false);
  return v;
}

const Paths kSamplePaths = {
    "Caf\u00e9 cr\u00e8me.txt", "DOCS/", "DOCS/NOTES.TXT", "DOCS/SUB/", "DOCS/SUB/DEEP.DAT",
    "README.TXT", "_EADME.BAK (deleted)", "_LD/ (deleted)", "_LD/KEPT.TXT (deleted)",
};

TEST(FatTreeSearch, ListsLiveDeletedAndLongNamedEntries) {
  for (FatType type : {FatType::Fat12, FatType::Fat16, FatType::Fat32}) {
    SyntheticFat v = sampleVolume(type);
    SearchRun r;
    r.tree(v);
    EXPECT_EQ(treePaths(r.entries), kSamplePaths) << v.typeName;
    EXPECT_EQ(r.entries.DirectoryCount, 3u);
    EXPECT_EQ(r.entries.FileCount, 6u);
    EXPECT_EQ(r.entries.TotalSize, 100u + 50 + 2000 + 700 + 10 + 5);
    // The tree search ends by stopping itself; it does not switch.
    EXPECT_EQ(r.job.completion, Completion::Stopped);
    EXPECT_EQ(r.job.completions, 1);
    EXPECT_TRUE(r.job.stopRequested());
    EXPECT_FALSE(r.exhaustive);
    EXPECT_EQ(r.job.statisticsCalls, 9u);
    EXPECT_EQ(r.job.lastStatistics.format, StatisticsFormat::Size);
    EXPECT_TRUE(r.job.prompts.messages.empty());
  }
}

TEST(FatTreeSearch, RecordsNamesTimesAndIdentifiers) {
  SyntheticFat v = sampleVolume();
  SearchRun r;
  r.tree(v);
  const FileNode& readme = r.entries.FileList[0];
  EXPECT_EQ(readme.narrowName, "README.TXT");
  EXPECT_TRUE(readme.wideName.empty());
  EXPECT_EQ(readme.firstCluster, 3u);
  EXPECT_EQ(readme.parentId, 0u);
  EXPECT_EQ(readme.fileIndex, 0u);
  EXPECT_EQ(readme.times, (EntryTimes{0x5A21, 0x6000, 0x5A20, 0x1111, 0x5A22, 0}));
  const FileNode& cafe = r.entries.FileList[2];
  EXPECT_TRUE(cafe.narrowName.empty());
  EXPECT_EQ(cafe.wideName, u"Caf\u00e9 cr\u00e8me.txt");
  const DirectoryNode* sub = directoryById(r.entries, 12);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->parentId, 10u);
  EXPECT_EQ(sub->narrowName, "SUB");
}

TEST(FatTreeSearch, FatSixteenRootTakesTheLowClusterWordOnly) {
  SyntheticFat v(FatType::Fat16, 1, 16, 100);
  v.writeRoot({shortEntry("A       TXT", 0x20, 0x00050007, 9)});
  SearchRun r;
  r.tree(v);
  ASSERT_EQ(r.entries.FileList.size(), 1u);
  EXPECT_EQ(r.entries.FileList[0].firstCluster, 7u);
}

TEST(FatTreeSearch, DeletedFolderIsReadOver26ClustersAndMarksEverythingDeleted) {
  SyntheticFat v(FatType::Fat16, 1, 16, 200);
  v.writeRoot({deletedCopy(shortEntry("GONE       ", 0x10, 50))});
  std::vector<std::uint32_t> chain;
  for (std::uint32_t c = 50; c < 90; ++c) chain.push_back(c);
  // Deleted padding everywhere, so no end mark ends the folder early; one
  // file in the 26th cluster and one in the 27th (16 entries a cluster).
  auto entries = padding(16 * 40 - 2);
  entries[16 * 25] = shortEntry("IN26    TXT", 0x20, 150, 1);  // first entry of cluster 75
  entries[16 * 26] = shortEntry("IN27    TXT", 0x20, 151, 1);  // first entry of cluster 76
  v.writeDirectory(chain, 0, entries);
  SearchRun r;
  r.tree(v);
  EXPECT_EQ(treePaths(r.entries), (Paths{"_ONE/ (deleted)", "_ONE/IN26.TXT (deleted)"}));
}

TEST(FatTreeSearch, ReusedFolderClusterContributesNothing) {
  SyntheticFat v(FatType::Fat16, 1, 16, 100);
  v.writeRoot({shortEntry("DOCS       ", 0x10, 10)});
  // Cluster 10 now holds file data that happens to look like entries.
  v.writeEntries({v.clusterSector(10)}, {shortEntry("GHOST   TXT", 0x20, 11, 5)});
  v.chain({10});
  SearchRun r;
  r.tree(v);
  EXPECT_EQ(treePaths(r.entries), (Paths{"DOCS/"}));
}

TEST(FatTreeSearch, LiveEntryWinsOverDeletedOneForTheSameFolder) {
  SyntheticFat v(FatType::Fat16, 1, 16, 100);
  v.writeRoot({deletedCopy(shortEntry("OLDNAME    ", 0x10, 10)), shortEntry("NEWNAME    ", 0x10, 10)});
  v.writeDirectory({10}, 0, {shortEntry("F       TXT", 0x20, 20, 3)});
  SearchRun r;
  r.tree(v);
  EXPECT_EQ(treePaths(r.entries), (Paths{"NEWNAME/", "NEWNAME/F.TXT"}));
  EXPECT_EQ(r.entries.DirectoryCount, 1u);
}

TEST(FatTreeSearch, EndsOnCyclicChainsAndFoldersThatNameThemselves) {
  SyntheticFat v(FatType::Fat32, 1, 16, 100);
  v.writeRoot({shortEntry("LOOPY      ", 0x10, 10), shortEntry("A          ", 0x10, 20)}, {2});
  // LOOPY's chain is 10 -> 11 -> 10; its entries go on over both clusters.
  v.writeDirectory({10, 11}, 0, padding(14), false);
  v.setFat(10, 11);
  v.setFat(11, 10);
  std::vector<RawEntry> eleven(16, shortEntry("X       TXT", 0x20, 30, 1));
  v.writeEntries({v.clusterSector(11)}, eleven);
  // A names itself, its parent (the root cluster) and its child B; B names A.
  v.writeDirectory({20}, 0, {shortEntry("SELF       ", 0x10, 20), shortEntry("ROOT       ", 0x10, 2),
                             shortEntry("B          ", 0x10, 21)});
  v.writeDirectory({21}, 20, {shortEntry("UP         ", 0x10, 20), shortEntry("Y       TXT", 0x20, 31, 1)});
  SearchRun r;
  r.tree(v);
  EXPECT_EQ(r.job.completion, Completion::Stopped);
  EXPECT_EQ(r.entries.DirectoryCount, 4u);  // LOOPY, A, ROOT, B: one node each
  EXPECT_EQ(r.entries.FileCount, 17u);      // 16 in cluster 11 read once, and Y
  const DirectoryNode* b = directoryById(r.entries, 21);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->parentId, 20u);
}

TEST(FatTreeSearch, ReadsLargeClustersInGroups) {
  for (std::uint32_t spc : {4u, 64u}) {
    SyntheticFat v(FatType::Fat16, spc, 16, 20);
    v.writeRoot({shortEntry("BIG        ", 0x10, 5)});
    // An entry in the last sector of each cluster; deleted padding before
    // them so the directory does not end early.
    auto entries = padding(32 * spc - 2);
    entries[16 * spc - 3] = shortEntry("END5    TXT", 0x20, 9, 1);  // last entry of cluster 5
    entries[32 * spc - 3] = shortEntry("END6    TXT", 0x20, 9, 1);  // last entry of cluster 6
    v.writeDirectory({5, 6}, 0, entries);
    SearchRun r;
    r.tree(v);
    EXPECT_EQ(treePaths(r.entries), (Paths{"BIG/", "BIG/END5.TXT", "BIG/END6.TXT"})) << spc;
  }
}

TEST(FatTreeSearch, LongNameAcrossFragmentedClustersComesFromTheChain) {
  // FAT32 root over clusters 2 and 9 (not adjacent): the long name begins at
  // the end of cluster 2 and its short entry starts cluster 9.
  SyntheticFat v(FatType::Fat32, 1, 16, 40);
  std::vector<RawEntry> root(13, deletedCopy(shortEntry("PAD     TXT", 0x20, 0)));
  auto named = namedEntry(u"A name spread over two clusters.txt", "ANAMES~1TXT", 0x20, 20, 42);
  root.insert(root.end(), named.begin(), named.end());
  v.writeRoot(root, {2, 9});
  // The sector physically before cluster 9 holds unrelated entries.
  v.writeEntries({v.clusterSector(8)}, std::vector<RawEntry>(16, shortEntry("JUNK    BIN", 0x20, 33, 1)));
  SearchRun r;
  r.tree(v);
  ASSERT_EQ(r.entries.FileList.size(), 1u);
  EXPECT_EQ(nameOf(r.entries.FileList[0]), "A name spread over two clusters.txt");
}

TEST(FatTreeSearch, EmptyVolumeSwitchesToTheExhaustiveSearch) {
  SyntheticFat v(FatType::Fat16, 1, 16, 100);
  SearchRun r;
  r.tree(v);
  ASSERT_EQ(r.job.prompts.messages.size(), 1u);
  EXPECT_EQ(r.job.prompts.messages[0],
            "Switching to Exhaustive Search for Lost files & folders. This will take long time.");
  EXPECT_TRUE(r.exhaustive);
  EXPECT_EQ(r.job.completion, Completion::SearchDone);
  EXPECT_EQ(r.job.completions, 1);
  EXPECT_TRUE(r.entries.DirectoryList.empty()) << "an empty Lost is not shown";
  EXPECT_GT(r.job.sectorReports, 0u);
}

TEST(FatTreeSearch, StopEndsTheSearchWithoutSwitching) {
  SyntheticFat v = sampleVolume();
  SearchRun r;
  r.job.onStatistics = [](RecordingJob& job, const SearchStatistics&) { job.requestStop(); };
  r.tree(v);
  EXPECT_EQ(r.job.completion, Completion::Stopped);
  EXPECT_FALSE(r.exhaustive);
  // The root was read; no folder was read after the stop.
  EXPECT_EQ(r.entries.FileCount, 3u);
}

// ---------------------------------------------------------------------------

TEST(FatExhaustiveSearch, FindsFoldersByTheirDotEntriesAndNamesThemFromTheirParents) {
  for (FatType type : {FatType::Fat12, FatType::Fat16, FatType::Fat32}) {
    SyntheticFat v = sampleVolume(type);
    SearchRun r;
    r.sweep(v);
    EXPECT_EQ(treePaths(r.entries), (Paths{"Caf\u00e9 cr\u00e8me.txt", "DOCS/", "DOCS/NOTES.TXT", "DOCS/SUB/",
                                            "DOCS/SUB/DEEP.DAT", "README.TXT",
                                            "_EADME.BAK (deleted)", "_LD/ (deleted)", "_LD/KEPT.TXT (deleted)"}))
        << v.typeName;
    // Lost holds nothing and is not shown; the folders were numbered after it.
    EXPECT_LT(r.entries.findDirectory(kLostId), 0);
    EXPECT_EQ(r.entries.DirectoryCount, 3u);
    EXPECT_EQ(r.job.completion, Completion::SearchDone);
    EXPECT_EQ(r.job.statuses,
              (std::vector<std::string>{"Step 1/5 :- Searching Directories. Please Wait...",
                                        "Step 2/5 :- Searching Lost Directories. Please Wait...  ",
                                        "Step 3/5 :- Inserting Root Directory & Enumerating Files. Please Wait...  ",
                                        "Step 4/5 :- Inserting Sub Directories & Enumerating Files. Please Wait...  "}));
    for (int p : r.job.percents) EXPECT_LE(p, 100);
    EXPECT_EQ(r.job.sectorReports, 200u);  // one report per cluster of the data area
  }
}

TEST(FatExhaustiveSearch, UnnamedFoldersKeepTheirNumbers) {
  SyntheticFat v(FatType::Fat16, 1, 16, 100);
  // Two folders under a folder (cluster 10) whose own cluster was reused.
  v.writeDirectory({20}, 10, {shortEntry("A       TXT", 0x20, 40, 11)});
  v.writeDirectory({30}, 20, {shortEntry("B       TXT", 0x20, 41, 12)});
  // A copied directory cluster: "." names 20, but it lies at 50.
  v.writeDirectory({50}, 10, {shortEntry("COPY    TXT", 0x20, 42, 1)});
  v.writeEntries({v.clusterSector(50)}, {dotEntry(20)});
  SearchRun r;
  r.sweep(v);
  EXPECT_EQ(treePaths(r.entries), (Paths{"Lost/", "Lost/Dir1/", "Lost/Dir1/A.TXT", "Lost/Dir1/Dir2/",
                                          "Lost/Dir1/Dir2/B.TXT"}));
  const DirectoryNode* dir2 = directoryById(r.entries, 30);
  ASSERT_NE(dir2, nullptr);
  EXPECT_EQ(dir2->narrowName, "Dir2");
}

TEST(FatExhaustiveSearch, EndMarkInTheFirstRootSectorHidesNothingAfterIt) {
  SyntheticFat v(FatType::Fat16, 1, 16, 100);
  std::vector<RawEntry> root(16, RawEntry{});  // first sector: end mark at once
  root.push_back(shortEntry("LATE    TXT", 0x20, 7, 3));
  v.writeRoot(root);
  SearchRun r;
  r.sweep(v);
  EXPECT_EQ(treePaths(r.entries), (Paths{"LATE.TXT"}));
  // The tree search stops at the end mark of the root's first sector too:
  // in its root pass the mark ends only that sector.
  SearchRun t;
  t.tree(v);
  EXPECT_EQ(treePaths(t.entries), (Paths{"LATE.TXT"}));
}

TEST(FatExhaustiveSearch, DeletedFolderMarksItsFilesDeleted) {
  SyntheticFat v(FatType::Fat32, 1, 16, 100);
  v.writeRoot({deletedCopy(shortEntry("GONE       ", 0x10, 10))}, {2});
  v.writeDirectory({10}, 0, {shortEntry("LIVE    TXT", 0x20, 40, 3), shortEntry("INNER      ", 0x10, 11)});
  v.writeDirectory({11}, 10, {shortEntry("DEEP    TXT", 0x20, 41, 3)});
  SearchRun r;
  r.sweep(v);
  EXPECT_EQ(treePaths(r.entries), (Paths{"_ONE/ (deleted)", "_ONE/INNER/ (deleted)",
                                          "_ONE/INNER/DEEP.TXT (deleted)", "_ONE/LIVE.TXT (deleted)"}));
}

TEST(FatExhaustiveSearch, RenamedFolderKeepsItsLiveName) {
  SyntheticFat v(FatType::Fat16, 1, 16, 100);
  v.writeRoot({shortEntry("NEWNAME    ", 0x10, 10), deletedCopy(shortEntry("OLDNAME    ", 0x10, 10))});
  v.writeDirectory({10}, 0, {});
  SearchRun r;
  r.sweep(v);
  EXPECT_EQ(treePaths(r.entries), (Paths{"NEWNAME/"}));
}

TEST(FatExhaustiveSearch, FolderThatIsItsOwnParentShowsUnderLost) {
  SyntheticFat v(FatType::Fat16, 1, 16, 100);
  v.writeDirectory({10}, 10, {shortEntry("F       TXT", 0x20, 40, 3)});
  v.writeDirectory({11}, 12, {});
  v.writeDirectory({12}, 11, {});
  SearchRun r;
  r.sweep(v);
  EXPECT_EQ(treePaths(r.entries),
            (Paths{"Lost/", "Lost/Dir1/", "Lost/Dir1/F.TXT", "Lost/Dir2/", "Lost/Dir2/Dir3/"}));
}

TEST(FatExhaustiveSearch, StopEndsOnlyTheSweep) {
  SyntheticFat v = sampleVolume();
  SearchRun r;
  // Stop at the 9th cluster: DOCS (10), SUB (12) and OLD (20) are not found.
  r.job.onStatistics = [](RecordingJob& job, const SearchStatistics& s) {
    if (s.format == StatisticsFormat::Sector && job.sectorReports == 8) job.requestStop();
  };
  r.sweep(v);
  EXPECT_EQ(r.job.sectorReports, 8u);
  EXPECT_EQ(r.job.completion, Completion::SearchDone);
  EXPECT_EQ(treePaths(r.entries),
            (Paths{"Caf\u00e9 cr\u00e8me.txt", "README.TXT", "_EADME.BAK (deleted)"}));
}

TEST(FatExhaustiveSearch, AStopAfterTheSweepsOwnStopEndsTheReadingOfSubDirectories) {
  SyntheticFat v = sampleVolume();
  SearchRun full;
  full.sweep(v);
  const std::uint64_t sweepReports = full.job.sectorReports;
  // A stop at the sweep's last cluster ends the sweep (which ends there
  // anyway); a second stop once sub-directories are read ends step 4.
  SearchRun r;
  r.job.onStatistics = [&](RecordingJob& job, const SearchStatistics& s) {
    const bool stepFour = !job.statuses.empty() && job.statuses.back().starts_with("Step 4/5");
    if ((s.format == StatisticsFormat::Sector && job.sectorReports == sweepReports) || stepFour) job.requestStop();
  };
  r.sweep(v);
  EXPECT_EQ(r.job.completion, Completion::SearchDone);
  EXPECT_EQ(r.entries.DirectoryCount, full.entries.DirectoryCount);
  EXPECT_GT(r.entries.FileCount, 0u);
  EXPECT_LT(r.entries.FileCount, full.entries.FileCount);
}

TEST(FatExhaustiveSearch, SweepReadsOnlyTheFirstSectorOfEachClusterOnBadDisks) {
  SyntheticFat v = sampleVolume();
  // A bad sector inside the data of README.TXT (not the first of its
  // cluster) and one at the start of NOTES.TXT's: only the latter is asked
  // about. Neither lies in a folder.
  FaultInjectingSource faulty(v.source(), {v.clusterSector(3) + 2, v.clusterSector(30)});
  SearchRun r;
  r.job.prompts.badSectorAnswers = {BadSectorAnswer::Skip};
  r.sweep(v, &faulty);
  EXPECT_EQ(r.job.prompts.badSectorQuestions, 1);
  EXPECT_NE(directoryById(r.entries, 10), nullptr);
}

// ---------------------------------------------------------------------------

TEST(ReattachLostDirectories, MovesOrphansAndBreaksCycles) {
  FoundEntries e;
  e.addLostNode();
  e.AddDirectoryNode("A", u"", false, 0, 10, 0, {}, 0);
  e.AddDirectoryNode("B", u"", false, 10, 11, 0, {}, 0);
  e.AddDirectoryNode("Orphan", u"", false, 99, 12, 0, {}, 0);
  e.AddDirectoryNode("Other", u"", false, 10, 13, 0, {}, 1);  // parent only in partition 0
  e.AddDirectoryNode("InLost", u"", false, kLostId, 14, 0, {}, 0);
  e.AddDirectoryNode("C1", u"", false, 16, 15, 0, {}, 0);
  e.AddDirectoryNode("C2", u"", false, 15, 16, 0, {}, 0);
  RecordingJob job;
  EXPECT_EQ(reattachLostDirectories(e, 0, 0, &job), 2u);
  auto parentOf = [&](std::uint32_t id, std::uint16_t partition = 0) {
    return e.DirectoryList[static_cast<std::size_t>(e.findDirectory(id, partition))].parentId;
  };
  EXPECT_EQ(parentOf(10), 0u);
  EXPECT_EQ(parentOf(11), 10u);
  EXPECT_EQ(parentOf(12), kLostId);
  EXPECT_EQ(parentOf(13, 1), 10u);  // another partition: untouched here
  EXPECT_EQ(parentOf(14), kLostId);
  EXPECT_EQ(parentOf(15), kLostId);  // first of the cycle in list order
  EXPECT_EQ(parentOf(16), 15u);
  EXPECT_EQ(job.statuses, (std::vector<std::string>{"Step 5/5 :- Searching lost directories. Please Wait...  "}));
  // Partition 1 has no node 10: its directory moves under a "Lost" of its own.
  EXPECT_EQ(reattachLostDirectories(e, 0, 1), 1u);
  EXPECT_EQ(parentOf(13, 1), kLostId);
  EXPECT_GE(e.findDirectory(kLostId, 1), 0);
}

}  // namespace
}  // namespace dravolin::test

namespace dravolin::test {
namespace {

TEST(FatSearches, ImpossibleLayoutEndsWithNothingFound) {
  SyntheticFat v(FatType::Fat16, 1, 16, 10);
  v.parameters.SectorsPerCluster = 0x10000000000ull;  // from a damaged boot sector
  SearchRun tree;
  tree.tree(v);
  EXPECT_EQ(tree.job.completion, Completion::SearchDone);  // after the switch
  EXPECT_TRUE(tree.exhaustive);
  EXPECT_EQ(treePaths(tree.entries), (Paths{}));
  SearchRun sweep;
  sweep.sweep(v);
  EXPECT_EQ(sweep.job.completion, Completion::SearchDone);
  EXPECT_EQ(sweep.entries.DirectoryCount, 0u);
}

}  // namespace
}  // namespace dravolin::test

namespace dravolin::test {
namespace {

// Names with slashes or dots are listed as the volume holds them (saving
// makes them safe); entries whose names hold characters no name holds stay
// out, so the sweep's garbage does not grow.
TEST(FatEntryNames, SlashesAndDotsAreListedGarbageIsNot) {
  struct Case {
    std::u16string longName;  // empty: short name only
    std::string shortName;    // 11 bytes
    bool listed;
    std::string shown;
  } cases[] = {
      {u"a/b.txt", "AB~1    TXT", true, "a/b.txt"},
      {u"back\\slash.txt", "BACKSL~1TXT", true, "back\\slash.txt"},
      {u"..", "DOTDOT  TXT", true, ".."},
      {u"x..y.txt", "XY~1    TXT", true, "x..y.txt"},
      {u"/", "SLASH   TXT", true, "/"},
      {u"", "A/B     TXT", true, "A/B.TXT"},
      {u"", "A\\B     TXT", true, "A\\B.TXT"},
      {u"bad?name.txt", "BADNAM~1TXT", false, ""},
      {u"pipe|name", "PIPENA~1   ", false, ""},
      {u"", "AB\x01     TXT", false, ""},
      {u"", "A*B     TXT", false, ""},
  };
  for (bool exhaustive : {false, true}) {
    SyntheticFat v(FatType::Fat16, 1, 16, 100);
    std::vector<RawEntry> folder;
    std::uint32_t cluster = 20;
    for (const Case& c : cases) {
      auto entries = c.longName.empty() ? std::vector<RawEntry>{shortEntry(c.shortName, 0x20, cluster, 10)}
                                        : namedEntry(c.longName, c.shortName, 0x20, cluster, 10);
      folder.insert(folder.end(), entries.begin(), entries.end());
      ++cluster;
    }
    v.writeDirectory({10, 11}, 0, folder);
    v.writeRoot({shortEntry("DIR        ", 0x10, 10)});
    SearchRun r;
    if (exhaustive) r.sweep(v);
    else r.tree(v);
    std::map<std::uint32_t, std::string> listed;
    for (const FileNode& f : r.entries.FileList) listed[f.firstCluster] = nameOf(f);
    cluster = 20;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.shortName + (exhaustive ? " exhaustive" : " tree"));
      EXPECT_EQ(listed.contains(cluster), c.listed);
      if (c.listed) EXPECT_EQ(listed[cluster], c.shown);
      ++cluster;
    }
  }
}

}  // namespace
}  // namespace dravolin::test
