#include "results/result_tree.h"

#include <gtest/gtest.h>

#include "recording_job.h"

namespace dravolin {
namespace {

using test::RecordingJob;

constexpr std::uint32_t fatDate(unsigned year, unsigned month, unsigned day) {
  return ((year - 1980) << 9) | (month << 5) | day;
}

// Root
// +- DOCS (10)          +- WORK (11): a.txt       and b.txt in DOCS
// +- OLD (20, deleted): c.txt (deleted)
// +- Lost: Dir4 (30): d.txt
// root.txt
// Unreachable: a directory with own id 0 under the root, and a parent cycle
// (50 <-> 51).
struct Sample {
  FoundEntries entries;
  std::size_t docs, work, old, lost, dir4, zero, cycleA, cycleB;
  std::size_t a, b, c, d, rootFile;
  Sample() {
    docs = entries.AddDirectoryNode("DOCS", u"", false, 0, 10, 0, {fatDate(2020, 1, 1), 0, 0, 0, 0, 0});
    work = entries.AddDirectoryNode("", u"Work", false, 10, 11, 0, {});
    old = entries.AddDirectoryNode("OLD", u"", true, 0, 20, 0, {});
    entries.addLostNode();
    lost = entries.DirectoryList.size() - 1;
    dir4 = entries.AddDirectoryNode("Dir4", u"", false, kLostId, 30, 0, {});
    zero = entries.AddDirectoryNode("ZERO", u"", false, 0, 0, 0, {});
    cycleA = entries.AddDirectoryNode("CYCA", u"", false, 51, 50, 0, {});
    cycleB = entries.AddDirectoryNode("CYCB", u"", false, 50, 51, 0, {});
    a = entries.AddFileNode("", u"a.txt", false, 100, 11, 5, 0, {fatDate(2021, 2, 3), 0, 0, 0, 0, 0});
    b = entries.AddFileNode("B.TXT", u"", false, 5000000000ULL, 10, 6, 0, {fatDate(2019, 2, 3), 0, 0, 0, 0, 0});
    c = entries.AddFileNode("_.TXT", u"", true, 7, 20, 7, 0, {});
    d = entries.AddFileNode("", u"d.txt", false, 9, 30, 8, 0, {});
    rootFile = entries.AddFileNode("", u"root.txt", false, 1, 0, 9, 0, {});
    entries.TotalSize = 5000000117ULL;
  }
};

struct ResultTreeTest : ::testing::Test {
  Sample sample;
  ResultTree tree{sample.entries, FsType::Fat32};
  void SetUp() override { tree.build(); }
  std::size_t itemOf(std::size_t directory) { return *tree.itemOfDirectory(directory); }
};

TEST_F(ResultTreeTest, BuildsTheFolderTreeFromParentIds) {
  const TreeItem& top = tree.item(ResultTree::kTopItem);
  EXPECT_EQ(top.name, "Root (FAT32)");
  std::vector<std::string> names;
  for (std::size_t child : top.children) names.push_back(tree.item(child).name);
  EXPECT_EQ(names, (std::vector<std::string>{"DOCS", "OLD", "Lost", "ZERO"}));
  EXPECT_EQ(tree.pathText(itemOf(sample.work)), "/DOCS/Work");
  EXPECT_EQ(tree.pathText(itemOf(sample.dir4)), "/Lost/Dir4");
  EXPECT_EQ(tree.pathText(ResultTree::kTopItem), "/");
  // The tree-node field holds the item.
  EXPECT_EQ(sample.entries.DirectoryList[sample.work].treeNode, itemOf(sample.work));
  // A directory with the root's id is shown but not expanded again, and a
  // parent cycle is not reachable: the build ends with each node once.
  EXPECT_TRUE(tree.item(itemOf(sample.zero)).children.empty());
  EXPECT_FALSE(tree.itemOfDirectory(sample.cycleA));
  EXPECT_FALSE(tree.itemOfDirectory(sample.cycleB));
  EXPECT_EQ(tree.itemCount(), 7u);
}

TEST_F(ResultTreeTest, ListsSubFoldersThenFilesWithTheirColumns) {
  const auto rows = tree.listFolder(itemOf(sample.docs));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].kind, RowKind::Folder);
  EXPECT_EQ(rows[0].name, "Work");
  EXPECT_EQ(rows[0].type, "Folder");
  EXPECT_EQ(rows[0].size, 0u);
  EXPECT_EQ(rows[0].id, itemOf(sample.work));  // folders: the tree-node handle
  EXPECT_EQ(rows[1].kind, RowKind::File);
  EXPECT_EQ(rows[1].name, "B.TXT");
  EXPECT_EQ(rows[1].type, "File");
  EXPECT_EQ(rows[1].size, 5000000000ULL);  // more than 4 GiB, in full
  EXPECT_EQ(rows[1].id, 1u);               // files: the file index
  EXPECT_EQ(rows[1].dates.modified, "03-Feb-2019 00:00");

  const auto deleted = tree.listFolder(itemOf(sample.old));
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].type, "Deleted File");
  EXPECT_EQ(tree.folderRow(sample.old).type, "Deleted Folder");
}

TEST_F(ResultTreeTest, AnEmptyFolderListsNothingAndLeavesProgressAtZero) {
  const std::size_t empty = sample.entries.AddDirectoryNode("EMPTY", u"", false, 0, 60, 0, {});
  tree.build();
  RecordingJob job;
  EXPECT_TRUE(tree.listFolder(itemOf(empty), &job).empty());
  EXPECT_TRUE(job.percents.empty());
}

TEST_F(ResultTreeTest, FindsFoldersAndFilesByPath) {
  EXPECT_EQ(tree.findFolder("/DOCS/Work"), itemOf(sample.work));
  EXPECT_EQ(tree.findFolder("/"), ResultTree::kTopItem);
  EXPECT_FALSE(tree.findFolder("/DOCS/Nope"));
  auto file = tree.findFile("/DOCS/Work/a.txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->file, sample.a);
  EXPECT_EQ(tree.findFile("/root.txt")->file, sample.rootFile);
  EXPECT_FALSE(tree.findFile("/DOCS/a.txt"));
}

TEST_F(ResultTreeTest, CheckingAFolderMarksItsWholeSubtreeOnly) {
  tree.checkFolder(itemOf(sample.docs));
  const auto& files = sample.entries.FileList;
  EXPECT_TRUE(tree.isChecked(itemOf(sample.docs)));
  EXPECT_TRUE(tree.isChecked(itemOf(sample.work)));
  EXPECT_EQ(sample.entries.DirectoryList[sample.work].mark, 'y');
  EXPECT_EQ(files[sample.a].mark, 'y');
  EXPECT_EQ(files[sample.b].mark, 'y');
  EXPECT_EQ(files[sample.rootFile].mark, 'n');
  EXPECT_EQ(files[sample.c].mark, 'n');
  EXPECT_FALSE(tree.isChecked(ResultTree::kTopItem));
}

TEST_F(ResultTreeTest, CheckingTheTopNodeMarksEverything) {
  tree.checkFolder(ResultTree::kTopItem);
  for (const auto& f : sample.entries.FileList) EXPECT_EQ(f.mark, 'y');
  for (const auto& d : sample.entries.DirectoryList) EXPECT_EQ(d.mark, 'y');
  for (std::size_t i = 0; i < tree.itemCount(); ++i) EXPECT_TRUE(tree.isChecked(i));
}

TEST_F(ResultTreeTest, UncheckingWalksUpWhileAncestorsHoldNothingChecked) {
  struct Case {
    const char* name;
    bool keepFileInDocs;   // b.txt stays checked
    bool docsChecked;      // expected after unchecking Work
    bool topChecked;
  };
  for (const Case& c : {Case{"an ancestor holding a file stops the walk", true, true, true},
                        Case{"ancestors holding nothing are unchecked", false, false, false}}) {
    SCOPED_TRACE(c.name);
    tree.uncheckFolder(ResultTree::kTopItem);
    tree.checkFolder(ResultTree::kTopItem);
    tree.uncheckFolder(itemOf(sample.old));
    tree.uncheckFolder(itemOf(sample.lost));
    tree.uncheckFolder(itemOf(sample.zero));
    tree.setFileChecked(sample.rootFile, false);
    if (!c.keepFileInDocs) tree.setFileChecked(sample.b, false);
    tree.uncheckFolder(itemOf(sample.work));
    EXPECT_EQ(sample.entries.FileList[sample.a].mark, 'n');
    EXPECT_FALSE(tree.isChecked(itemOf(sample.work)));
    EXPECT_EQ(tree.isChecked(itemOf(sample.docs)), c.docsChecked);
    EXPECT_EQ(tree.isChecked(ResultTree::kTopItem), c.topChecked);
  }
}

TEST_F(ResultTreeTest, UncheckingTheOnlyCheckedFileLeavesTheFolderChecked) {
  tree.checkFolder(itemOf(sample.work));
  tree.setFileChecked(sample.a, false);
  EXPECT_TRUE(tree.isChecked(itemOf(sample.work)));
  EXPECT_EQ(sample.entries.FileList[sample.a].mark, 'n');
}

TEST_F(ResultTreeTest, CheckingThePathToAFolderLeavesTheAncestorsFilesUnmarked) {
  tree.checkFolder(itemOf(sample.work));
  tree.checkPathTo(itemOf(sample.work));
  EXPECT_TRUE(tree.isChecked(itemOf(sample.docs)));
  EXPECT_TRUE(tree.isChecked(ResultTree::kTopItem));
  EXPECT_EQ(sample.entries.FileList[sample.b].mark, 'n');
  EXPECT_EQ(sample.entries.FileList[sample.rootFile].mark, 'n');
  EXPECT_FALSE(tree.isChecked(itemOf(sample.old)));
}

TEST_F(ResultTreeTest, RenamingKeepsTheNodesEncoding) {
  // A short name is stored back as OEM bytes, a long name as UTF-16.
  EXPECT_TRUE(tree.renameFile(sample.b, "R\xC3\xA9sum\xC3\xA9.txt"));
  EXPECT_EQ(sample.entries.FileList[sample.b].narrowName, "R\x82sum\x82.txt");
  EXPECT_TRUE(sample.entries.FileList[sample.b].wideName.empty());
  EXPECT_EQ(tree.fileName(sample.b), "R\xC3\xA9sum\xC3\xA9.txt");
  EXPECT_TRUE(tree.renameFile(sample.a, "Caf\xC3\xA9.txt"));
  EXPECT_EQ(sample.entries.FileList[sample.a].wideName, u"Caf\u00e9.txt");
  // A cancelled edit (no text) and an unchanged name change nothing.
  EXPECT_FALSE(tree.renameFile(sample.a, ""));
  EXPECT_FALSE(tree.renameFile(sample.a, "Caf\xC3\xA9.txt"));
  // A folder's tree item takes the new text as well.
  EXPECT_TRUE(tree.renameFolder(itemOf(sample.work), "Job"));
  EXPECT_EQ(tree.item(itemOf(sample.work)).name, "Job");
  EXPECT_EQ(tree.pathText(itemOf(sample.work)), "/DOCS/Job");
  EXPECT_FALSE(tree.renameFolder(ResultTree::kTopItem, "Other"));
  // A long narrow name is cut to 200 bytes.
  EXPECT_TRUE(tree.renameFile(sample.c, std::string(300, 'x')));
  EXPECT_EQ(sample.entries.FileList[sample.c].narrowName.size(), 200u);
}

TEST_F(ResultTreeTest, SummaryUsesTheCounters) {
  EXPECT_EQ(tree.summary(), "4.657 GB size in 8 Directories 5 Files");
}

TEST(RowSorter, ColumnsCompareAsTheBrowserDoes) {
  auto row = [](RowKind kind, std::string name, std::uint64_t size, std::uint32_t date, std::uint32_t time,
                std::uint64_t id) {
    ResultRow r;
    r.kind = kind;
    r.name = std::move(name);
    r.type = kind == RowKind::Folder ? "Folder" : "File";
    r.size = size;
    r.times = {date, time, 0, 0, 0, 0};
    r.id = id;
    return r;
  };
  std::vector<ResultRow> rows{row(RowKind::File, "b", 10, fatDate(2020, 1, 1), 5, 2),
                              row(RowKind::Folder, "ab", 99, fatDate(2020, 1, 1), 9, 7),
                              row(RowKind::File, "a", 5, fatDate(2019, 1, 1), 1, 1),
                              row(RowKind::File, "\xC3\xA9", 7, fatDate(2021, 1, 1), 0, 3)};
  auto names = [&] {
    std::string out;
    for (const auto& r : rows) out += r.name + ",";
    return out;
  };
  struct Case {
    ResultColumn column;
    const char* first;
    const char* second;  // after a second click: the reverse
  };
  for (const Case& c : {Case{ResultColumn::Name, "a,ab,b,\xC3\xA9,", "\xC3\xA9,b,ab,a,"},
                        // Folders count as size 0.
                        Case{ResultColumn::Size, "ab,a,\xC3\xA9,b,", "b,\xC3\xA9,a,ab,"},
                        // Date, then time.
                        Case{ResultColumn::Modified, "a,b,ab,\xC3\xA9,", "\xC3\xA9,ab,b,a,"},
                        Case{ResultColumn::Id, "a,b,\xC3\xA9,ab,", "ab,\xC3\xA9,b,a,"}}) {
    RowSorter sorter(true);
    sorter.sortByColumn(rows, c.column);
    EXPECT_EQ(names(), c.first);
    sorter.sortByColumn(rows, c.column);
    EXPECT_EQ(names(), c.second);
  }
}

}  // namespace
}  // namespace dravolin
