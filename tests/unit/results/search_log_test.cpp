// Search logs: a log of every kind reads back to what was written, the bytes
// sit where the layout puts them (a log written by one version is read by
// the next), and the path rules of saving.
#include "results/search_log.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace dravolin {
namespace {

std::string bytesAt(const std::vector<std::byte>& bytes, std::size_t offset, std::size_t count) {
  std::string out;
  for (std::size_t i = offset; i < offset + count && i < bytes.size(); ++i)
    out.push_back(static_cast<char>(std::to_integer<unsigned char>(bytes[i])));
  return out;
}

// A log after a search for lost partitions on a disk holding a FAT32 and an
// NTFS volume, with the NTFS lists and a few result records.
SearchLog lostSearchLog() {
  SearchLog log;
  SearchLogHeader& h = log.header;
  h.diskIdentification = u"/images/disk.img";
  h.selectedDrive = 3;
  h.selectedDriveCopy = 3;
  h.partitionIndex = 0xFF;
  h.fileSystemType = "NTFS";
  h.partitionStart = 63;
  h.partitionEnd = 0x1'2345'6789;  // a range end past 2^32 keeps its 64 bits
  h.volumeParameters = {1, 8, 32, 2, 32, 4000, 95, 1095, 786432, 16, 2, 8};
  h.searchVolumeParameters = {2, 16, 0, 2, 38, 8000, 101, 2000, 100, 200, 2, 8};
  h.searchFileSystemType = "FAT32";
  h.exhaustiveSearch = 1;
  h.lostPartitionSearch = 1;
  h.lostSearchPass = 1;
  h.selectedFoundFileSystem = 2;
  FoundFileSystem fat{"FAT32", 8, 2048, 2'099'200, 2040, 0, 32, 2, 6128, 2080, 4120};
  FoundFileSystem ntfs{"NTFS", 8, 2'099'200, 0x1'0000'0800, 0, 0, 0, 0, 2'099'200, 0, 0};
  log.foundFileSystems = {fat, ntfs};
  log.hasNtfsLists = true;
  NtfsFolderEntry folder;
  folder.name = u"Berichte";
  folder.deleted = true;
  folder.times = {0x01D7'F5A1'0000'1111, 0x01D7'F5A1'0000'2222, 0x01D7'F5A1'0000'3333};
  folder.parent.record_number = 5;
  folder.ownNumber = 64;
  folder.numberKnown = true;
  folder.recordSector = 2'099'400;
  folder.indexAllocationCluster = 5000;
  folder.fileSystem = 2;
  NtfsFolderEntry unnamed;  // a folder whose record held no name
  unnamed.recordSector = 2'099'500;
  unnamed.fileSystem = 0xFFFFFFFF;
  log.ntfsFolders = {folder, unnamed};
  NtfsFileEntry file;
  file.name = u"Kassenbuch 2021.xlsx";
  file.times = {1, 2, 3};
  file.size = 0x1'0000'0001;
  file.hasData = true;
  file.parent.record_number = 64;
  file.ownNumber = 70;
  file.numberKnown = true;
  file.recordSector = 2'099'600;
  log.ntfsFiles = {file};
  DirectoryNode docs;
  docs.narrowName = "DOCS";
  docs.times = {0x5A21, 0x4C6B, 0x5A20, 0x1234, 0x5A22, 0};
  docs.parentId = 0;
  docs.ownId = 7;
  docs.partition = 1;
  DirectoryNode lost;
  lost.wideName = u"Lost";
  lost.parentId = 5;
  lost.ownId = kLostId;
  lost.partition = 2;
  lost.extra = 0x2'0000'0000;
  log.directories = {docs, lost};
  FileNode note;
  note.wideName = u"Notizen über alles.txt";
  note.deleted = 'y';
  note.times = {1, 2, 3, 4, 5, 6};
  note.size = 12345;
  note.parentId = 7;
  note.firstCluster = 99;
  log.files = {note};
  return log;
}

void expectSameLists(const SearchLog& a, const SearchLog& b) {
  EXPECT_EQ(a.header, b.header);
  EXPECT_EQ(a.foundFileSystems, b.foundFileSystems);
  ASSERT_EQ(a.ntfsFolders.size(), b.ntfsFolders.size());
  for (std::size_t i = 0; i < a.ntfsFolders.size(); ++i) {
    const auto &x = a.ntfsFolders[i], &y = b.ntfsFolders[i];
    EXPECT_EQ(x.name, y.name);
    EXPECT_EQ(x.deleted, y.deleted);
    EXPECT_EQ(x.times.modification, y.times.modification);
    EXPECT_EQ(x.times.creation, y.times.creation);
    EXPECT_EQ(x.times.access, y.times.access);
    EXPECT_EQ(x.parent.record_number, y.parent.record_number);
    EXPECT_EQ(x.ownNumber, y.ownNumber);
    EXPECT_EQ(x.numberKnown, y.numberKnown);
    EXPECT_EQ(x.recordSector, y.recordSector);
    EXPECT_EQ(x.indexAllocationCluster, y.indexAllocationCluster);
    EXPECT_EQ(x.fileSystem, y.fileSystem);
  }
  ASSERT_EQ(a.ntfsFiles.size(), b.ntfsFiles.size());
  for (std::size_t i = 0; i < a.ntfsFiles.size(); ++i) {
    const auto &x = a.ntfsFiles[i], &y = b.ntfsFiles[i];
    EXPECT_EQ(x.name, y.name);
    EXPECT_EQ(x.deleted, y.deleted);
    EXPECT_EQ(x.times.modification, y.times.modification);
    EXPECT_EQ(x.times.creation, y.times.creation);
    EXPECT_EQ(x.times.access, y.times.access);
    EXPECT_EQ(x.size, y.size);
    EXPECT_EQ(x.parent.record_number, y.parent.record_number);
    EXPECT_EQ(x.ownNumber, y.ownNumber);
    EXPECT_EQ(x.recordSector, y.recordSector);
  }
  ASSERT_EQ(a.directories.size(), b.directories.size());
  for (std::size_t i = 0; i < a.directories.size(); ++i) {
    const auto &x = a.directories[i], &y = b.directories[i];
    EXPECT_EQ(x.narrowName, y.narrowName);
    EXPECT_EQ(x.wideName, y.wideName);
    EXPECT_EQ(x.deleted, y.deleted);
    EXPECT_EQ(x.times, y.times);
    EXPECT_EQ(x.parentId, y.parentId);
    EXPECT_EQ(x.ownId, y.ownId);
    EXPECT_EQ(x.extra, y.extra);
    EXPECT_EQ(x.partition, y.partition);
  }
  ASSERT_EQ(a.files.size(), b.files.size());
  for (std::size_t i = 0; i < a.files.size(); ++i) {
    const auto &x = a.files[i], &y = b.files[i];
    EXPECT_EQ(x.narrowName, y.narrowName);
    EXPECT_EQ(x.wideName, y.wideName);
    EXPECT_EQ(x.deleted, y.deleted);
    EXPECT_EQ(x.times, y.times);
    EXPECT_EQ(x.size, y.size);
    EXPECT_EQ(x.parentId, y.parentId);
    EXPECT_EQ(x.firstCluster, y.firstCluster);
    EXPECT_EQ(x.extra, y.extra);
  }
}

TEST(SearchLogTest, AFoundListWithNtfsListsAndRecordsReadsBackAsWritten) {
  const SearchLog log = lostSearchLog();
  const auto bytes = encodeSearchLog(log, SearchLogKind::FoundList);
  auto read = decodeSearchLog(bytes, SearchLogKind::FoundList);
  ASSERT_TRUE(read) << read.error().message;
  EXPECT_TRUE(read->hasNtfsLists);
  expectSameLists(log, *read);

  // The same log as ".ST4": no NTFS lists in the file, the rest unchanged.
  const auto results = encodeSearchLog(log, SearchLogKind::Results);
  auto st4 = decodeSearchLog(results, SearchLogKind::Results);
  ASSERT_TRUE(st4) << st4.error().message;
  EXPECT_FALSE(st4->hasNtfsLists);
  EXPECT_TRUE(st4->ntfsFolders.empty());
  SearchLog withoutLists = log;
  withoutLists.ntfsFolders.clear();
  withoutLists.ntfsFiles.clear();
  expectSameLists(withoutLists, *st4);
  // Without the lost-partition search, a log holds no found file systems.
  withoutLists.header.lostPartitionSearch = 0;
  auto plain = decodeSearchLog(encodeSearchLog(withoutLists, SearchLogKind::Results), SearchLogKind::Results);
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->foundFileSystems.empty());
  EXPECT_EQ(plain->directories.size(), 2u);
}

// Where the layout puts each field, read from the bytes written.
TEST(SearchLogTest, FieldsLieWhereTheLayoutPutsThem) {
  SearchLog log = lostSearchLog();
  const auto bytes = encodeSearchLog(log, SearchLogKind::FoundList);
  const std::size_t n = log.header.diskIdentification.size();  // 16
  const std::size_t m = 4;                                     // "NTFS"
  const std::size_t p = 30 + 2 * n + 2 * m;
  const std::size_t k = 5;  // "FAT32"
  const std::size_t q = p + 113 + 2 * k;
  const std::size_t found = q + 16;               // found file-system count
  const std::size_t folders = found + 4 + 2 * 68;  // NTFS folder count
  const std::size_t secondFolder = folders + 4 + 49 + 1 + 2 * 8 + 1;
  const std::size_t fileCount = secondFolder + 49 + 2;
  const std::size_t directories = fileCount + 4 + 53 + 1 + 2 * 20 + 1;
  struct Row {
    const char* what;
    std::size_t offset;
    std::string expected;
  };
  using namespace std::string_literals;
  const Row rows[] = {
      {"signature: the first 11 characters, no terminator", 0, "K\0o\0r\0v\0a\0n\0e\0 \0D\0r\0a\0"s},
      {"disk identification length", 22, "\x10\0\0\0"s},
      {"selected drive, its copy, partition index, type length", 26 + 2 * n, "\x03\x03\xFF\x04"s},
      {"partition start", p, "\x3F\0\0\0\0\0\0\0"s},
      {"partition end", p + 8, "\x89\x67\x45\x23\x01\0\0\0"s},
      {"cluster base is the sixth volume parameter", p + 16 + 20, "\xA0\x0F\0\0"s},
      {"search copy of index record sectors", p + 108, "\x08\0\0\0"s},
      {"search type length, then its text", p + 112, "\x05" "F\0A\0T\0003\0002\0"s},
      {"ExhaustiveSearch .. SelectedFoundFileSystem", q, "\1\0\0\0\1\0\0\0\1\0\0\0\2\0\0\0"s},
      {"two found file systems", found, "\2\0\0\0"s},
      {"first found: end sector first", found + 4, "\x00\x08\x20\0\0\0\0\0"s},
      {"first found: cluster base at 20", found + 4 + 20, "\xF0\x17\0\0"s},
      {"first found: name at 48, zero-padded", found + 4 + 48, "F\0A\0T\0003\0002\0\0\0"s},
      {"second found: end past 2^32", found + 4 + 68, "\x00\x08\0\0\1\0\0\0"s},
      {"folder: file-system number at 16", folders + 4 + 16, "\2\0\0\0"s},
      {"folder: index allocation cluster twice", folders + 4 + 28, "\x88\x13\0\0\5\0\0\0"s},
      {"folder: own number, deleted flag, name length", folders + 4 + 44, "\x40\0\0\0y\x08"s},
      {"folder without a name: length 0, then the empty short name", secondFolder + 48, "n\0\0"s},
      {"file: size at 28", fileCount + 4 + 28, "\1\0\0\0\1\0\0\0"s},
      {"directory DOCS: kind, flag, no long name, short name of 4", directories + 4 + 48, "Dn\0\x04" "DOCS"s},
      {"directory DOCS: partition index in the low two bytes", directories + 4 + 20, "\1\0\0\0"s},
      {"directory DOCS: creation date (third field) at 12", directories + 4 + 12, "\x20\x5A\0\0"s},
  };
  for (const Row& row : rows) EXPECT_EQ(bytesAt(bytes, row.offset, row.expected.size()), row.expected) << row.what;
}

// A search that was stopped is marked in the byte that holds the drive again
// (its bit complement): readers that know the mark read it back, the rest of
// the log is byte for byte the log of the same search not stopped, so a
// reader without the mark reads the same log, and a log of a search that ran
// to its end never reads as stopped.
TEST(SearchLogTest, AStoppedSearchIsMarkedInTheDriveCopyOnly) {
  for (const std::uint8_t drive : {std::uint8_t{0}, std::uint8_t{3}, std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
    SCOPED_TRACE(static_cast<int>(drive));
    SearchLog log = lostSearchLog();
    log.header.selectedDrive = drive;
    log.header.selectedDriveCopy = drive;
    const auto complete = encodeSearchLog(log, SearchLogKind::Results);
    log.header.stopped = true;
    const auto stopped = encodeSearchLog(log, SearchLogKind::Results);
    const std::size_t copy = 26 + 2 * log.header.diskIdentification.size() + 1;
    ASSERT_EQ(complete.size(), stopped.size());
    for (std::size_t i = 0; i < complete.size(); ++i)
      if (i != copy) ASSERT_EQ(complete[i], stopped[i]) << "byte " << i;
    EXPECT_EQ(std::to_integer<std::uint8_t>(complete[copy]), drive);
    EXPECT_EQ(std::to_integer<std::uint8_t>(stopped[copy]), static_cast<std::uint8_t>(~drive));

    auto readStopped = decodeSearchLog(stopped, SearchLogKind::Results);
    ASSERT_TRUE(readStopped) << readStopped.error().message;
    EXPECT_EQ(readStopped->header, log.header) << "read back as written, the copy as the drive";
    auto readComplete = decodeSearchLog(complete, SearchLogKind::Results);
    ASSERT_TRUE(readComplete);
    EXPECT_FALSE(readComplete->header.stopped);
  }
}

TEST(SearchLogTest, SavePathsAreUpperCasedAndGivenTheirExtensionOnce) {
  struct Row {
    std::string typed;
    SearchLogKind kind;
    std::string saved;
  };
  const Row rows[] = {
      {"result", SearchLogKind::Results, "RESULT.ST4"},
      {"result", SearchLogKind::FoundList, "RESULT.ST2C"},
      {"result.st4", SearchLogKind::Results, "RESULT.ST4"},
      {"Result.St2c", SearchLogKind::FoundList, "RESULT.ST2C"},
      {"result.st4", SearchLogKind::FoundList, "RESULT.ST4.ST2C"},
      // The folder stays as typed: an upper-cased folder is another folder here.
      {"/home/anna/logs/disk-1", SearchLogKind::Results, "/home/anna/logs/DISK-1.ST4"},
      {"./später/log", SearchLogKind::Results, "./später/LOG.ST4"},
  };
  for (const Row& row : rows) EXPECT_EQ(searchLogSavePath(row.typed, row.kind), row.saved) << row.typed;
  EXPECT_EQ(searchLogKindOf("/x/A.ST4"), SearchLogKind::Results);
  EXPECT_EQ(searchLogKindOf("/x/a.st2c"), SearchLogKind::FoundList);
  EXPECT_EQ(searchLogKindOf("/x/a.TXT"), std::nullopt);
  EXPECT_EQ(searchLogKindOf("/x/ST4"), std::nullopt);
}

}  // namespace
}  // namespace dravolin
