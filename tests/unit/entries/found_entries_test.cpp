#include "entries/found_entries.h"

#include <gtest/gtest.h>

namespace dravolin {
namespace {

std::vector<std::string> names(const FoundEntries& e) {
  std::vector<std::string> out;
  for (const auto& d : e.DirectoryList) out.push_back(d.narrowName + (d.isDeleted() ? "*" : ""));
  return out;
}

TEST(FoundEntries, DuplicateDirectoryRule) {
  struct Step {
    const char* name;
    bool deleted;
    std::uint32_t id;
    std::uint16_t partition;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::vector<std::string> result;
    std::uint32_t count;
  };
  const Case cases[] = {
      {"live wins over deleted", {{"OLD", true, 7, 0}, {"NEW", false, 7, 0}}, {"NEW"}, 1},
      {"deleted never replaces live", {{"LIVE", false, 7, 0}, {"GONE", true, 7, 0}}, {"LIVE"}, 1},
      {"two deleted: first stays", {{"A", true, 7, 0}, {"B", true, 7, 0}}, {"A*"}, 1},
      {"other partition kept", {{"A", false, 7, 0}, {"B", false, 7, 1}}, {"A", "B"}, 2},
      {"id 0 never merged", {{"A", false, 0, 0}, {"B", false, 0, 0}}, {"A", "B"}, 2},
  };
  for (const auto& c : cases) {
    FoundEntries e;
    for (const auto& s : c.steps) e.AddDirectoryNode(s.name, u"", s.deleted, 1, s.id, 0, {}, s.partition);
    EXPECT_EQ(names(e), c.result) << c.what;
    EXPECT_EQ(e.DirectoryCount, c.count) << c.what;
  }
}

TEST(FoundEntries, OverwriteMovesTheDirectoryToItsNewParent) {
  FoundEntries e;
  e.AddDirectoryNode("OLD", u"", true, 3, 7, 0, {});
  e.AddDirectoryNode("", u"New", false, 9, 7, 0, {1, 2, 3, 4, 5, 6});
  ASSERT_EQ(e.DirectoryList.size(), 1u);
  EXPECT_TRUE(e.childDirectories(3).empty());
  ASSERT_EQ(e.childDirectories(9).size(), 1u);
  EXPECT_EQ(e.DirectoryList[0].wideName, u"New");
  EXPECT_TRUE(e.DirectoryList[0].narrowName.empty());
  EXPECT_EQ(e.DirectoryList[0].times[5], 6u);
}

TEST(FoundEntries, LostNodeNumberedDirectoriesAndFileIndexes) {
  FoundEntries e;
  e.addLostNode();
  for (int i = 0; i < 2; ++i) {
    std::string name = "Dir" + std::to_string(e.DirectoryCount);
    e.AddDirectoryNode(name, u"", false, kLostId, static_cast<std::uint32_t>(10 + i), 0, {});
  }
  EXPECT_EQ(names(e), (std::vector<std::string>{"Lost", "Dir1", "Dir2"}));
  EXPECT_EQ(e.DirectoryList[0].ownId, kLostId);
  EXPECT_EQ(e.childDirectories(kLostId).size(), 2u);
  e.AddFileNode("A", u"", false, 5, 10, 3, 0, {});
  e.AddFileNode("", u"b", true, 6, 10, 4, 0, {});
  EXPECT_EQ(e.FileList[0].fileIndex, 0u);
  EXPECT_EQ(e.FileList[1].fileIndex, 1u);
  EXPECT_EQ(e.childFiles(10).size(), 2u);
  e.renameDirectory(1, "", u"Found", true);
  EXPECT_EQ(e.DirectoryList[1].wideName, u"Found");
  EXPECT_TRUE(e.DirectoryList[1].isDeleted());
  e.setDirectoryParent(2, 10);
  EXPECT_EQ(e.childDirectories(kLostId).size(), 1u);
  EXPECT_EQ(e.findDirectory(11), 2);
  e.clear();
  EXPECT_EQ(e.DirectoryCount + e.FileCount, 0u);
  EXPECT_EQ(e.findDirectory(11), -1);
}

TEST(FoundEntries, DisplayNameDecodesNarrowNamesWithTheCodePage) {
  EXPECT_EQ(displayName("CAF\x90.TXT", u"", "CP850"), "CAFÉ.TXT");
  EXPECT_EQ(displayName("", u"Café crème.txt", "CP850"), "Café crème.txt");
}

}  // namespace
}  // namespace dravolin
