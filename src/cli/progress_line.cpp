#include "cli/progress_line.h"
#include "results/unicode_text.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace dravolin {

namespace {

// "1:02:03" for a count of seconds.
std::string clock(std::uint64_t seconds) {
  char text[40];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60));
  return text;
}

std::uint64_t wholeSeconds(double seconds) {
  if (!(seconds > 0.0)) return 0;
  if (seconds > 1e12) return 1000000000000ULL;
  return static_cast<std::uint64_t>(std::llround(seconds));
}

// Characters of UTF-8 text (bytes that do not continue a character).
std::size_t characters(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// The first count characters of text.
std::string firstCharacters(const std::string& text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (seen == count) return text.substr(0, i);
      ++seen;
    }
  }
  return text;
}

}  // namespace

std::string formatProgressLine(const ProgressState& state, double elapsedSeconds, std::size_t columns) {
  const int percent = state.percent < 0 ? 0 : state.percent > 100 ? 100 : state.percent;
  std::string rate = "-- MB/s";
  std::optional<double> left;
  if (state.doneBytes && *state.doneBytes > 0 && elapsedSeconds > 0.0) {
    const double bytesPerSecond = static_cast<double>(*state.doneBytes) / elapsedSeconds;
    char text[40];
    std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
    rate = text;
    if (state.totalBytes)
      left = static_cast<double>(*state.totalBytes > *state.doneBytes ? *state.totalBytes - *state.doneBytes : 0) /
             bytesPerSecond;
  } else if (!state.doneBytes && percent > 0 && elapsedSeconds > 0.0) {
    left = elapsedSeconds * (100 - percent) / percent;
  }
  char head[16];
  std::snprintf(head, sizeof head, "%3d%%", percent);
  const std::string tail = "  " + rate + "  " + clock(wholeSeconds(elapsedSeconds)) + " elapsed  " +
                           (left ? clock(wholeSeconds(*left)) : std::string("--:--:--")) + " left";
  const std::size_t room = columns > 1 ? columns - 1 : 0;
  const std::size_t fixed = characters(head) + 2 + characters(tail);
  std::string line;
  if (fixed + 3 <= room) {
    // The status takes what is left, cut with "..." when longer.
    std::string status = shownText(state.status);  // names from the disk, shown escaped
    const std::size_t space = room - fixed;
    if (characters(status) > space) status = firstCharacters(status, space - 3) + "...";
    line = std::string(head) + "  " + status + tail;
  } else {
    line = firstCharacters(std::string(head) + tail, room);
  }
  return line;
}

std::size_t terminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS"); columns && *columns) {
    char* end = nullptr;
    const long value = std::strtol(columns, &end, 10);
    if (end && *end == '\0' && value > 0 && value <= 10000) return static_cast<std::size_t>(value);
  }
  return 80;
}

std::string ProgressLine::render(const ProgressState& state) const {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  return formatProgressLine(state, seconds, terminalColumns(STDERR_FILENO));
}

void ProgressLine::draw(const ProgressState& state) const {
  if (!enabled_) return;
  // Carriage return, the text, then erase what a longer earlier text left.
  std::fprintf(stderr, "\r%s\033[K", render(state).c_str());
  std::fflush(stderr);
}

void ProgressLine::finish(const ProgressState& state) const {
  if (!enabled_) return;
  std::fprintf(stderr, "\r%s\033[K\n", render(state).c_str());
  std::fflush(stderr);
}

std::string formatSize(std::uint64_t bytes) {
  static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  std::size_t unit = 0;
  std::uint64_t value = bytes;
  while (value >= 100000 && unit + 1 < std::size(kUnits)) {
    value /= 1000;
    ++unit;
  }
  return std::to_string(value) + " " + kUnits[unit];
}

namespace {

std::string rateText(double bytesPerSecond) {
  char text[40];
  std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
  return text;
}

std::string percentText(std::uint64_t part, std::uint64_t whole) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 100.0);
  return text;
}

}  // namespace

std::string formatImagingLine(const ImagingCounters& c, double currentRate, double elapsedSeconds,
                              std::size_t columns) {
  const double average = elapsedSeconds > 0.0 ? static_cast<double>(c.triedBytes) / elapsedSeconds : 0.0;
  std::string line = "pos " + formatSize(c.positionBytes) + "  rescued " + formatSize(c.rescuedBytes) + " of " +
                     formatSize(c.totalBytes) + " (" + percentText(c.rescuedBytes, c.totalBytes) + ")  bad areas " +
                     std::to_string(c.badAreas) + "  read errors " + std::to_string(c.readErrors);
  line += "  " + (currentRate >= 0.0 ? rateText(currentRate) : rateText(average)) + " now";
  line += "  " + rateText(average) + " average";
  // The time left at the average rate of this run.
  if (average > 0.0) {
    const std::uint64_t left = c.totalBytes > c.triedBytes ? c.totalBytes - c.triedBytes : 0;
    line += "  " + clock(wholeSeconds(static_cast<double>(left) / average)) + " left";
  }
  line += "  " + clock(wholeSeconds(elapsedSeconds)) + " elapsed";
  const std::size_t room = columns > 1 ? columns - 1 : 0;
  return firstCharacters(line, room);
}

std::string formatImagingSummary(const ImagingCounters& c, double elapsedSeconds, bool stopped) {
  std::string line = std::string(stopped ? "Stopped: rescued " : "Rescued ") + formatSize(c.rescuedBytes) + " of " +
                     formatSize(c.totalBytes) + " (" + percentText(c.rescuedBytes, c.totalBytes) + "), " +
                     std::to_string(c.badAreas) + (c.badAreas == 1 ? " bad area, " : " bad areas, ") +
                     std::to_string(c.readErrors) + (c.readErrors == 1 ? " read error" : " read errors") + " in " +
                     clock(wholeSeconds(elapsedSeconds));
  // A rate only when one was measured.
  if (elapsedSeconds > 0.0 && c.triedBytes > 0)
    line += " (" + rateText(static_cast<double>(c.triedBytes) / elapsedSeconds) + " average)";
  return line;
}

double ProgressLine::elapsedSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

void ProgressLine::drawText(const std::string& text) const {
  if (!enabled_) return;
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
  std::fflush(stderr);
}

void ProgressLine::finishText(const std::string& text) const {
  if (!enabled_) return;
  std::fprintf(stderr, "\r%s\033[K\n", text.c_str());
  std::fflush(stderr);
}

void ProgressLine::breakLine() const {
  if (!enabled_) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace dravolin
