#pragma once
// Which files of a directory a saving writes: the selection mode against the
// file's mark, the three date ranges, the deleted filter and the extension
// list of the saving settings. The size count and the saving use the same
// test, so that what is counted is what is written.
#include <string>
#include <string_view>

#include "entries/found_entries.h"
#include "results/browser_texts.h"
#include "results/saving_settings.h"

namespace dravolin {

// Selection mode 0 keeps marked items, 2 unmarked ones, 1 everything.
bool selectionAccepts(int selectionMode, bool marked);

// A date inside an active range: the year within the range's years and the
// day number year × 360 + month × 30 + day within those of its two dates.
bool dateInRange(const ActiveDateRange& range, const CalendarDate& date);

// The extension a name is filtered by: the text after the last '.', cut to
// 7 characters; a name without '.' is taken whole.
std::string filterExtension(std::string_view name);
// Whether the extension list lets the name through (an empty list lets
// everything through; compared without regard to ASCII case).
bool extensionAccepted(const std::vector<std::string>& list, std::string_view name);

class FileFilter {
 public:
  FileFilter(const SavingSettings& settings, bool fat) : settings_(settings), fat_(fat) {}

  // The directory-level tests: selection mark and date ranges.
  bool passesSelection(const FileNode& node) const;
  bool passesDates(const FileNode& node) const;
  // The tests made when a file is about to be written: deleted filter and
  // extension list. name is the file's name as it will be saved.
  bool passesFileTests(const FileNode& node, std::string_view name) const;
  bool passesAll(const FileNode& node, std::string_view name) const {
    return passesSelection(node) && passesDates(node) && passesFileTests(node, name);
  }

 private:
  const SavingSettings& settings_;
  bool fat_;
};

}  // namespace dravolin
