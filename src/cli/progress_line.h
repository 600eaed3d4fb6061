#pragma once
// The one progress line of the command line: redrawn in place on stderr
// while a job runs, ended with a line break when it is done. Silent when
// disabled (--quiet, or stderr is not a terminal).
//
// Every job shows the same fields, cut to the terminal's width:
//   " 42%  <status>  12.3 MB/s  0:01:05 elapsed  0:01:30 left"
// The rate counts 1 MB as 10^6 bytes; "--" stands for what is not known yet.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace dravolin {

// How an imaging stands, shown as GNU ddrescue shows a rescue.
struct ImagingCounters {
  std::uint64_t positionBytes = 0;  // where the copy reads
  std::uint64_t rescuedBytes = 0;   // read without error
  std::uint64_t triedBytes = 0;     // read, with or without error
  std::uint64_t totalBytes = 0;
  std::uint64_t badAreas = 0;
  std::uint64_t readErrors = 0;
};

// "1234 B", "33554 kB", "1073 MB": SI units as ddrescue prints sizes.
std::string formatSize(std::uint64_t bytes);

// The imaging line while it runs:
//   "pos 16777 kB  rescued 16777 kB of 33554 kB (50.0%)  bad areas 2  read errors 3
//    12.3 MB/s now  10.1 MB/s average  0:00:02 left"
// currentRate: bytes per second over the last moments (negative: not known yet).
std::string formatImagingLine(const ImagingCounters& counters, double currentRate, double elapsedSeconds,
                              std::size_t columns);

// The last line of an imaging: what was done, in how long, at what rate
// ("Copied 33554 kB of 33554 kB (100.0%), 0 bad areas, 0 read errors in 0:00:03 (11.2 MB/s average)").
std::string formatImagingSummary(const ImagingCounters& counters, double elapsedSeconds, bool stopped);

// What a job reports at one moment.
struct ProgressState {
  int percent = 0;
  std::string status;
  // Bytes moved and to move, for jobs that copy data; the rate and the time
  // left come from them. Without them the time left follows the percentage.
  std::optional<std::uint64_t> doneBytes;
  std::optional<std::uint64_t> totalBytes;
};

// The line for state after elapsedSeconds, at most columns - 1 characters
// (UTF-8 characters, so that the terminal never wraps it). The status is
// shortened first ("..."), the rest only when even that does not fit.
std::string formatProgressLine(const ProgressState& state, double elapsedSeconds, std::size_t columns);

// The width of the terminal on fd (TIOCGWINSZ), else $COLUMNS, else 80.
std::size_t terminalColumns(int fd);

class ProgressLine {
 public:
  // The elapsed time counts from construction.
  explicit ProgressLine(bool enabled) : enabled_(enabled), started_(std::chrono::steady_clock::now()) {}
  bool enabled() const { return enabled_; }
  // Replaces what the line shows.
  void draw(const ProgressState& state) const;
  // Shows state a last time and moves to the next line.
  void finish(const ProgressState& state) const;
  // Moves to the next line so that a message can follow.
  void breakLine() const;
  // The same with a line made by the caller (elapsedSeconds() for its clock).
  void drawText(const std::string& text) const;
  void finishText(const std::string& text) const;
  double elapsedSeconds() const;

 private:
  std::string render(const ProgressState& state) const;
  bool enabled_;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace dravolin
