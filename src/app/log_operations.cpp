#include "app/log_operations.h"

namespace dravolin {
namespace fs = std::filesystem;

std::string logDisplayName(LogKind kind) {
  return kind == LogKind::Activity ? "Activity Report" : "Recovery History";
}

std::optional<fs::path> viewLog(const LogFile& log, Prompter& prompter) {
  std::error_code ec;
  if (!fs::exists(log.path(), ec)) {
    prompter.inform(logDisplayName(log.kind()) + " file not found");
    return std::nullopt;
  }
  return log.path();
}

bool clearLog(const LogFile& log, Prompter& prompter) {
  std::error_code ec;
  if (!fs::exists(log.path(), ec)) {
    prompter.inform(logFileName(log.kind()) + " file not found");
    return false;
  }
  if (!prompter.askYesNo("Are you sure you want to delete " + logDisplayName(log.kind()))) return false;
  fs::permissions(log.path(), fs::perms::owner_write, fs::perm_options::add, ec);
  return fs::remove(log.path(), ec);
}

}  // namespace dravolin
