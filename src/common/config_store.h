#pragma once
// A small INI-style store of named string values in sections, kept in one
// file. It stands where a registry key would: the application's values
// ("FilePath", "Activity Log", "Recovery Log") and the geometry cache.
//
// Any text round-trips: backslashes, line breaks, tabs, "=", "[", "]", the
// comment characters and blanks at either end of a name or value are written
// as backslash escapes and read back as they were.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"

namespace dravolin {

class ConfigStore {
 public:
  ConfigStore() = default;
  // Reads the file when it exists; a file that exists but cannot be read is
  // remembered in loadError() and the store starts empty.
  explicit ConfigStore(std::filesystem::path file);

  const std::filesystem::path& file() const { return file_; }

  // A missing section or value reads as the empty text.
  std::string value(const std::string& section, const std::string& name) const;
  void setValue(const std::string& section, const std::string& name, const std::string& value);
  void removeSection(const std::string& section);
  std::vector<std::string> names(const std::string& section) const;

  // Reads the file again. A missing file is an empty store, not an error.
  [[nodiscard]] Result<void> load();
  // Writes a temporary file beside the real one, flushes it to the disk and
  // renames it over the real one, so a crash never leaves half a file.
  [[nodiscard]] Result<void> save() const;

  // Why the file given to the constructor could not be read, if it could not.
  const std::optional<Error>& loadError() const { return loadError_; }

 private:
  std::filesystem::path file_;
  std::map<std::string, std::map<std::string, std::string>> sections_;
  std::optional<Error> loadError_;
};

// The escaped form of a text as the store writes it, and back.
std::string escapeConfigText(const std::string& text);
std::string unescapeConfigText(const std::string& text);

}  // namespace dravolin
