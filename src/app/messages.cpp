#include "app/messages.h"

#include <fstream>
#include <string_view>

namespace dravolin {
namespace {

// The text of a line with each "\n" (backslash, n) turned into a line break,
// read left to right. Built by appending: the in-place replace it once was
// made g++ 12 warn (-Wrestrict) about the string's own buffer.
std::string unescapeLineBreaks(std::string_view raw) {
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == 'n') {
      text.push_back('\n');
      ++i;
    } else {
      text.push_back(raw[i]);
    }
  }
  return text;
}

std::map<int, std::string> readLanguageFile(const std::filesystem::path& file) {
  std::map<int, std::string> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    int number = 0;
    bool digits = true;
    for (std::size_t i = 0; i < eq; ++i) {
      char c = line[i];
      if (c < '0' || c > '9' || number > 100000) {
        digits = false;
        break;
      }
      number = number * 10 + (c - '0');
    }
    if (!digits) continue;
    out[number] = unescapeLineBreaks(std::string_view(line).substr(eq + 1));
  }
  return out;
}

// Built-in texts: the labels the pages carry when no language file is there.
const std::map<int, std::string>& builtInTexts() {
  static const std::map<int, std::string> texts = {
      {0, "&Next >"},
      {1, "< &Back"},
      {7, "&Cancel"},
      {58, "Select Disk"},
      {59, "Select Image"},
      {60, "Floppy Drive"},
      {61, "&Help"},
      {67, "Time Elapsed          :-"},
      {68, "Total Size                :-"},
      {69, "Directories Found    :-"},
      {71, "Last Name               :-"},
      {72, "Hide Progress Details"},
      {76, "Include Deleted Files"},
      {77, "Exclude  Deleted File(s)"},
      {78, "Save Deleted Files Only"},
      {79, "Auto"},
      {80, "FAT1"},
      {81, "FAT2"},
      {82, "DD"},
      {84, "Contiguous"},
      {85, "Earlier : "},
      {86, "After   : "},
      {87, "MM"},
      {88, "YYYY"},
      {89, "&Add"},
      {90, "&Remove"},
      {91, "Extensions"},
      {92, "Date"},
      {93, "Save Selected File(s)"},
      {94, "Save All File(s)"},
      {95, "Invert Selection"},
      {96, "&Apply"},
  };
  return texts;
}

}  // namespace

bool GetMSG(int number, std::string& text, const std::filesystem::path& languageFile) {
  auto texts = readLanguageFile(languageFile);
  auto it = texts.find(number);
  if (it == texts.end()) return false;
  text = it->second;
  return true;
}

MessageCatalog::MessageCatalog(const std::filesystem::path& dataFolder)
    : texts_(readLanguageFile(dataFolder / kLanguageFileName)) {}

std::optional<std::string> MessageCatalog::fromLanguageFile(int number) const {
  auto it = texts_.find(number);
  if (it == texts_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> MessageCatalog::builtIn(int number) {
  auto it = builtInTexts().find(number);
  if (it == builtInTexts().end()) return std::nullopt;
  return it->second;
}

std::string MessageCatalog::text(int number, const std::string& fallback) const {
  if (auto t = fromLanguageFile(number)) return *t;
  if (auto t = builtIn(number)) return *t;
  return fallback;
}

}  // namespace dravolin
