#include "results/browser_texts.h"

#include <ctime>
#include <optional>

#include "common/format.h"
#include "common/text_encoding.h"

namespace dravolin {
namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct FatDate {
  unsigned year, month, day;
};
FatDate splitFatDate(std::uint32_t date) {
  return {1980 + ((date >> 9) & 0x7F), (date >> 5) & 0x0F, date & 0x1F};
}
struct FatTime {
  unsigned hour, minute, second;
};
FatTime splitFatTime(std::uint32_t time) { return {(time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2}; }

bool validFatDate(const FatDate& d) { return d.month >= 1 && d.month <= 12 && d.day >= 1; }

// FILETIME to broken-down UTC time; nothing for 0, which NTFS writes for
// "no time" (every text of it is then empty, never a date in 1601 or 1970).
// Every FILETIME text and date goes through here.
std::optional<std::tm> splitFileTime(std::uint64_t fileTime) {
  if (fileTime == 0) return std::nullopt;
  constexpr std::int64_t kEpochDifference = 11644473600LL;  // 1601-01-01 to 1970-01-01
  const auto seconds = static_cast<std::int64_t>(fileTime / 10000000ULL) - kEpochDifference;
  // The civil calendar by arithmetic (days to year, month and day in eras
  // of 400 years), as gmtime_r computes it but without its locking and time
  // zone work: a listing splits hundreds of thousands of these.
  const std::int64_t sinceEpoch = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  const std::int64_t secondOfDay = seconds - sinceEpoch * 86400;
  const std::int64_t days = sinceEpoch + 719468;  // counted from 0000-03-01
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<std::uint32_t>(days - era * 146097);
  const std::uint32_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);  // from March
  const std::uint32_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 is March
  const std::uint32_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const std::uint32_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  std::tm out{};
  out.tm_year = static_cast<int>(year - 1900);
  out.tm_mon = static_cast<int>(month - 1);
  out.tm_mday = static_cast<int>(day);
  out.tm_hour = static_cast<int>(secondOfDay / 3600);
  out.tm_min = static_cast<int>(secondOfDay % 3600 / 60);
  out.tm_sec = static_cast<int>(secondOfDay % 60);
  out.tm_yday = static_cast<int>(shiftedMonth < 10 ? dayOfYear + 59 + (leap ? 1 : 0) : dayOfYear - 306);
  out.tm_wday = static_cast<int>(((sinceEpoch % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  return out;
}

std::uint64_t fileTimeOf(const EntryTimes& times, std::size_t low) {
  return static_cast<std::uint64_t>(times[low]) | (static_cast<std::uint64_t>(times[low + 1]) << 32);
}

}  // namespace

std::string entryName(const std::string& narrowName, const std::u16string& wideName, const std::string& codePage) {
  std::string out;
  appendEntryName(out, narrowName, wideName, codePage);
  return out;
}

void appendEntryName(std::string& out, const std::string& narrowName, const std::u16string& wideName,
                     const std::string& codePage) {
  if (narrowName.empty()) return appendUtf8(out, wideName);
  for (char c : narrowName)
    if (static_cast<unsigned char>(c) >= 0x80) {
      out += codePageToUtf8(narrowName, codePage);
      return;
    }
  out += narrowName;
}

std::string typeText(bool isFolder, bool deleted) {
  if (isFolder) return deleted ? "Deleted Folder" : "Folder";
  return deleted ? "Deleted File" : "File";
}

std::string monthAbbreviation(unsigned month) {
  if (month == 0 || month > 12) return "Err";
  return kMonths[month - 1];
}

namespace {

// A date text under construction: a listing of a large volume formats
// millions of them, so each is put together in place and becomes a string
// once.
class DateText {
 public:
  // Fixed-width decimal digits (the lowest `width` of them).
  void digits(unsigned value, int width) {
    for (int i = width - 1; i >= 0; --i) {
      data_[size_ + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    size_ += static_cast<std::size_t>(width);
  }
  void put(char c) { data_[size_++] = c; }
  void text(const char* s) {
    while (*s) data_[size_++] = *s++;
  }
  std::string str() const { return {data_, size_}; }
  void assignTo(std::string& out) const { out.assign(data_, size_); }

 private:
  char data_[40];
  std::size_t size_ = 0;
};

const char* monthText(unsigned month) { return month == 0 || month > 12 ? "Err" : kMonths[month - 1]; }

// "dd-Mon-yyyy".
void appendShownDate(DateText& out, const FatDate& d) {
  out.digits(d.day, 2);
  out.put('-');
  out.text(monthText(d.month));
  out.put('-');
  out.digits(d.year, 4);
}

void appendIsoDate(DateText& out, const FatDate& d) {
  out.digits(d.year, 4);
  out.put('-');
  out.digits(d.month, 2);
  out.put('-');
  out.digits(d.day, 2);
}

// "hh:mm" and, with seconds, ":ss".
void appendClock(DateText& out, unsigned hour, unsigned minute, const unsigned* second) {
  out.digits(hour, 2);
  out.put(':');
  out.digits(minute, 2);
  if (!second) return;
  out.put(':');
  out.digits(*second, 2);
}

}  // namespace

std::string formatFatDateTime(std::uint32_t date, std::uint32_t time) {
  const FatTime t = splitFatTime(time);
  DateText out;
  appendShownDate(out, splitFatDate(date));
  out.put(' ');
  appendClock(out, t.hour, t.minute, nullptr);
  return out.str();
}

std::string formatFatDate(std::uint32_t date) {
  DateText out;
  appendShownDate(out, splitFatDate(date));
  return out.str();
}

std::string isoFatDateTime(std::uint32_t date, std::uint32_t time) {
  const FatDate d = splitFatDate(date);
  if (!validFatDate(d)) return {};
  const FatTime t = splitFatTime(time);
  DateText out;
  appendIsoDate(out, d);
  out.put('T');
  appendClock(out, t.hour, t.minute, &t.second);
  return out.str();
}

std::string isoFatDate(std::uint32_t date) {
  const FatDate d = splitFatDate(date);
  if (!validFatDate(d)) return {};
  DateText out;
  appendIsoDate(out, d);
  return out.str();
}

namespace {

// The two texts of a broken-down FILETIME: the browser's "07-Mar-2006
// 09:05:33" and the ISO "2006-03-07T09:05:33Z" (FILETIMEs are UTC, unlike the
// local packed times of FAT, so the ISO form ends in "Z"). Years of four
// digits are written by hand (a listing formats hundreds of thousands of
// them); the rest of the FILETIME range goes through formatText.
void fileTimeText(const std::tm& t, bool iso, std::string& text) {
  const int year = t.tm_year + 1900;
  if (year < 0 || year > 9999) {
    if (iso)
      text = formatText("%04d-%02d-%02dT%02d:%02d:%02dZ", year, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    else
      text = formatText("%02d-%s-%04d %02d:%02d:%02d", t.tm_mday,
                        monthAbbreviation(static_cast<unsigned>(t.tm_mon + 1)).c_str(), year, t.tm_hour, t.tm_min,
                        t.tm_sec);
    return;
  }
  const FatDate d{static_cast<unsigned>(year), static_cast<unsigned>(t.tm_mon + 1), static_cast<unsigned>(t.tm_mday)};
  const auto second = static_cast<unsigned>(t.tm_sec);
  DateText out;
  if (iso) appendIsoDate(out, d);
  else appendShownDate(out, d);
  out.put(iso ? 'T' : ' ');
  appendClock(out, static_cast<unsigned>(t.tm_hour), static_cast<unsigned>(t.tm_min), &second);
  if (iso) out.put('Z');
  out.assignTo(text);
}

std::string fileTimeText(const std::tm& t, bool iso) {
  std::string text;
  fileTimeText(t, iso, text);
  return text;
}

}  // namespace

std::string formatFileTime(std::uint64_t fileTime) {
  const std::optional<std::tm> t = splitFileTime(fileTime);
  if (!t) return {};
  return fileTimeText(*t, false);
}

std::string isoFileTime(std::uint64_t fileTime) {
  const std::optional<std::tm> t = splitFileTime(fileTime);
  if (!t) return {};
  return fileTimeText(*t, true);
}

CalendarDate entryDate(const EntryTimes& times, EntryDateKind kind, bool fat) {
  const auto slot = static_cast<std::size_t>(kind) * 2;
  if (fat) {
    const FatDate d = splitFatDate(times[slot]);
    return {static_cast<int>(d.year), static_cast<int>(d.month), static_cast<int>(d.day)};
  }
  const std::optional<std::tm> t = splitFileTime(fileTimeOf(times, slot));
  if (!t) return {};
  return {t->tm_year + 1900, t->tm_mon + 1, t->tm_mday};
}

void fillEntryDateTexts(EntryDateTexts& out, const EntryTimes& times, bool fat, bool iso, ShownDay* lastDay) {
  if (fat) {
    out.modified = formatFatDateTime(times[0], times[1]);
    out.created = formatFatDateTime(times[2], times[3]);
    out.accessed = formatFatDate(times[4]);
    if (iso) {
      out.modifiedIso = isoFatDateTime(times[0], times[1]);
      out.createdIso = isoFatDateTime(times[2], times[3]);
      out.accessedIso = isoFatDate(times[4]);
    } else {
      out.modifiedIso.clear();
      out.createdIso.clear();
      out.accessedIso.clear();
    }
    return;
  }
  // Each FILETIME is split once for both of its texts. The shown text of a
  // time on the day in lastDay takes that day's date text as it was.
  ShownDay unused;
  ShownDay& last = lastDay ? *lastDay : unused;
  auto both = [&times, iso, &last](std::size_t low, std::string& shown, std::string& isoText) {
    isoText.clear();
    const std::uint64_t fileTime = fileTimeOf(times, low);
    // FILETIME days start at midnight UTC, as those of the texts do.
    const std::uint64_t day = fileTime / 864000000000ULL;
    if (!iso && fileTime != 0 && day == last.day) {
      const auto second = static_cast<unsigned>(fileTime / 10000000ULL % 86400);
      const unsigned clock[3] = {second / 3600, second % 3600 / 60, second % 60};
      for (int i = 0; i < 3; ++i) {
        last.text[12 + 3 * i] = static_cast<char>('0' + clock[i] / 10);
        last.text[13 + 3 * i] = static_cast<char>('0' + clock[i] % 10);
      }
      shown.assign(last.text, sizeof last.text);
      return;
    }
    shown.clear();
    const std::optional<std::tm> t = splitFileTime(fileTime);
    if (!t) return;  // no time: the day kept stays
    last.day = ~std::uint64_t{0};
    fileTimeText(*t, false, shown);
    if (iso) fileTimeText(*t, true, isoText);
    // Only four-digit years give the fixed layout.
    if (shown.size() == sizeof last.text) {
      last.day = day;
      shown.copy(last.text, sizeof last.text);
    }
  };
  both(0, out.modified, out.modifiedIso);
  both(2, out.created, out.createdIso);
  both(4, out.accessed, out.accessedIso);
}

EntryDateTexts entryDateTexts(const EntryTimes& times, bool fat, bool iso) {
  EntryDateTexts out;
  fillEntryDateTexts(out, times, fat, iso);
  return out;
}

std::string sizeInText(std::uint64_t bytes) {
  constexpr std::uint64_t kGiB = 1073741824ULL;
  if (bytes <= kGiB) return formatText("%.3f MB size in", static_cast<double>(bytes) / 1048576.0);
  return formatText("%.3f GB size in", static_cast<double>(bytes) / static_cast<double>(kGiB));
}

std::string summaryText(std::uint64_t totalSize, std::uint64_t directories, std::uint64_t files) {
  return sizeInText(totalSize) + " " + formatText("%d Directories", static_cast<int>(directories)) + " " +
         formatText("%d Files", static_cast<int>(files));
}

std::string summaryMarkup(const std::string& summary) {
  const std::string inner = "<font color=black size = 14>" + summary +
                            "</font><br><hr color=red width=0><br><span class=cpp-comment>" + "<br><t></span>";
  // The outer format holds "%%", so the size reads "110%" once formatted.
  return "<font face=Arial size=110%>" + inner + "</font>";
}

}  // namespace dravolin
