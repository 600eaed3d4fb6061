#include "raw/extension_selection.h"

#include <algorithm>
#include <cctype>

namespace dravolin {
namespace {

std::string trimmedUpper(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

std::string knownNames() {
  std::string out;
  for (auto name : kExtensionNames) {
    if (!out.empty()) out += ",";
    out += name;
  }
  return out;
}

}  // namespace

Result<ExtensionTicks> parseExtensionList(std::string_view list) {
  ExtensionTicks ticks{};
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t comma = list.find(',', at);
    if (comma == std::string_view::npos) comma = list.size();
    std::string name = trimmedUpper(list.substr(at, comma - at));
    at = comma + 1;
    if (name.empty()) continue;
    if (name == "ALL") {
      ticks.fill(true);
      continue;
    }
    int row = extensionRow(name);
    if (row < 0) return makeError(ErrorKind::InvalidArgument, "Unknown file type \"" + name + "\"; known types: " + knownNames() + " or all");
    ticks[static_cast<std::size_t>(row)] = true;
  }
  return ticks;
}

Result<TypeSelection> parseTypeList(std::string_view list) {
  // Common extensions of the types, and their names.
  static constexpr std::pair<std::string_view, std::string_view> kAliases[] = {
      {"JPG", "JPEG"}, {"JPE", "JPEG"}, {"TIFF", "TIF"}, {"HTM", "HTML"},   {"GZIP", "GZ"},  {"TGZ", "GZ"},
      {"DB", "SQLITE"}, {"SQLITE3", "SQLITE"}, {"OGA", "OGG"}, {"OGV", "OGG"}, {"HEIF", "HEIC"}, {"3G2", "3GP"},
      {"M4V", "MP4"}, {"QT", "MOV"}};
  TypeSelection selection;
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t comma = list.find(',', at);
    if (comma == std::string_view::npos) comma = list.size();
    std::string name = trimmedUpper(list.substr(at, comma - at));
    at = comma + 1;
    if (name.empty()) continue;
    for (const auto& [alias, type] : kAliases)
      if (name == alias) name = std::string(type);
    if (name == "ALL") {
      selection.classic.fill(true);
    } else if (name == "MODERN") {
      selection.modern.fill(true);
    } else if (int row = extensionRow(name); row >= 0) {
      selection.classic[static_cast<std::size_t>(row)] = true;
    } else if (int modern = modernRow(name); modern >= 0) {
      selection.modern[static_cast<std::size_t>(modern)] = true;
    } else {
      std::string modernNames;
      for (auto n : kModernNames) modernNames += "," + std::string(n);
      return makeError(ErrorKind::InvalidArgument, "Unknown file type \"" + name + "\"; known types: " + knownNames() +
                                                       modernNames + ", all or modern");
    }
  }
  return selection;
}

Result<RawPageChoice> commitRawExtensionPage(const ExtensionTicks& ticks, LogFile& activityLog,
                                                                 const std::function<std::string()>& savingPathDialog,
                                                                 const ModernTicks& modern) {
  activityLog.appendLines({"\r\n", "Step 2 (b) :", "-------", "Selected Extensions Information : "});
  for (std::size_t row = 0; row < kExtensionCount; ++row)
    if (ticks[row]) activityLog.append(kExtensionNames[row]);
  for (std::size_t row = 0; row < kModernCount; ++row)
    if (modern[row]) activityLog.append(kModernNames[row]);
  const bool anyModern = std::any_of(modern.begin(), modern.end(), [](bool t) { return t; });
  RawPageChoice choice{anyModern ? buildSignatureTable(ticks, modern) : buildSignatureTable(ticks), {}};
  if (std::none_of(ticks.begin(), ticks.end(), [](bool t) { return t; }) && !anyModern)
    return makeError(ErrorKind::InvalidArgument, kSelectExtensionsMessage);
  activityLog.append("\r\n");
  choice.savingPath = savingPathDialog ? savingPathDialog() : std::string();
  if (choice.savingPath.empty()) {
    activityLog.append("Please specify destination/saving path");
    return makeError(ErrorKind::InvalidArgument, kSpecifySavingPathMessage);
  }
  activityLog.append("Saving Path : " + choice.savingPath);
  return choice;
}

}  // namespace dravolin
