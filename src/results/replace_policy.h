#pragma once
// What happens when a file to be saved already exists at the destination:
// the replace question and its remembered answer, and the making of a new
// name (report.txt -> report0.txt, report1.txt, ...).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "common/prompter.h"

namespace dravolin {

inline constexpr int kMaxRenameAttempts = 10000;
inline constexpr const char* kReplaceQuestion =
    "The File Already Exists. Do you want to replace the existing file.";

// The first of name0.ext, name1.ext, ... name9999.ext (number before the
// last '.', or at the end of a name without '.') that does not exist in the
// same folder; nothing when all 10,000 exist. taken, when given, names more
// paths to treat as existing (files of this run not yet under their names).
using NameTaken = std::function<bool(const std::filesystem::path&)>;
std::optional<std::filesystem::path> makeNewName(const std::filesystem::path& path, const NameTaken& taken = {});

enum class ExistingAction {
  Overwrite,  // replace the existing file
  WriteNew,   // write under the new name in target
  Skip,       // leave the existing file alone
};

struct ExistingDecision {
  ExistingAction action = ExistingAction::Skip;
  std::filesystem::path target;  // where to write (Overwrite, WriteNew)
  bool countAsCopied = false;    // Skip: the file's size still counts as copied
  bool noFreeName = false;       // Rename asked but every new name is taken
};

// The answer remembered across the files of one saving. It starts with no
// answer; "to All" answers are applied without asking again.
class ReplacePolicy {
 public:
  ExistingDecision decide(const std::filesystem::path& existing, Prompter& prompter, const NameTaken& taken = {});
  std::optional<ReplaceAnswer> answer() const { return answer_; }
  void reset() { answer_.reset(); }

 private:
  ExistingDecision rename(const std::filesystem::path& existing, const NameTaken& taken) const;
  std::optional<ReplaceAnswer> answer_;
};

}  // namespace dravolin
