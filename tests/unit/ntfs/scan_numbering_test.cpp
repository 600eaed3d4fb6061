// How the sector scan numbers records that do not carry their own number:
// a folder takes the number of the first index entry (a folder entry) whose
// creation time, exact name and parent equal its own, the first such folder
// in list order that is still unnumbered; every record still unnumbered then
// takes the number after the record before it on the disk, records that are
// not listed (extension records, empty ones) holding their places.
#include <gtest/gtest.h>

#include <ostream>

#include "ntfs/scan_lists.h"
#include "support/test_support.h"

namespace dravolin::test {
namespace {

struct Folder {
  std::u16string name;
  std::uint64_t creation;
  std::uint64_t parent;
  std::optional<std::uint64_t> known;
};

struct Entry {
  std::u16string name;
  std::uint64_t creation;
  std::uint64_t parent;
  std::uint64_t number;
  bool folder;
};

struct MatchCase {
  std::string what;
  friend void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.what; }
  std::vector<Folder> folders;
  std::vector<Entry> entries;
  std::vector<std::optional<std::uint64_t>> expected;  // per folder; nullopt: still unnumbered
};

const MatchCase kMatchCases[] = {
    {"an entry with the same creation time name and parent numbers the folder",
     {{u"Reports", 100, 64, std::nullopt}},
     {{u"Reports", 100, 64, 66, true}},
     {66}},
    {"names are compared exactly, case included",
     {{u"Reports", 100, 64, std::nullopt}},
     {{u"reports", 100, 64, 66, true}},
     {std::nullopt}},
    {"another creation time or another parent does not match",
     {{u"Reports", 100, 64, std::nullopt}},
     {{u"Reports", 101, 64, 66, true}, {u"Reports", 100, 65, 67, true}},
     {std::nullopt}},
    {"entries that name files are not used",
     {{u"Reports", 100, 64, std::nullopt}},
     {{u"Reports", 100, 64, 66, false}},
     {std::nullopt}},
    {"two folders with one key take the entries in list order",
     {{u"Copy", 7, 5, std::nullopt}, {u"Copy", 7, 5, std::nullopt}},
     {{u"Copy", 7, 5, 80, true}, {u"Copy", 7, 5, 81, true}},
     {80, 81}},
    {"a folder that has its number already is passed over",
     {{u"Copy", 7, 5, 90}, {u"Copy", 7, 5, std::nullopt}},
     {{u"Copy", 7, 5, 80, true}},
     {90, 80}},
};

class FolderNumbersFromIndexTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(FolderNumbersFromIndexTest, NumbersTheFirstUnnumberedMatchingFolder) {
  const MatchCase& c = GetParam();
  std::vector<NtfsFolderEntry> folders;
  for (const Folder& f : c.folders) {
    NtfsFolderEntry entry;
    entry.name = f.name;
    entry.times.creation = f.creation;
    entry.parent = {f.parent, 1};
    entry.ownNumber = f.known.value_or(0);
    entry.numberKnown = f.known.has_value();
    folders.push_back(entry);
  }
  IndexEntries node;
  for (const Entry& e : c.entries) {
    IndexEntry entry;
    entry.file_reference = {e.number, 1};
    FileName name;
    name.name = e.name;
    name.creation_time = e.creation;
    name.parent = {e.parent, 1};
    name.flags = e.folder ? kFileNameDirectoryFlag : 0;
    entry.file_name = name;
    node.entries.push_back(entry);
  }
  FolderNumbersFromIndex matcher(folders);
  matcher.apply(node);
  std::vector<std::optional<std::uint64_t>> numbers;
  for (const auto& folder : folders)
    numbers.push_back(folder.numberKnown ? std::optional<std::uint64_t>(folder.ownNumber) : std::nullopt);
  EXPECT_EQ(numbers, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FolderNumbersFromIndexTest, ::testing::ValuesIn(kMatchCases), NameFromWhat{});

// Records by sector: F folder, f file, u unlisted; a number where the record
// carries one (or got one earlier).
struct Slot {
  char kind;
  SectorNumber sector;
  std::optional<std::uint64_t> known;
  std::uint64_t expected;
};

struct PositionCase {
  std::string what;
  friend void PrintTo(const PositionCase& c, std::ostream* os) { *os << c.what; }
  std::vector<Slot> slots;
};

const PositionCase kPositionCases[] = {
    {"a known number resets the count",
     {{'f', 32, 0, 0}, {'f', 34, std::nullopt, 1}, {'F', 36, std::nullopt, 2}, {'F', 38, 64, 64},
      {'f', 40, std::nullopt, 65}}},
    {"unlisted records hold their places",
     {{'F', 32, 11, 11}, {'u', 34, std::nullopt, 12}, {'u', 36, 13, 13}, {'f', 38, std::nullopt, 14}}},
    {"files after the last folder are numbered too",
     {{'F', 32, 5, 5}, {'f', 34, std::nullopt, 6}, {'f', 36, std::nullopt, 7}, {'f', 38, std::nullopt, 8}}},
    {"folders after the last file are numbered too",
     {{'f', 32, 20, 20}, {'F', 34, std::nullopt, 21}, {'F', 36, std::nullopt, 22}}},
};

class NumberByPositionTest : public ::testing::TestWithParam<PositionCase> {};

TEST_P(NumberByPositionTest, NumbersEveryRecordInDiskOrder) {
  const PositionCase& c = GetParam();
  NtfsScanLists lists;
  for (const Slot& s : c.slots) {
    if (s.kind == 'F') {
      NtfsFolderEntry folder;
      folder.recordSector = s.sector;
      folder.ownNumber = s.known.value_or(0);
      folder.numberKnown = s.known.has_value();
      lists.folders.push_back(folder);
    } else if (s.kind == 'f') {
      NtfsFileEntry file;
      file.recordSector = s.sector;
      file.ownNumber = s.known.value_or(0);
      file.numberKnown = s.known.has_value();
      lists.files.push_back(file);
    } else {
      lists.unlisted.push_back({s.sector, s.known});
    }
  }
  numberByPosition(lists);
  std::size_t folder = 0, file = 0, unlisted = 0;
  for (const Slot& s : c.slots) {
    SCOPED_TRACE(s.sector);
    if (s.kind == 'F') {
      EXPECT_TRUE(lists.folders[folder].numberKnown);
      EXPECT_EQ(lists.folders[folder++].ownNumber, s.expected);
    } else if (s.kind == 'f') {
      EXPECT_TRUE(lists.files[file].numberKnown);
      EXPECT_EQ(lists.files[file++].ownNumber, s.expected);
    } else {
      EXPECT_EQ(lists.unlisted[unlisted++].ownNumber, std::optional<std::uint64_t>(s.expected));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, NumberByPositionTest, ::testing::ValuesIn(kPositionCases), NameFromWhat{});

}  // namespace
}  // namespace dravolin::test
