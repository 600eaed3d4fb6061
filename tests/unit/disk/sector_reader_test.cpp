#include "disk/sector_reader.h"

#include <gtest/gtest.h>

#include <numeric>

#include "common/worker_job.h"
#include "disk/fault_injecting_source.h"
#include "disk/memory_source.h"
#include "disk/read_ahead.h"
#include "support/test_support.h"

namespace dravolin {
namespace {

// A source whose sector n is filled with the byte (n % 251) + 1, so every
// sector is recognisable and never zero.
MemorySectorSource patternedSource(std::size_t sectors, bool image = false) {
  std::vector<std::byte> bytes(sectors * kSectorSize);
  for (std::size_t s = 0; s < sectors; ++s)
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(s * kSectorSize), kSectorSize,
                std::byte(static_cast<unsigned char>(s % 251 + 1)));
  return MemorySectorSource(std::move(bytes), image);
}

std::byte patternOf(SectorNumber s) { return std::byte(static_cast<unsigned char>(s % 251 + 1)); }

bool sectorIs(const std::vector<std::byte>& buffer, std::size_t index, std::byte value) {
  for (std::size_t i = 0; i < kSectorSize; ++i)
    if (buffer[index * kSectorSize + i] != value) return false;
  return true;
}

TEST(SectorReaderEndGuard, ServesRequestsThatStartAtOrBelowTheEnd) {
  struct Case {
    std::int64_t end;
    SectorNumber first;
    std::uint32_t count;
    int result;
    bool zeros;
  };
  const Case cases[] = {
      {0, 90, 4, 1, false},     // no selection: nothing is refused
      {50, 50, 4, 1, false},    // first sector exactly the end: served, even past it
      {50, 51, 4, 0, true},     // one beyond: zeros and 0
      {50, 10, 60, 1, false},   // starts below, runs past: served whole
  };
  for (const auto& c : cases) {
    auto memory = patternedSource(100);
    SectorReader reader(memory);
    reader.setSelectionEnd(c.end);
    std::vector<std::byte> buffer(c.count * kSectorSize, std::byte{0x77});
    EXPECT_EQ(reader.ReadSector(c.first, c.count, buffer), c.result) << c.first;
    for (std::uint32_t i = 0; i < c.count; ++i)
      EXPECT_TRUE(sectorIs(buffer, i, c.zeros ? std::byte{0} : patternOf(c.first + i))) << c.first << "+" << i;
  }
}

TEST(SectorReaderEndGuard, SeriesReadZeroesCallsBeyondTheEnd) {
  auto memory = patternedSource(400);
  SectorReader reader(memory);
  reader.setSelectionEnd(100);
  std::vector<std::byte> buffer(200 * kSectorSize);
  // Calls of 40 sectors from 0: the call at 80 starts below 100 and is
  // served whole (80..119); the call at 120 is beyond and reads zeros.
  EXPECT_EQ(reader.ReadSectorsAs(0, 200, buffer, 40), 0);
  for (std::size_t s = 0; s < 120; ++s) EXPECT_TRUE(sectorIs(buffer, s, patternOf(s))) << s;
  for (std::size_t s = 120; s < 200; ++s) EXPECT_TRUE(sectorIs(buffer, s, std::byte{0})) << s;
}

struct FailureCase {
  const char* name;
  BadSectorAnswer answer;
  std::set<SectorNumber> bad;
  int result;
  std::set<SectorNumber> lost;  // sectors that must read as zeros
  int questions;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class ChunkedFailure : public ::testing::TestWithParam<FailureCase> {};

// A 100-sector request is two 40-sector chunks and a 20-sector remainder.
TEST_P(ChunkedFailure, HundredSectorRequest) {
  const auto& c = GetParam();
  auto memory = patternedSource(200);
  FaultInjectingSource faulty(memory, c.bad);
  test::ScriptedPrompter prompter;
  prompter.badSectorAnswers = {c.answer, c.answer, c.answer};
  SectorReader reader(faulty, &prompter);
  std::vector<SectorNumber> reported;
  reader.setUnreadableSink([&](SectorNumber s) { reported.push_back(s); });
  std::vector<std::byte> buffer(100 * kSectorSize, std::byte{0x77});
  EXPECT_EQ(reader.ReadSector(0, 100, buffer), c.result);
  for (SectorNumber s = 0; s < 100; ++s) {
    bool lost = c.lost.count(s) > 0;
    EXPECT_TRUE(sectorIs(buffer, s, lost ? std::byte{0} : patternOf(s))) << c.name << " sector " << s;
  }
  EXPECT_EQ(prompter.badSectorQuestions, c.questions) << c.name;
  EXPECT_EQ(std::set<SectorNumber>(reported.begin(), reported.end()), c.lost) << c.name;
}

std::set<SectorNumber> range(SectorNumber from, SectorNumber to) {
  std::set<SectorNumber> s;
  for (SectorNumber i = from; i < to; ++i) s.insert(i);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Policies, ChunkedFailure,
    ::testing::Values(
        // Second chunk fails: Skip loses that whole chunk, the remainder still arrives.
        FailureCase{"skip", BadSectorAnswer::Skip, {45}, 0, range(40, 80), 1},
        FailureCase{"skip-all", BadSectorAnswer::SkipAll, {45, 70}, 0, range(40, 80), 1},
        // Retry loses only the sector that stays unreadable.
        FailureCase{"retry", BadSectorAnswer::Retry, {45}, 0, {45}, 1},
        FailureCase{"retry-all", BadSectorAnswer::RetryAll, {5, 45}, 0, {5, 45}, 1},
        // First chunk fails, the last chunk is fine: the result is the last chunk's.
        FailureCase{"first-chunk", BadSectorAnswer::Retry, {3}, 1, {3}, 1},
        // Remainder fails: the call returns 0, no question is asked for it, and
        // under Retry only the sector that stays unreadable is lost.
        FailureCase{"remainder", BadSectorAnswer::Retry, {90}, 0, {90}, 0},
        FailureCase{"healthy", BadSectorAnswer::Retry, {}, 1, {}, 0}),
    [](const auto& testInfo) {
      std::string n = testInfo.param.name;
      for (auto& ch : n)
        if (ch == '-') ch = '_';
      return n;
    });

TEST(SectorReaderFailures, ShortRequestRetriesSectorBySectorAndReturnsZero) {
  auto memory = patternedSource(50);
  FaultInjectingSource faulty(memory, {12});
  test::ScriptedPrompter prompter;
  prompter.badSectorAnswers = {BadSectorAnswer::Retry};
  SectorReader reader(faulty, &prompter);
  std::vector<std::byte> buffer(20 * kSectorSize, std::byte{0x77});
  EXPECT_EQ(reader.ReadSector(10, 20, buffer), 0);
  for (SectorNumber s = 0; s < 20; ++s)
    EXPECT_TRUE(sectorIs(buffer, s, s == 2 ? std::byte{0} : patternOf(10 + s))) << s;
}

TEST(SectorReaderFailures, AllAnswersSuppressFurtherQuestionsUntilReset) {
  auto memory = patternedSource(50);
  FaultInjectingSource faulty(memory, {1, 2, 3});
  test::ScriptedPrompter prompter;
  prompter.badSectorAnswers = {BadSectorAnswer::SkipAll};
  SectorReader reader(faulty, &prompter);
  std::vector<std::byte> buffer(kSectorSize);
  for (SectorNumber s : {1, 2, 3}) EXPECT_EQ(reader.ReadSector(s, 1, buffer), 0);
  EXPECT_EQ(prompter.badSectorQuestions, 1);
  EXPECT_EQ(reader.policy(), BadSectorPolicy::SkipAll);
  reader.setPolicy(BadSectorPolicy::Retry);  // Step 1 commits a device again
  prompter.badSectorAnswers = {BadSectorAnswer::Skip};
  EXPECT_EQ(reader.ReadSector(1, 1, buffer), 0);
  EXPECT_EQ(prompter.badSectorQuestions, 2);
}

TEST(SectorReaderFailures, SeriesReadKeepsThePerCallChunkAlignment) {
  // Calls of 50 sectors: a failure at 95 under Skip loses the chunk 90..129?
  // No: chunks are per call, so the call at 50 has chunks 50..89 and a
  // remainder 90..99; the remainder fails and is lost alone (under Skip: the
  // remainder asks nothing, so the policy is Skip before the read).
  auto memory = patternedSource(200);
  FaultInjectingSource faulty(memory, {95});
  test::ScriptedPrompter prompter;
  prompter.badSectorAnswers = {BadSectorAnswer::Skip};
  SectorReader reader(faulty, &prompter);
  reader.setPolicy(BadSectorPolicy::Skip);
  std::vector<std::byte> buffer(150 * kSectorSize);
  reader.ReadSectorsAs(0, 150, buffer, 50);
  for (SectorNumber s = 0; s < 150; ++s)
    EXPECT_TRUE(sectorIs(buffer, s, (s >= 90 && s < 100) ? std::byte{0} : patternOf(s))) << s;
}

TEST(SectorReaderImage, ReadBeyondTheEndOfTheSourceIsZerosWithoutAQuestion) {
  // Sectors the source does not have are not bad sectors, on an image file
  // as on a device: nothing is asked and the bad-sector policy stays.
  for (bool image : {true, false}) {
    auto memory = patternedSource(10, image);
    test::ScriptedPrompter prompter;
    prompter.badSectorAnswers = {BadSectorAnswer::SkipAll};
    SectorReader reader(memory, &prompter);
    std::vector<std::byte> buffer(2 * kSectorSize, std::byte{0x77});
    EXPECT_EQ(reader.ReadSector(20, 2, buffer), 0) << image;
    EXPECT_TRUE(sectorIs(buffer, 0, std::byte{0}));
    EXPECT_TRUE(sectorIs(buffer, 1, std::byte{0}));
    EXPECT_EQ(prompter.badSectorQuestions, 0) << image;
    EXPECT_EQ(reader.policy(), BadSectorPolicy::Retry);
    // The offset equal to the size counts as inside: sector 10 reads as zeros, successfully.
    EXPECT_EQ(reader.ReadSector(10, 1, buffer), 1);
  }
}

TEST(SectorReaderWrite, FailedChunkIsWrittenAgainSectorBySector) {
  MemorySectorSource target(120);
  FaultInjectingSource faulty(target, {50});
  SectorReader writer(faulty);
  std::vector<std::byte> data(100 * kSectorSize, std::byte{0x5A});
  EXPECT_EQ(writer.WriteSector(0, 100, data), 0);  // the last chunk's first attempt failed
  for (SectorNumber s = 0; s < 100; ++s)
    EXPECT_EQ(target.bytes()[s * kSectorSize], s == 50 ? std::byte{0} : std::byte{0x5A}) << s;
}

// How many times one bad sector is read, per policy and per way of reading
// it: the transfer that meets it, then what the policy adds (a chunk that
// decides what is lost and is asked about, a retry alone), and nothing more.
// A read-ahead block that failed counts as the transfer that met it.
TEST(SectorReaderFailures, EachBadSectorIsReadAsOftenAsThePolicySays) {
  enum class Path { Call, Series, Stream };
  struct Case {
    const char* what;
    Path path;
    SectorNumber first;
    std::uint32_t count;
    std::uint32_t unit;  // calls of a series or of the stream
    SectorNumber bad;
    int retry, skip, retryAll, skipAll;  // reads of the bad sector
  };
  const Case cases[] = {
      {"a 100-sector call, bad sector in a chunk", Path::Call, 0, 100, 100, 45, 3, 2, 2, 2},
      {"a 100-sector call, bad sector in the remainder", Path::Call, 0, 100, 100, 90, 3, 2, 2, 2},
      {"a 20-sector call", Path::Call, 30, 20, 20, 45, 2, 1, 2, 1},
      {"a series of 8-sector calls", Path::Series, 0, 200, 8, 45, 3, 2, 2, 2},
      {"a series of 100-sector calls", Path::Series, 0, 300, 100, 145, 3, 2, 2, 2},
      {"a read-ahead stream, 8-sector calls", Path::Stream, 0, 512, 8, 300, 3, 2, 2, 2},
      {"a read-ahead stream, 64-sector series of 8", Path::Stream, 0, 512, 64, 45, 3, 2, 2, 2},
  };
  const std::pair<BadSectorPolicy, BadSectorAnswer> policies[] = {
      {BadSectorPolicy::Retry, BadSectorAnswer::Retry},
      {BadSectorPolicy::Skip, BadSectorAnswer::Skip},
      {BadSectorPolicy::RetryAll, BadSectorAnswer::RetryAll},
      {BadSectorPolicy::SkipAll, BadSectorAnswer::SkipAll},
  };
  for (const Case& c : cases) {
    const int expected[] = {c.retry, c.skip, c.retryAll, c.skipAll};
    for (int p = 0; p < 4; ++p) {
      SCOPED_TRACE(std::string(c.what) + ", policy " + std::to_string(p));
      auto memory = patternedSource(600);
      FaultInjectingSource faulty(memory, {c.bad});
      test::ScriptedPrompter prompter;
      prompter.badSectorAnswers.assign(8, policies[p].second);
      SectorReader reader(faulty, &prompter);
      reader.setPolicy(policies[p].first);
      std::vector<std::byte> buffer(std::size_t{c.count} * kSectorSize);
      if (c.path == Path::Call) {
        (void)reader.ReadSector(c.first, c.count, buffer);
      } else if (c.path == Path::Series) {
        (void)reader.ReadSectorsAs(c.first, c.count, buffer, c.unit);
      } else {
        WorkerJob job(prompter);
        ReadAheadStream stream(reader, job, c.first, c.first + c.count, 256, 2);
        for (std::uint32_t done = 0; done < c.count; done += c.unit) {
          auto part = std::span<std::byte>(buffer).subspan(std::size_t{done} * kSectorSize,
                                                           std::size_t{c.unit} * kSectorSize);
          if (c.unit > 8) (void)stream.ReadSectorsAs(c.first + done, c.unit, part, 8);
          else (void)stream.ReadSector(c.first + done, c.unit, part);
        }
      }
      EXPECT_EQ(faulty.readsOf(c.bad), static_cast<std::uint64_t>(expected[p]));
      // The sector itself is lost (alone or with its chunk), never served stale.
      EXPECT_TRUE(sectorIs(buffer, c.bad - c.first, std::byte{0}));
      EXPECT_TRUE(reader.unreadable().contains(c.bad));
    }
  }
}

}  // namespace
}  // namespace dravolin
