#pragma once
// Label texts by message number, read from the language file of the data
// folder and falling back to the built-in texts.
//
// Language file format ("EnglishW.dat", UTF-8): one message per line as
// NUMBER=TEXT; blank lines and lines starting with '#' are ignored; "\n" in a
// text stands for a line break. A number may appear once; a later line
// replaces an earlier one.
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace dravolin {

inline constexpr const char* kLanguageFileName = "EnglishW.dat";

// Shown where a saving destination is chosen.
inline constexpr const char* kOtherDriveNote = "Note : It is advisable to Save Data on a Drive other then the Source.";

// The contract of the message library: true and the text when the language
// file at languageFile holds message number; false and text untouched otherwise.
bool GetMSG(int number, std::string& text, const std::filesystem::path& languageFile);

class MessageCatalog {
 public:
  MessageCatalog() = default;
  explicit MessageCatalog(const std::filesystem::path& dataFolder);

  // The text for a label: the language file's when it has one, else the
  // built-in text, else the fallback given.
  std::string text(int number, const std::string& fallback = {}) const;
  std::optional<std::string> fromLanguageFile(int number) const;
  static std::optional<std::string> builtIn(int number);

 private:
  std::map<int, std::string> texts_;
};

}  // namespace dravolin
