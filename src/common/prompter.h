#pragma once
// Questions a worker must ask the user. The GUI asks on its own thread and
// blocks the worker on the answer; the command line answers from options or
// asks on the terminal; tests answer from a script.
#include <string>

namespace dravolin {

// Answers of the bad-sector dialog; the values are those of the policy.
enum class BadSectorAnswer { Retry = 0, Skip = 1, RetryAll = 2, SkipAll = 3 };

// Answers of the replace-file question.
enum class ReplaceAnswer { Yes = 0, No = 1, YesToAll = 2, NoToAll = 3, Rename = 4, RenameAll = 5 };

class Prompter {
 public:
  virtual ~Prompter() = default;
  // "Bad Sectors Encountered" / "Encountered Bad Sector(s) while reading disk."
  virtual BadSectorAnswer askBadSector() = 0;
  // An existing file at the destination.
  virtual ReplaceAnswer askReplace(const std::string& path) = 0;
  // A yes/no question; text lines are joined with "\r\n" as the wizard builds them.
  virtual bool askYesNo(const std::string& text) = 0;
  // An information message.
  virtual void inform(const std::string& text) = 0;
};

}  // namespace dravolin
