#include "results/save_filters.h"

#include <algorithm>

namespace dravolin {
namespace {

long dayNumber(int year, int month, int day) {
  return static_cast<long>(year) * 360 + static_cast<long>(month) * 30 + day;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

}  // namespace

bool selectionAccepts(int selectionMode, bool marked) {
  if (selectionMode == 0) return marked;
  if (selectionMode == 2) return !marked;
  return true;
}

bool dateInRange(const ActiveDateRange& range, const CalendarDate& date) {
  if (date.year < range.afterYear || date.year > range.earlierYear) return false;
  const long value = dayNumber(date.year, date.month, date.day);
  return value >= dayNumber(range.afterYear, range.afterMonth, range.afterDay) &&
         value <= dayNumber(range.earlierYear, range.earlierMonth, range.earlierDay);
}

std::string filterExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  std::string_view extension = dot == std::string_view::npos ? name : name.substr(dot + 1);
  return std::string(extension.substr(0, 7));
}

bool extensionAccepted(const std::vector<std::string>& list, std::string_view name) {
  if (list.empty()) return true;
  const std::string extension = filterExtension(name);
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& entry) { return equalIgnoringCase(entry, extension); });
}

bool FileFilter::passesSelection(const FileNode& node) const {
  return selectionAccepts(settings_.SaveSelectionMode, node.mark == 'y');
}

bool FileFilter::passesDates(const FileNode& node) const {
  for (std::size_t kind = 0; kind < settings_.activeDateRanges.size(); ++kind) {
    const ActiveDateRange& range = settings_.activeDateRanges[kind];
    if (!range.active()) continue;
    if (!dateInRange(range, entryDate(node.times, static_cast<EntryDateKind>(kind), fat_))) return false;
  }
  return true;
}

bool FileFilter::passesFileTests(const FileNode& node, std::string_view name) const {
  if (settings_.SaveDeletedFilter == 2 && !node.isDeleted()) return false;
  if (settings_.SaveDeletedFilter == 1 && node.isDeleted()) return false;
  return extensionAccepted(settings_.SaveExtensionList, name);
}

}  // namespace dravolin
