#pragma once
// The one progress line of the command line: redrawn in place on stderr
// while a job runs, ended with a line break when it is done. Silent when
// disabled (--quiet, or stderr is not a terminal).
#include <string>

namespace dravolin {

class ProgressLine {
 public:
  explicit ProgressLine(bool enabled) : enabled_(enabled) {}
  bool enabled() const { return enabled_; }
  // Replaces what the line shows.
  void draw(const std::string& text) const;
  // Shows text a last time and moves to the next line.
  void finish(const std::string& text) const;
  // Moves to the next line so that a message can follow.
  void breakLine() const;

 private:
  bool enabled_;
};

}  // namespace dravolin
