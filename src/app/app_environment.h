#pragma once
// Where the program keeps its settings, its logs and its data folder.
#include <filesystem>
#include <optional>
#include <string>

#include "common/config_store.h"

namespace dravolin {

inline constexpr const char* kAppKey = "Dravolin";  // section of the application's values

struct EnvironmentOptions {
  std::optional<std::filesystem::path> configFile;  // --config
  std::optional<std::filesystem::path> logDir;      // --log-dir
};

// The settings file: --config, else $XDG_CONFIG_HOME/dravolin/dravolin.ini
// (~/.config when unset).
std::filesystem::path defaultConfigFile();
// Default log folder: $XDG_STATE_HOME/dravolin (~/.local/state when unset).
std::filesystem::path defaultLogFolder();

// The data folder: the "FilePath" value when it names a folder, else the
// DRAVOLIN_DATA_DIR environment variable, else the folder installed with the
// program (dataFolderBeside the running program; empty when there is none).
std::filesystem::path resolveDataFolder(const ConfigStore& config);

// The path of the running program (/proc/self/exe); empty when unknown.
std::filesystem::path runningProgram();
// The data folder that belongs to program: the nearest "share/dravolin"
// holding the language file beside one of its first four parent folders
// (<prefix>/bin/dravolin finds <prefix>/share/dravolin); empty when none.
std::filesystem::path dataFolderBeside(const std::filesystem::path& program);

// A log's folder: --log-dir, else the value "Activity Log" / "Recovery Log"
// when it names an existing folder, else the default log folder.
std::filesystem::path resolveLogFolder(const ConfigStore& config, const std::string& valueName,
                                       const std::optional<std::filesystem::path>& logDir);

}  // namespace dravolin
