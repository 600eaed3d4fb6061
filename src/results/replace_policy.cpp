#include "results/replace_policy.h"

namespace dravolin {
namespace fs = std::filesystem;

std::optional<fs::path> makeNewName(const fs::path& path, const NameTaken& taken) {
  const std::string name = path.filename().string();
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string tail = dot == std::string::npos ? std::string{} : name.substr(dot);
  std::error_code error;
  for (int i = 0; i < kMaxRenameAttempts; ++i) {
    fs::path candidate = path.parent_path() / (stem + std::to_string(i) + tail);
    if (!fs::exists(fs::symlink_status(candidate, error)) && !(taken && taken(candidate))) return candidate;
  }
  return std::nullopt;
}

ExistingDecision ReplacePolicy::rename(const fs::path& existing, const NameTaken& taken) const {
  ExistingDecision decision;
  if (auto fresh = makeNewName(existing, taken)) {
    decision.action = ExistingAction::WriteNew;
    decision.target = *fresh;
  } else {
    // Every new name is taken: the existing file is kept rather than
    // overwritten, and the saving reports the file as not written.
    decision.action = ExistingAction::Skip;
    decision.noFreeName = true;
  }
  return decision;
}

ExistingDecision ReplacePolicy::decide(const fs::path& existing, Prompter& prompter, const NameTaken& taken) {
  if (answer_ == ReplaceAnswer::NoToAll) return ExistingDecision{ExistingAction::Skip, {}, false, false};
  if (answer_ == ReplaceAnswer::RenameAll) return rename(existing, taken);
  if (answer_ == ReplaceAnswer::YesToAll) return ExistingDecision{ExistingAction::Overwrite, existing, false, false};
  const ReplaceAnswer asked = prompter.askReplace(existing.string());
  answer_ = asked;
  switch (asked) {
    case ReplaceAnswer::No:
    case ReplaceAnswer::NoToAll:
      return ExistingDecision{ExistingAction::Skip, {}, true, false};
    case ReplaceAnswer::Rename:
    case ReplaceAnswer::RenameAll:
      return rename(existing, taken);
    case ReplaceAnswer::Yes:
    case ReplaceAnswer::YesToAll:
      break;
  }
  return ExistingDecision{ExistingAction::Overwrite, existing, false, false};
}

}  // namespace dravolin
