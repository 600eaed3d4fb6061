#pragma once
// The texts the result browser shows for entries: type texts, dates in the
// FAT and NTFS forms (with an ISO-8601 twin for machine-readable output),
// the calendar date of a time field, and the summary line.
#include <cstdint>
#include <optional>
#include <string>

#include "entries/found_entries.h"

namespace dravolin {

// Which time field of a node: the three date columns of the browser.
enum class EntryDateKind { Modified = 0, Created = 1, Accessed = 2 };

// The name of a node as UTF-8: the wide name, or the narrow (OEM 8-bit)
// name decoded with the code page. Plain ASCII needs no conversion.
std::string entryName(const std::string& narrowName, const std::u16string& wideName, const std::string& codePage);
// The same name appended to out.
void appendEntryName(std::string& out, const std::string& narrowName, const std::u16string& wideName,
                     const std::string& codePage);

// "Folder", "Deleted Folder", "File" or "Deleted File".
std::string typeText(bool isFolder, bool deleted);

// Three-letter month name; "Err" for 0 and for 13 and above.
std::string monthAbbreviation(unsigned month);

// FAT date and time words as the browser shows them: "07-Mar-2006 09:05"
// and, for the access date, "07-Mar-2006".
std::string formatFatDateTime(std::uint32_t date, std::uint32_t time);
std::string formatFatDate(std::uint32_t date);
// The same values as ISO-8601 text ("2006-03-07T09:05:00", "2006-03-07");
// empty when the word holds no valid calendar date (month or day 0, month > 12).
std::string isoFatDateTime(std::uint32_t date, std::uint32_t time);
std::string isoFatDate(std::uint32_t date);

// A FILETIME (100 ns since 1601, UTC) as "07-Mar-2006 09:05:33" and in ISO
// form with its zone ("2006-03-07T09:05:33Z"). A FILETIME of 0 means "no
// time": both texts are empty (and entryDate gives the all-zero date).
std::string formatFileTime(std::uint64_t fileTime);
std::string isoFileTime(std::uint64_t fileTime);

// A calendar date as the filters compare it.
struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

// The date of one time field of a node. On FAT from the packed date word
// (year 1980 + bits 9..15, month bits 5..8, day bits 0..4); on NTFS from the
// FILETIME converted to a calendar date.
CalendarDate entryDate(const EntryTimes& times, EntryDateKind kind, bool fat);

// The column texts of one node's three dates, browser form and ISO form.
struct EntryDateTexts {
  std::string modified, created, accessed;
  std::string modifiedIso, createdIso, accessedIso;
};
// iso false leaves the ISO texts empty (a listing that shows only the others).
EntryDateTexts entryDateTexts(const EntryTimes& times, bool fat, bool iso = true);
// The date text of the last FILETIME day formatted, kept by a caller that
// formats many times: the files of a folder mostly carry times of one day.
struct ShownDay {
  std::uint64_t day = ~std::uint64_t{0};
  char text[20] = {};  // "dd-Mon-yyyy hh:mm:ss"
};
// The same texts written over out's, reusing their storage: a listing of a
// large volume makes hundreds of thousands of them. With lastDay, a time on
// the day it holds reuses that day's text.
void fillEntryDateTexts(EntryDateTexts& out, const EntryTimes& times, bool fat, bool iso = true,
                        ShownDay* lastDay = nullptr);

// "%.3f MB size in" up to and including 1,073,741,824 bytes, else "%.3f GB size in".
std::string sizeInText(std::uint64_t bytes);

// The summary under the tree: size, "%d Directories", "%d Files".
std::string summaryText(std::uint64_t totalSize, std::uint64_t directories, std::uint64_t files);
// The summary wrapped in the mark-up of the formatted-text control.
std::string summaryMarkup(const std::string& summary);

}  // namespace dravolin
