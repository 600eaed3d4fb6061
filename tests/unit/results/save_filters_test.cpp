#include "results/save_filters.h"

#include <gtest/gtest.h>

namespace dravolin {
namespace {

constexpr std::uint32_t fatDate(unsigned year, unsigned month, unsigned day) {
  return ((year - 1980) << 9) | (month << 5) | day;
}

FileNode file(bool deleted, char mark, EntryTimes times = {}) {
  FileNode node;
  node.deleted = deleted ? 'y' : 'n';
  node.mark = mark;
  node.times = times;
  return node;
}

TEST(SaveFilters, SelectionModes) {
  struct Case {
    int mode;
    bool marked;
    bool kept;
  };
  for (const Case& c : {Case{0, true, true}, Case{0, false, false}, Case{1, true, true}, Case{1, false, true},
                        Case{2, true, false}, Case{2, false, true}}) {
    EXPECT_EQ(selectionAccepts(c.mode, c.marked), c.kept) << "mode " << c.mode << " marked " << c.marked;
  }
}

TEST(SaveFilters, DeletedFilterAndExtensionList) {
  struct Case {
    const char* what;
    int deletedFilter;
    std::vector<std::string> extensions;
    bool deleted;
    const char* name;
    bool kept;
  };
  for (const Case& c : {
           Case{"all files keeps live", 0, {}, false, "a.txt", true},
           Case{"all files keeps deleted", 0, {}, true, "a.txt", true},
           Case{"live only drops deleted", 1, {}, true, "a.txt", false},
           Case{"live only keeps live", 1, {}, false, "a.txt", true},
           Case{"deleted only drops live", 2, {}, false, "a.txt", false},
           Case{"deleted only keeps deleted", 2, {}, true, "a.txt", true},
           Case{"extension matches without case", 0, {"TXT", "doc"}, false, "letter.txt", true},
           Case{"extension is after the last dot", 0, {"gz"}, false, "archive.tar.gz", true},
           Case{"other extension dropped", 0, {"doc"}, false, "letter.txt", false},
           Case{"name without dot taken whole", 0, {"make"}, false, "MAKE", true},
           Case{"extension cut to 7 characters", 0, {"abcdefg"}, false, "x.abcdefghij", true},
       }) {
    SCOPED_TRACE(c.what);
    SavingSettings settings;
    settings.SaveDeletedFilter = c.deletedFilter;
    settings.SaveExtensionList = c.extensions;
    FileFilter filter(settings, true);
    EXPECT_EQ(filter.passesFileTests(file(c.deleted, 'y'), c.name), c.kept);
  }
  EXPECT_EQ(filterExtension("x.abcdefghij"), "abcdefg");
  EXPECT_EQ(filterExtension("README"), "README");
}

TEST(SaveFilters, ActiveDateRangesDropFilesOutsideThem) {
  // After 01/03/2010 (lower), Earlier 15/06/2012 (upper), on each kind.
  const ActiveDateRange range{15, 6, 2012, 1, 3, 2010};
  struct Case {
    const char* what;
    std::size_t kind;  // 0 modified, 1 created, 2 accessed
    std::uint32_t date;
    bool kept;
  };
  for (const Case& c : {Case{"inside", 0, fatDate(2011, 1, 1), true},
                        Case{"lower bound", 0, fatDate(2010, 3, 1), true},
                        Case{"upper bound", 0, fatDate(2012, 6, 15), true},
                        Case{"a day before", 0, fatDate(2010, 2, 30), false},
                        Case{"a day after", 0, fatDate(2012, 6, 16), false},
                        Case{"created kind", 1, fatDate(2013, 1, 1), false},
                        Case{"accessed kind", 2, fatDate(2011, 1, 1), true}}) {
    SCOPED_TRACE(c.what);
    SavingSettings settings;
    settings.activeDateRanges[c.kind] = range;
    EntryTimes times{};
    times[c.kind * 2] = c.date;
    FileFilter filter(settings, true);
    EXPECT_EQ(filter.passesDates(file(false, 'y', times)), c.kept);
  }
  // An inactive range (to-year 0, or below the from-year) filters nothing.
  SavingSettings settings;
  settings.activeDateRanges[0] = ActiveDateRange{1, 1, 2000, 1, 1, 2005};
  EXPECT_TRUE(FileFilter(settings, true).passesDates(file(false, 'y', {fatDate(1990, 1, 1), 0, 0, 0, 0, 0})));
}

}  // namespace
}  // namespace dravolin
