#include "app/app_environment.h"

#include <unistd.h>

#include <cstdlib>

namespace dravolin {
namespace fs = std::filesystem;

namespace {

fs::path xdgFolder(const char* variable, const char* fallbackUnderHome) {
  if (const char* v = std::getenv(variable); v && *v) return fs::path(v);
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/tmp") / fallbackUnderHome;
}

bool isFolder(const fs::path& p) {
  std::error_code ec;
  return !p.empty() && fs::is_directory(p, ec);
}

bool isDataFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p / "EnglishW.dat", ec);
}

}  // namespace

fs::path runningProgram() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe;
}

fs::path dataFolderBeside(const fs::path& program) {
  if (program.empty() || !program.has_parent_path()) return {};
  // Installed, the program is <prefix>/bin/dravolin and its data lies in
  // <prefix>/share/dravolin; in a build folder the configure step links
  // <build>/share/dravolin to the source's data folder, a few levels up.
  fs::path folder = program.parent_path();
  for (int level = 0; level < 4 && !folder.empty(); ++level) {
    if (fs::path candidate = folder.parent_path() / "share" / "dravolin"; isDataFolder(candidate))
      return candidate;
    if (folder == folder.parent_path()) break;
    folder = folder.parent_path();
  }
  return {};
}

fs::path defaultConfigFile() { return xdgFolder("XDG_CONFIG_HOME", ".config") / "dravolin" / "dravolin.ini"; }

fs::path defaultLogFolder() { return xdgFolder("XDG_STATE_HOME", ".local/state") / "dravolin"; }

fs::path resolveDataFolder(const ConfigStore& config) {
  fs::path configured = config.value(kAppKey, "FilePath");
  if (isFolder(configured)) return configured;
  if (const char* v = std::getenv("DRAVOLIN_DATA_DIR"); v && isFolder(v)) return fs::path(v);
  return dataFolderBeside(runningProgram());
}

fs::path resolveLogFolder(const ConfigStore& config, const std::string& valueName,
                          const std::optional<fs::path>& logDir) {
  if (logDir) return *logDir;
  fs::path configured = config.value(kAppKey, valueName);
  if (isFolder(configured)) return configured;
  return defaultLogFolder();
}

}  // namespace dravolin
