#include "disk/read_ahead.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "common/worker_job.h"
#include "disk/fault_injecting_source.h"
#include "disk/file_source.h"
#include "disk/memory_source.h"
#include "support/test_support.h"

namespace dravolin {
namespace {

MemorySectorSource patternedSource(std::size_t sectors) {
  std::vector<std::byte> bytes(sectors * kSectorSize);
  for (std::size_t s = 0; s < sectors; ++s)
    for (std::size_t i = 0; i < kSectorSize; ++i)
      bytes[s * kSectorSize + i] = std::byte(static_cast<unsigned char>((s * 7 + i) % 253 + 1));
  return MemorySectorSource(std::move(bytes));
}

// Answers the bad-sector question from a list, in turn, and notes during
// which call of the script each question came.
class NotingPrompter final : public Prompter {
 public:
  explicit NotingPrompter(std::vector<BadSectorAnswer> answers) : answers_(std::move(answers)) {}
  BadSectorAnswer askBadSector() override {
    askedDuring.push_back(currentCall);
    return answers_.empty() ? BadSectorAnswer::Skip : answers_[asked_++ % answers_.size()];
  }
  ReplaceAnswer askReplace(const std::string&) override { return ReplaceAnswer::No; }
  bool askYesNo(const std::string&) override { return false; }
  void inform(const std::string&) override {}
  std::size_t currentCall = 0;
  std::vector<std::size_t> askedDuring;

 private:
  std::vector<BadSectorAnswer> answers_;
  std::size_t asked_ = 0;
};

enum class Call { Read, ReadAs, View };
struct Step {
  Call call;
  SectorNumber first;
  std::uint32_t count;
  std::uint32_t unit = 1;
};

// What one run of the script saw.
struct Outcome {
  std::vector<int> results;
  std::vector<std::byte> bytes;
  std::vector<std::size_t> questions;
  std::vector<SectorNumber> lost;
  std::uint64_t fromRing = 0;
};

constexpr std::size_t kSectors = 3000;
constexpr std::int64_t kSelectionEnd = 2900;
// Bad sectors: alone, in a pair, on both sides of a block boundary (blocks
// of 256), in a series read and beyond the selection end.
const std::set<SectorNumber> kBad = {5, 100, 101, 767, 768, 1500, 2100, 2950};

// A pass-like script: chunks that straddle blocks, series reads, views, a
// call behind the stream, one larger than a block and calls at and beyond
// the selection end.
std::vector<Step> script() {
  std::vector<Step> steps;
  for (SectorNumber s = 0; s < 1200; s += 100) steps.push_back({Call::Read, s, 100});
  steps.push_back({Call::Read, 700, 80});  // behind the stream
  for (SectorNumber s = 1200; s < 1800; s += 60) steps.push_back({Call::ReadAs, s, 60, 7});
  steps.push_back({Call::Read, 1800, 300});  // larger than a block
  for (SectorNumber s = 2100; s < 2800; s += 64) steps.push_back({Call::View, s, 64});
  steps.push_back({Call::ReadAs, 2820, 120, 50});  // runs into the end guard
  steps.push_back({Call::Read, 2900, 60});         // starts at the end: served whole
  steps.push_back({Call::Read, 2960, 40});         // beyond the end: zeros
  return steps;
}

Outcome run(BadSectorPolicy policy, std::vector<BadSectorAnswer> answers, bool ahead) {
  auto memory = patternedSource(kSectors);
  FaultInjectingSource faulty(memory, kBad);
  NotingPrompter prompter(answers);
  SectorReader reader(faulty, &prompter);
  reader.setSelectionEnd(kSelectionEnd);
  reader.setPolicy(policy);
  Outcome outcome;
  reader.setUnreadableSink([&](SectorNumber s) { outcome.lost.push_back(s); });
  WorkerJob job(prompter);
  std::optional<ReadAheadStream> stream;
  if (ahead) stream.emplace(reader, job, 0, kSectors, 256, 3);
  const std::vector<Step> steps = script();
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    prompter.currentCall = i;
    std::vector<std::byte> buffer(std::size_t{step.count} * kSectorSize, std::byte{0xEE});
    int result = 0;
    if (step.call == Call::ReadAs) {
      result = ahead ? stream->ReadSectorsAs(step.first, step.count, buffer, step.unit)
                     : reader.ReadSectorsAs(step.first, step.count, buffer, step.unit);
    } else if (step.call == Call::View && ahead) {
      // As the passes use it: the ring's bytes, else a ReadSector call.
      const auto held = stream->view(step.first, step.count);
      if (!held.empty()) {
        std::copy(held.begin(), held.end(), buffer.begin());
        result = 1;
      } else {
        result = stream->ReadSector(step.first, step.count, buffer);
      }
    } else {
      result = ahead ? stream->ReadSector(step.first, step.count, buffer)
                     : reader.ReadSector(step.first, step.count, buffer);
    }
    outcome.results.push_back(result);
    outcome.bytes.insert(outcome.bytes.end(), buffer.begin(), buffer.end());
  }
  outcome.questions = prompter.askedDuring;
  if (stream) outcome.fromRing = stream->sectorsFromRing();
  return outcome;
}

TEST(ReadAheadStream, SeesWhatThePlainPathSeesUnderEveryPolicy) {
  using A = BadSectorAnswer;
  struct Case {
    const char* name;
    BadSectorPolicy policy;
    std::vector<BadSectorAnswer> answers;
  };
  const Case cases[] = {
      {"retry, answers alternate", BadSectorPolicy::Retry, {A::Retry, A::Skip, A::Retry}},
      {"skip, then retry all", BadSectorPolicy::Skip, {A::Skip, A::Skip, A::RetryAll}},
      {"retry all", BadSectorPolicy::RetryAll, {}},
      {"skip all", BadSectorPolicy::SkipAll, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome plain = run(c.policy, c.answers, false);
    const Outcome ahead = run(c.policy, c.answers, true);
    EXPECT_EQ(ahead.results, plain.results);
    EXPECT_TRUE(ahead.bytes == plain.bytes);
    EXPECT_EQ(ahead.questions, plain.questions);
    EXPECT_EQ(ahead.lost, plain.lost);
    // The policies that ask must have asked, and something must have been
    // lost or retried, or the comparison proves nothing.
    if (c.policy == BadSectorPolicy::Retry || c.policy == BadSectorPolicy::Skip) {
      EXPECT_FALSE(plain.questions.empty());
    }
    EXPECT_FALSE(plain.lost.empty());
    // The blocks without a bad sector (1, 4, 6, 7, 9 and 10) served the
    // calls that lie in them from the ring.
    EXPECT_GT(ahead.fromRing, 1000u);
  }
}

// An image file whose pages are in memory is looked at in place: every call
// of a pass-like script (the sweep's views and the scans' reads, with the end
// guard and a partial last sector) gives what the plain path gives, and the
// bytes come from the mapping, not from copies.
TEST(ReadAheadStream, AnImageFileInMemoryIsSeenInPlaceWithThePlainPathsBytes) {
  test::TempDir dir;
  const auto path = dir.path() / "image.img";
  auto memory = patternedSource(kSectors);
  std::string bytes(kSectors * kSectorSize - 412, '\0');  // the last sector is partial
  std::vector<std::byte> all(kSectors * kSectorSize);
  ASSERT_EQ(memory.read(0, kSectors, all), TransferStatus::Ok);
  std::memcpy(bytes.data(), all.data(), bytes.size());
  test::writeFile(path, bytes);  // just written: in the page cache
  auto file = FileSectorSource::open(path.string(), OpenMode::ReadOnly, true);
  ASSERT_TRUE(file.has_value());
  test::ScriptedPrompter prompter;
  auto runScript = [&](bool ahead) {
    SectorReader reader(**file, &prompter);
    reader.setSelectionEnd(kSelectionEnd);
    WorkerJob job(prompter);
    std::optional<ReadAheadStream> stream;
    if (ahead) stream.emplace(reader, job, 0, kSectors, 256, 3);
    std::vector<std::byte> seen;
    for (const Step& step : script()) {
      std::vector<std::byte> buffer(std::size_t{step.count} * kSectorSize, std::byte{0xEE});
      std::span<const std::byte> got = buffer;
      if (!ahead) {
        if (step.call == Call::ReadAs) (void)reader.ReadSectorsAs(step.first, step.count, buffer, step.unit);
        else (void)reader.ReadSector(step.first, step.count, buffer);
      } else if (step.call == Call::ReadAs) {
        (void)stream->ReadSectorsAs(step.first, step.count, buffer, step.unit);
      } else {
        got = stream->read(step.first, step.count, buffer);
      }
      seen.insert(seen.end(), got.begin(), got.end());
    }
    return std::pair{seen, stream ? stream->sectorsFromRing() : 0};
  };
  const auto [plain, none] = runScript(false);
  const auto [inPlace, mapped] = runScript(true);
  EXPECT_TRUE(inPlace == plain);
  EXPECT_GT(mapped, 1500u);
}

// A source that takes a while for every transfer, as a disk does.
class SlowSource final : public SectorSource {
 public:
  explicit SlowSource(SectorSource& inner) : inner_(inner) {}
  std::uint64_t sizeInBytes() const override { return inner_.sizeInBytes(); }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    ++reads;
    return inner_.read(first, count, out);
  }
  std::string description() const override { return "slow"; }
  std::atomic<int> reads{0};

 private:
  SectorSource& inner_;
};

TEST(ReadAheadStream, PauseStopsTheReaderAndCancelEndsThePassAtOnce) {
  struct Case {
    const char* name;
    bool pausedFirst;
  };
  for (const Case c : {Case{"running", false}, Case{"paused", true}}) {
    SCOPED_TRACE(c.name);
    MemorySectorSource memory(200000);
    SlowSource slow(memory);
    SectorReader reader(slow);
    test::ScriptedPrompter prompter;
    WorkerJob job(prompter);
    std::atomic<std::uint64_t> reached{0};
    job.start([&](Job& j) {
      ReadAheadStream stream(reader, j, 0, 200000, 64, 4);
      std::vector<std::byte> buffer(64 * kSectorSize);
      for (SectorNumber s = 0; s < 200000; s += 64) {
        (void)stream.ReadSector(s, 64, buffer);
        reached = s;
        j.checkpoint();
      }
    });
    while (reached.load() < 64 * 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (c.pausedFirst) {
      job.pause();
      std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the transfer under way ends
      const int before = slow.reads.load();
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      EXPECT_EQ(slow.reads.load(), before) << "the reader went on filling while paused";
    }
    const auto t0 = std::chrono::steady_clock::now();
    job.cancel();
    job.wait();
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, std::chrono::milliseconds(100));
    EXPECT_LT(reached.load(), 200000u - 64);
  }
}

// A range is looked at in place only when every page of it is in memory, and
// the look goes a piece of 4096 pages at a time: one page put out of memory
// in the first piece, in the second or at the very end must each send the
// whole range to the plain path, while the range before that page stays
// mappable.
TEST(ReadAheadStream, ARangeWithAnyPageOutOfMemoryIsNotMapped) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t pages = 5120;
  test::TempDir dir;
  const auto path = dir.path() / "image.img";
  test::writeFile(path, std::string(pages * page, '\x5A'));
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fsync(fd), 0);  // clean pages can be put out of memory
  auto file = FileSectorSource::open(path.string(), OpenMode::ReadOnly, true);
  ASSERT_TRUE(file.has_value());
  const std::uint32_t sectorsPerPage = static_cast<std::uint32_t>(page / kSectorSize);
  for (const long evicted : {-1L, 10L, 4500L, 5119L}) {
    SCOPED_TRACE(evicted);
    // Out of memory first, then every page read back but the one left out,
    // a page at a time and without read-ahead, which would bring it in.
    ASSERT_EQ(::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), 0);
    ASSERT_EQ(::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM), 0);
    std::vector<char> one(page);
    for (std::size_t p = 0; p < pages; ++p) {
      if (static_cast<long>(p) == evicted) continue;
      ASSERT_EQ(::pread(fd, one.data(), page, static_cast<off_t>(p * page)), static_cast<ssize_t>(page));
    }
    if (evicted >= 0) {
      void* view = ::mmap(nullptr, page, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(evicted) * static_cast<off_t>(page));
      ASSERT_NE(view, MAP_FAILED);
      unsigned char in = 1;
      ASSERT_EQ(::mincore(view, page, &in), 0);
      ::munmap(view, page);
      if (in & 1) GTEST_SKIP() << "this file system keeps the page in memory";
    }
    const auto whole = (*file)->map(0, static_cast<std::uint32_t>(pages) * sectorsPerPage);
    EXPECT_EQ(whole == nullptr, evicted >= 0);
    if (evicted > 0) {
      EXPECT_NE((*file)->map(0, static_cast<std::uint32_t>(evicted) * sectorsPerPage), nullptr);
    }
  }
  ::close(fd);
}

}  // namespace
}  // namespace dravolin
