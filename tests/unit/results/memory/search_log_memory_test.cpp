// A damaged search log never crashes the reader and never makes it allocate
// more than a small multiple of the log's size: every prefix of a log, and
// every count raised to 2^31 or 2^32 - 1, is "Error in file.". This binary
// counts its own allocations, so it holds only these tests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "results/search_log.h"

namespace {
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void* countedAllocation(std::size_t size) {
  // The size is kept in front of the block so that delete can subtract it.
  void* block = std::malloc(size + 16);
  if (!block) throw std::bad_alloc();
  *static_cast<std::size_t*>(block) = size;
  const std::size_t now = liveBytes.fetch_add(size) + size;
  std::size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
  return static_cast<char*>(block) + 16;
}

void countedRelease(void* pointer) {
  if (!pointer) return;
  void* block = static_cast<char*>(pointer) - 16;
  liveBytes.fetch_sub(*static_cast<std::size_t*>(block));
  std::free(block);
}
}  // namespace

void* operator new(std::size_t size) { return countedAllocation(size); }
void* operator new[](std::size_t size) { return countedAllocation(size); }
void operator delete(void* pointer) noexcept { countedRelease(pointer); }
void operator delete[](void* pointer) noexcept { countedRelease(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { countedRelease(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { countedRelease(pointer); }

namespace dravolin {
namespace {

// A small log of each kind with one record of every sort.
SearchLog smallLog() {
  SearchLog log;
  log.header.diskIdentification = u"DISK";
  log.header.fileSystemType = "NTFS";
  log.header.searchFileSystemType = "NTFS";
  log.header.partitionEnd = 100;
  log.header.lostPartitionSearch = 1;
  log.foundFileSystems.push_back(FoundFileSystem{.name = "NTFS", .sectorsPerCluster = 8, .endSector = 100});
  NtfsFolderEntry folder;
  folder.name = u"Docs";
  log.ntfsFolders.push_back(folder);
  NtfsFileEntry file;
  file.name = u"a.txt";
  log.ntfsFiles.push_back(file);
  DirectoryNode directory;
  directory.narrowName = "DOCS";
  directory.ownId = 7;
  log.directories.push_back(directory);
  FileNode node;
  node.wideName = u"a.txt";
  node.parentId = 7;
  log.files.push_back(node);
  return log;
}

// The decode of bytes, with the peak of what it allocated beyond what was
// live before.
struct Outcome {
  bool ok = false;
  std::string message;
  std::size_t peak = 0;
};
Outcome decodeCounted(const std::vector<std::byte>& bytes, SearchLogKind kind) {
  const std::size_t before = liveBytes.load();
  peakBytes.store(before);
  Outcome outcome;
  {
    auto read = decodeSearchLog(bytes, kind);
    outcome.ok = read.has_value();
    if (!read) outcome.message = read.error().message;
  }
  outcome.peak = peakBytes.load() - before;
  return outcome;
}

void putU32(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = std::byte(static_cast<unsigned char>(value >> (8 * i)));
}

// Offsets of the counts of a log: found file systems, NTFS folders and files
// (".ST2C"), directories, files; the length of the disk identification.
std::vector<std::size_t> countOffsets(const SearchLog& log, SearchLogKind kind) {
  const std::size_t n = log.header.diskIdentification.size(), m = log.header.fileSystemType.size();
  const std::size_t k = log.header.searchFileSystemType.size();
  std::size_t at = 30 + 2 * n + 2 * m + 113 + 2 * k + 16;
  std::vector<std::size_t> offsets{22};
  offsets.push_back(at);
  at += 4 + 68 * log.foundFileSystems.size();
  if (kind == SearchLogKind::FoundList) {
    offsets.push_back(at);
    at += 4 + 49 + 1 + 2 * log.ntfsFolders[0].name.size() + 1;
    offsets.push_back(at);
    at += 4 + 53 + 1 + 2 * log.ntfsFiles[0].name.size() + 1;
  }
  offsets.push_back(at);
  at += 4 + 50 + 1 + 1 + log.directories[0].narrowName.size();
  offsets.push_back(at);
  return offsets;
}

// Memory allowed for reading a log: a small multiple of its size.
std::size_t allowance(std::size_t logBytes) { return 16 * logBytes + 4096; }

TEST(SearchLogMemoryTest, EveryPrefixAndEveryHugeCountIsErrorInFileWithinBoundedMemory) {
  for (SearchLogKind kind : {SearchLogKind::Results, SearchLogKind::FoundList}) {
    const SearchLog log = smallLog();
    const auto whole = encodeSearchLog(log, kind);
    const Outcome full = decodeCounted(whole, kind);
    ASSERT_TRUE(full.ok) << full.message;

    for (std::size_t length = 0; length < whole.size(); ++length) {
      const std::vector<std::byte> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
      const Outcome cut = decodeCounted(prefix, kind);
      EXPECT_FALSE(cut.ok) << "cut at " << length;
      EXPECT_EQ(cut.message, "Error in file.") << "cut at " << length;
      EXPECT_LE(cut.peak, allowance(whole.size())) << "cut at " << length;
    }
    // One byte too many is a count that does not match the records either.
    auto longer = whole;
    longer.push_back(std::byte{0});
    EXPECT_EQ(decodeCounted(longer, kind).message, "Error in file.");

    const auto offsets = countOffsets(log, kind);
    // The offsets are right: each holds the count of one record (or the
    // identification's length).
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      const std::uint32_t count = std::to_integer<std::uint32_t>(whole[offsets[i]]);
      EXPECT_EQ(count, i == 0 ? 4u : 1u) << "count at " << offsets[i];
    }
    for (std::size_t offset : offsets) {
      for (std::uint32_t huge : {0x8000'0000u, 0xFFFF'FFFFu, 0x0100'0000u}) {
        auto damaged = whole;
        putU32(damaged, offset, huge);
        const Outcome o = decodeCounted(damaged, kind);
        EXPECT_FALSE(o.ok) << "count " << huge << " at " << offset;
        EXPECT_EQ(o.message, "Error in file.") << "count " << huge << " at " << offset;
        EXPECT_LE(o.peak, allowance(whole.size())) << "count " << huge << " at " << offset;
      }
    }
  }
}

// A log file far larger than its counts allow (a good log followed by a
// 1 GiB tail of zeros, a sparse file) is refused without being read into
// memory; the same log without the tail reads back.
TEST(SearchLogMemoryTest, ALogFileLargerThanItsCountsAllowIsNotReadIntoMemory) {
  const auto whole = encodeSearchLog(smallLog(), SearchLogKind::Results);
  char folder[] = "/tmp/dravolin-log-memory-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/HUGE.ST4";
  struct Row {
    const char* what;
    std::uint64_t tail;
    bool ok;
  };
  const Row rows[] = {{"the log alone", 0, true}, {"a 1 GiB tail", std::uint64_t{1} << 30, false}};
  for (const Row& row : rows) {
    {
      std::FILE* out = std::fopen(path.c_str(), "wb");
      ASSERT_NE(out, nullptr);
      ASSERT_EQ(std::fwrite(whole.data(), 1, whole.size(), out), whole.size());
      std::fclose(out);
      ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(whole.size() + row.tail)), 0);
    }
    const std::size_t before = liveBytes.load();
    peakBytes.store(before);
    bool ok = false;
    std::string message;
    {
      auto file = SearchLogFile::open(path);
      ASSERT_TRUE(file) << row.what;
      EXPECT_EQ(file->bytes().size(), whole.size() + row.tail) << row.what;
      auto read = decodeSearchLog(file->bytes(), SearchLogKind::Results);
      ok = read.has_value();
      if (!read) message = read.error().message;
    }
    EXPECT_EQ(ok, row.ok) << row.what;
    if (!row.ok) EXPECT_EQ(message, "Error in file.") << row.what;
    EXPECT_LE(peakBytes.load() - before, allowance(whole.size())) << row.what;
  }
  std::remove(path.c_str());
  ::rmdir(folder);
}

TEST(SearchLogMemoryTest, AnInconsistentRecordIsErrorInFile) {
  const SearchLog log = smallLog();
  const auto whole = encodeSearchLog(log, SearchLogKind::Results);
  const auto offsets = countOffsets(log, SearchLogKind::Results);
  const std::size_t directory = offsets[2] + 4;
  const std::size_t n = 4, m = 4;
  const std::size_t p = 30 + 2 * n + 2 * m;
  struct Row {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
  };
  const Row rows[] = {
      {"kind byte other than D", directory + 48, 'F'},
      {"deleted flag other than y or n", directory + 49, 'x'},
      {"partition start above its end (high byte of the start)", p + 7, 0x80},
      {"type string with a character outside ASCII", 30 + 2 * n + 1, 0x01},
  };
  for (const Row& row : rows) {
    auto damaged = whole;
    damaged[row.offset] = std::byte{row.value};
    auto read = decodeSearchLog(damaged, SearchLogKind::Results);
    ASSERT_FALSE(read) << row.what;
    EXPECT_EQ(read.error().message, "Error in file.") << row.what;
  }
}

}  // namespace
}  // namespace dravolin
