#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

namespace dravolin {
namespace {

std::size_t characters(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// One format for every job, never wider than the terminal minus one column.
TEST(ProgressLine, OneFormatCutToTheWidth) {
  struct Case {
    const char* what;
    ProgressState state;
    double seconds;
    std::size_t columns;
    std::string expected;
  };
  const Case cases[] = {
      {"copying: rate in 10^6 bytes per second, time left from the bytes",
       {50, "Copying sectors", 50'000'000, 100'000'000}, 10.0, 80,
       " 50%  Copying sectors  5.0 MB/s  0:00:10 elapsed  0:00:10 left"},
      {"a search: no rate, time left from the percentage",
       {25, "Searching", std::nullopt, std::nullopt}, 30.0, 80,
       " 25%  Searching  -- MB/s  0:00:30 elapsed  0:01:30 left"},
      {"nothing known yet", {0, "Starting", std::nullopt, std::nullopt}, 0.0, 80,
       "  0%  Starting  -- MB/s  0:00:00 elapsed  --:--:-- left"},
      {"nothing copied yet", {0, "Copying", 0, 100}, 3.0, 80,
       "  0%  Copying  -- MB/s  0:00:03 elapsed  --:--:-- left"},
      {"a long status is cut with ...",
       {99, "C:/a/very/long/path/to/a/file/being/saved.txt", 2'000'000, 2'000'000}, 3725.0, 60,
       " 99%  C:/a/very...  0.0 MB/s  1:02:05 elapsed  0:00:00 left"},
      {"a narrow terminal cuts the whole line", {7, "Searching", std::nullopt, std::nullopt}, 1.0, 20,
       "  7%  -- MB/s  0:00"},
      {"percent out of range is clamped", {250, "done", std::nullopt, std::nullopt}, 1.0, 80,
       "100%  done  -- MB/s  0:00:01 elapsed  0:00:00 left"},
      {"UTF-8 names are cut between characters",
       {1, "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", std::nullopt,
        std::nullopt},
       1.0, 55, "  1%  \xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9...  -- MB/s  0:00:01 elapsed  0:01:39 left"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string line = formatProgressLine(c.state, c.seconds, c.columns);
    EXPECT_EQ(line, c.expected);
    EXPECT_LE(characters(line), c.columns - 1);
  }
}

TEST(ProgressLine, WidthFromColumnsWhenNoTerminal) {
  // A pipe is no terminal: $COLUMNS decides, else 80.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const char* saved = std::getenv("COLUMNS");
  const std::string keep = saved ? saved : "";
  setenv("COLUMNS", "132", 1);
  EXPECT_EQ(terminalColumns(fds[1]), 132u);
  setenv("COLUMNS", "wide", 1);
  EXPECT_EQ(terminalColumns(fds[1]), 80u);
  unsetenv("COLUMNS");
  EXPECT_EQ(terminalColumns(fds[1]), 80u);
  if (saved) setenv("COLUMNS", keep.c_str(), 1);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace dravolin

namespace dravolin {
namespace {

// An imaging shows what ddrescue shows, and its last line says what was
// done with a rate only when one was measured, never "--".
TEST(ProgressLine, ImagingLinesSayWhereTheCopyStands) {
  const ImagingCounters half{16'777'216, 16'773'120, 16'777'216, 33'554'432, 2, 3};
  const ImagingCounters none{};
  struct Case {
    const char* what;
    std::string line;
    std::string expected;
  };
  const Case cases[] = {
      {"running, with a current rate",
       formatImagingLine(half, 2'000'000.0, 8.0, 200),
       "pos 16777 kB  rescued 16773 kB of 33554 kB (50.0%)  bad areas 2  read errors 3  2.0 MB/s now  "
       "2.1 MB/s average  0:00:08 left  0:00:08 elapsed"},
      {"running, cut to the terminal", formatImagingLine(half, 2'000'000.0, 8.0, 30), "pos 16777 kB  rescued 16773 k"},
      {"finished", formatImagingSummary(half, 8.0, false),
       "Rescued 16773 kB of 33554 kB (50.0%), 2 bad areas, 3 read errors in 0:00:08 (2.1 MB/s average)"},
      {"stopped before reading anything", formatImagingSummary(none, 0.0, true),
       "Stopped: rescued 0 B of 0 B (100.0%), 0 bad areas, 0 read errors in 0:00:00"},
      {"sizes in SI units", formatSize(99'999) + " " + formatSize(100'000) + " " + formatSize(1'000'000'000'000),
       "99999 B 100 kB 1000 GB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.line, c.expected);
    EXPECT_EQ(c.line.find("--"), std::string::npos);
  }
}

}  // namespace
}  // namespace dravolin
