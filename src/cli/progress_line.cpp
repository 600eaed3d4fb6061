#include "cli/progress_line.h"

#include <cstdio>

namespace dravolin {

void ProgressLine::draw(const std::string& text) const {
  if (!enabled_) return;
  // Carriage return, the text, then erase what a longer earlier text left.
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
  std::fflush(stderr);
}

void ProgressLine::finish(const std::string& text) const {
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
