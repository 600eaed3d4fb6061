#pragma once
// A small INI-style store of named string values in sections, kept in one
// file. It stands where a registry key would: the application's values
// ("FilePath", "Activity Log", "Recovery Log") and the geometry cache.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dravolin {

class ConfigStore {
 public:
  ConfigStore() = default;
  explicit ConfigStore(std::filesystem::path file) : file_(std::move(file)) { load(); }

  const std::filesystem::path& file() const { return file_; }

  // A missing section or value reads as the empty text.
  std::string value(const std::string& section, const std::string& name) const;
  void setValue(const std::string& section, const std::string& name, const std::string& value);
  void removeSection(const std::string& section);
  std::vector<std::string> names(const std::string& section) const;

  // Reads the file again / writes it (creating its folder). Saving writes a
  // temporary file and renames it, so a crash never leaves half a file.
  void load();
  bool save() const;

 private:
  std::filesystem::path file_;
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

}  // namespace dravolin
