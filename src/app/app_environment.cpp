#include "app/app_environment.h"

#include <cstdlib>

#ifndef DRAVOLIN_DATA_DIR
#define DRAVOLIN_DATA_DIR ""
#endif

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

}  // namespace

fs::path defaultConfigFile() { return xdgFolder("XDG_CONFIG_HOME", ".config") / "dravolin" / "dravolin.ini"; }

fs::path defaultLogFolder() { return xdgFolder("XDG_STATE_HOME", ".local/state") / "dravolin"; }

fs::path resolveDataFolder(const ConfigStore& config) {
  fs::path configured = config.value(kAppKey, "FilePath");
  if (isFolder(configured)) return configured;
  if (const char* v = std::getenv("DRAVOLIN_DATA_DIR"); v && isFolder(v)) return fs::path(v);
  return fs::path(DRAVOLIN_DATA_DIR);
}

fs::path resolveLogFolder(const ConfigStore& config, const std::string& valueName,
                          const std::optional<fs::path>& logDir) {
  if (logDir) return *logDir;
  fs::path configured = config.value(kAppKey, valueName);
  if (isFolder(configured)) return configured;
  return defaultLogFolder();
}

}  // namespace dravolin
