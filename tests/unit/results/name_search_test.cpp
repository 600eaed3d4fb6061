#include "results/name_search.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "recording_job.h"

namespace dravolin {
namespace {

using test::RecordingJob;

constexpr std::uint32_t fatDate(unsigned year, unsigned month, unsigned day) {
  return ((year - 1980) << 9) | (month << 5) | day;
}

TEST(NamePattern, MatchesAsTheSearchWindowDoes) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  for (const Case& c : {
           Case{"*", "anything", true},        Case{"*", "noext", true},
           Case{"*.*", "a.b", true},           Case{"*.*", "noext", false},
           Case{"A?C", "abc", true},           Case{"A?C", "ABC", true},
           Case{"A?C", "abcd", false},         Case{"A?C", "ac", false},
           Case{"*.doc", "Letter.DOC", true},  Case{"*.doc", "letter.docx", false},
           Case{"rep*", "report.txt", true},   Case{"rep**", "rep", true},
           Case{"*port*", "report.txt", true}, Case{"a*b*c", "aXbYbZc", true},
           Case{"a*b*c", "aXbYbZ", false},     Case{"abc", "ab", false},
           Case{"abc", "abc", true},           Case{"abc", "abcd", false},
           Case{"", "abc", false},             Case{"*", "", false},
           // Upper case beyond ASCII: caf\u00e9 matches CAF\u00c9.
           Case{"CAF\xC3\x89*", "caf\xC3\xA9 cr\xC3\xA8me.txt", true},
       }) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + c.name);
    EXPECT_EQ(matchesNamePattern(c.pattern, c.name), c.matches);
  }
}

struct NameSearchTest : ::testing::Test {
  FoundEntries entries;
  std::size_t folder = 0;
  void SetUp() override {
    folder = entries.AddDirectoryNode("", u"Reports", false, 0, 10, 0, {fatDate(2015, 6, 1), 0, 0, 0, 0, 0});
    entries.AddDirectoryNode("OLD", u"", true, 0, 20, 0, {fatDate(2016, 6, 1), 0, 0, 0, 0, 0});
    entries.AddFileNode("", u"abc", false, 1023, 10, 5, 0, {fatDate(2015, 6, 1), 0, fatDate(2015, 1, 1), 0, 0, 0});
    entries.AddFileNode("ABC", u"", true, 1024, 10, 6, 0, {fatDate(2016, 6, 1), 0, fatDate(2016, 1, 1), 0, 0, 0});
    entries.AddFileNode("", u"abcd", false, 2048, 0, 7, 0, {fatDate(2017, 6, 1), 0, fatDate(2017, 1, 1), 0, 0, 0});
    entries.AddFileNode("", u"note.txt", false, 2049, 20, 8, 0, {fatDate(2018, 6, 1), 0, fatDate(2018, 1, 1), 0, 0, 0});
  }
  std::vector<std::string> paths(const NameSearchRequest& request) {
    ResultTree tree(entries, FsType::Fat16);
    tree.build();
    RecordingJob job;
    std::vector<std::string> out;
    for (const auto& hit : NameSearch(tree).run(request, job)) out.push_back(hit.type + " " + hit.path);
    return out;
  }
};

TEST_F(NameSearchTest, StarListsEveryFolderAndFileNewestHitFirst) {
  NameSearchRequest request;
  request.pattern = "*";
  EXPECT_EQ(paths(request), (std::vector<std::string>{"File /OLD/note.txt", "File /abcd", "Deleted File /Reports/ABC",
                                                      "File /Reports/abc", "Deleted Folder /OLD", "Folder /Reports"}));
}

TEST_F(NameSearchTest, FiltersBySizeDeletedStateAndDate) {
  struct Case {
    const char* name;
    NameSearchRequest request;
    std::vector<std::string> hits;
  };
  NameSearchRequest sizeRange{"*", std::nullopt, std::nullopt, NameSearchRequest::SizeFilter{1, 2, SizeUnit::KB}};
  NameSearchRequest zeroTo{"*", std::nullopt, std::nullopt, NameSearchRequest::SizeFilter{5, 0, SizeUnit::GB}};
  NameSearchRequest onlyDeleted{"*", DeletedChoice::Only, std::nullopt, std::nullopt};
  NameSearchRequest excludeDeleted{"a*", DeletedChoice::Exclude, std::nullopt, std::nullopt};
  NameSearchRequest created{"*", std::nullopt,
                            NameSearchRequest::DateFilter{EntryDateKind::Created, {1, 1, 2016}, {31, 12, 2017}},
                            std::nullopt};
  NameSearchRequest reversed{"*", std::nullopt,
                             NameSearchRequest::DateFilter{EntryDateKind::Modified, {1, 1, 2018}, {31, 12, 2014}},
                             std::nullopt};
  NameSearchRequest pattern{"A?C", std::nullopt, std::nullopt, std::nullopt};
  for (const Case& c : {
           // 1 to 2 KB is 1,024 to 2,048 bytes; folders have no size.
           Case{"size 1..2 KB", sizeRange, {"File /abcd", "Deleted File /Reports/ABC"}},
           // A to value of 0 filters nothing, but folders still drop out.
           Case{"size to 0", zeroTo, {"File /OLD/note.txt", "File /abcd", "Deleted File /Reports/ABC", "File /Reports/abc"}},
           Case{"only deleted", onlyDeleted, {"Deleted File /Reports/ABC", "Deleted Folder /OLD"}},
           Case{"exclude deleted", excludeDeleted, {"File /abcd", "File /Reports/abc"}},
           Case{"created 2016..2017", created, {"File /abcd", "Deleted File /Reports/ABC"}},
           Case{"reversed years", reversed, {}},
           Case{"A?C", pattern, {"Deleted File /Reports/ABC", "File /Reports/abc"}},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(paths(c.request), c.hits);
  }
}

TEST(NameSearchDates, DayNumbersBoundTheRangeInclusively) {
  NameSearchRequest::DateFilter filter{EntryDateKind::Modified, {15, 3, 2010}, {20, 3, 2010}};
  EXPECT_TRUE(passesSearchDate(filter, {2010, 3, 15}));
  EXPECT_TRUE(passesSearchDate(filter, {2010, 3, 20}));
  EXPECT_FALSE(passesSearchDate(filter, {2010, 3, 14}));
  EXPECT_FALSE(passesSearchDate(filter, {2010, 3, 21}));
  EXPECT_FALSE(passesSearchDate(filter, {2009, 3, 16}));
  EXPECT_EQ(searchDayNumber(2010, 3, 15), ((2010 * 360) + 90 + 15) * 24);
  EXPECT_EQ(sizeUnitFactor(sizeUnitFromText("MB")), 1048576u);
  EXPECT_EQ(sizeUnitFactor(sizeUnitFromText("bytes")), 1u);
}

TEST_F(NameSearchTest, AStopEndsTheSearchEarly) {
  for (int i = 0; i < 2000; ++i) entries.AddFileNode("", u"x" + std::u16string(1, u'a'), false, 1, 0, 2, 0, {});
  ResultTree tree(entries, FsType::Fat16);
  tree.build();
  RecordingJob job;
  job.stopAfterCheckpoints = 2;
  NameSearchRequest request;
  request.pattern = "*";
  const auto hits = NameSearch(tree).run(request, job);
  EXPECT_GT(hits.size(), 0u);
  EXPECT_LT(hits.size(), 1000u);
}

}  // namespace
}  // namespace dravolin
