#include "results/browser_texts.h"
#include "results/unicode_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <random>

namespace dravolin {
namespace {

constexpr std::uint32_t fatDate(unsigned year, unsigned month, unsigned day) {
  return ((year - 1980) << 9) | (month << 5) | day;
}
constexpr std::uint32_t fatTime(unsigned hour, unsigned minute, unsigned second) {
  return (hour << 11) | (minute << 5) | (second / 2);
}

// Names as the text outputs show them: C0, DEL and C1 escaped, everything
// else (accents, other scripts, invalid UTF-8, a backslash) kept; the
// UTF-16 form for the wizard escapes the same characters alike.
TEST(ShownText, ControlCharactersAreEscapedAndNothingElse) {
  using namespace std::string_literals;
  struct Row {
    std::string name;
    std::string shown;
  };
  const Row rows[] = {
      {"plain.txt", "plain.txt"},
      {"fake\nDeleted File 0 fake.txt", "fake\\nDeleted File 0 fake.txt"},
      {"red\x1b[31m.txt", "red\\x1b[31m.txt"},
      {"tab\tcr\r", "tab\\tcr\\r"},
      {"nul\0.txt"s, "nul\\x00.txt"},
      {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
      {"csi\xc2\x9b" "2J", "csi\\x9b2J"},           // U+009B, the C1 control sequence introducer
      {"\xc2\x80\xc2\x9f\xc2\xa0", "\\x80\\x9f\xc2\xa0"},  // C1 ends at U+009F; U+00A0 stays
      {"Caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x8e\xb5", "Caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x8e\xb5"},
      {"bad \xc2 \xff end", "bad \xc2 \xff end"},      // invalid UTF-8 stays as it is
      {"a\\n", "a\\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(shownText(row.name), row.shown) << row.shown;
    EXPECT_EQ(hasControlCharacters(row.name), row.name != row.shown) << row.shown;
    const std::u16string wide = utf8ToUtf16(row.name);
    if (utf16ToUtf8(wide) == row.name) EXPECT_EQ(utf16ToUtf8(shownText(wide)), row.shown) << row.shown;
  }
}

TEST(BrowserTexts, FatDatesAsTheBrowserShowsThem) {
  struct Case {
    std::uint32_t date, time;
    const char* withTime;
    const char* dateOnly;
    const char* iso;
  };
  for (const Case& c : {
           Case{fatDate(2006, 3, 7), fatTime(9, 5, 0), "07-Mar-2006 09:05", "07-Mar-2006", "2006-03-07T09:05:00"},
           Case{fatDate(1980, 1, 1), 0, "01-Jan-1980 00:00", "01-Jan-1980", "1980-01-01T00:00:00"},
           Case{fatDate(2107, 12, 31), fatTime(23, 59, 58), "31-Dec-2107 23:59", "31-Dec-2107", "2107-12-31T23:59:58"},
           // Month 0 and 13..15 show "Err"; the ISO form is empty then.
           Case{fatDate(2001, 0, 9), fatTime(12, 0, 0), "09-Err-2001 12:00", "09-Err-2001", ""},
           Case{fatDate(2001, 13, 9), 0, "09-Err-2001 00:00", "09-Err-2001", ""},
           Case{fatDate(2001, 15, 31), 0, "31-Err-2001 00:00", "31-Err-2001", ""},
           // Day 0 is shown as it is.
           Case{fatDate(2020, 6, 0), 0, "00-Jun-2020 00:00", "00-Jun-2020", ""},
       }) {
    SCOPED_TRACE(c.withTime);
    EXPECT_EQ(formatFatDateTime(c.date, c.time), c.withTime);
    EXPECT_EQ(formatFatDate(c.date), c.dateOnly);
    EXPECT_EQ(isoFatDateTime(c.date, c.time), c.iso);
  }
}

TEST(BrowserTexts, MonthTableAndErr) {
  EXPECT_EQ(monthAbbreviation(0), "Err");
  EXPECT_EQ(monthAbbreviation(1), "Jan");
  EXPECT_EQ(monthAbbreviation(12), "Dec");
  EXPECT_EQ(monthAbbreviation(13), "Err");
}

TEST(BrowserTexts, NtfsTimesWithSeconds) {
  // 2006-03-07 09:05:33 UTC as 100 ns units since 1601.
  const std::uint64_t unixSeconds = 1141722333;
  const std::uint64_t fileTime = (unixSeconds + 11644473600ULL) * 10000000ULL;
  EXPECT_EQ(formatFileTime(fileTime), "07-Mar-2006 09:05:33");
  EXPECT_EQ(isoFileTime(fileTime), "2006-03-07T09:05:33Z");
  EntryTimes times{static_cast<std::uint32_t>(fileTime), static_cast<std::uint32_t>(fileTime >> 32), 0, 0, 0, 0};
  const CalendarDate d = entryDate(times, EntryDateKind::Modified, false);
  EXPECT_EQ(d.year, 2006);
  EXPECT_EQ(d.month, 3);
  EXPECT_EQ(d.day, 7);
  // 0 is "no time": blank in the browser and in the JSON alike, while the
  // first tick after it is still a date.
  EXPECT_EQ(formatFileTime(0), "");
  EXPECT_EQ(isoFileTime(0), "");
  EXPECT_EQ(formatFileTime(10000000), "01-Jan-1601 00:00:01");
  const EntryDateTexts texts = entryDateTexts(times, false);
  EXPECT_EQ(texts.modified, "07-Mar-2006 09:05:33");
  EXPECT_EQ(texts.created + texts.createdIso + texts.accessed + texts.accessedIso, "");
  EXPECT_EQ(entryDate(times, EntryDateKind::Created, false).year, 0);
}

// The calendar split of FILETIMEs agrees with the C library's gmtime_r over
// the whole range: leap days, century years, before 1970, the last tick.
TEST(BrowserTexts, NtfsTimesAgreeWithGmtimeOverTheWholeRange) {
  auto expected = [](std::uint64_t fileTime) {
    const auto t = static_cast<std::time_t>(static_cast<std::int64_t>(fileTime / 10000000ULL) - 11644473600LL);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) return std::string("?");
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return std::string(text);
  };
  auto at = [](std::int64_t unixSeconds) {
    return static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
  };
  std::vector<std::uint64_t> values = {
      1, 10000000, 864000000000ULL - 1, at(-1), at(0), at(-86400), at(951782400) /* 2000-02-29 */,
      at(951868800) /* 2000-03-01 */, at(4107456000) /* 2100-02-28 */, at(4107542400) /* 2100-03-01 */,
      at(-2203891200) /* 1900-03-01 */, at(253402300799) /* 9999-12-31T23:59:59 */, at(253402300800),
      ~std::uint64_t{0}};
  std::mt19937_64 random(2026);
  for (int i = 0; i < 20000; ++i) values.push_back(random() >> (random() % 8));
  // A listing keeps the last day's text: each time is followed by one a
  // little later (mostly the same day, sometimes the next), and the texts
  // made with the kept day must be those made without it.
  ShownDay lastDay;
  EntryDateTexts listed;
  auto listedText = [&](std::uint64_t v) {
    fillEntryDateTexts(listed, {static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32), 0, 0, 0, 0},
                       false, false, &lastDay);
    return listed.modified;
  };
  for (std::uint64_t v : values) {
    EXPECT_EQ(listedText(v), formatFileTime(v)) << v;
    const std::uint64_t later = v + (v % 7 + 1) * 3600 * 10000000ULL;
    if (later > v) {
      EXPECT_EQ(listedText(later), formatFileTime(later)) << later;
    }
    EXPECT_EQ(isoFileTime(v), expected(v)) << v;
    std::tm split{};
    const EntryTimes times{static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32), 0, 0, 0, 0};
    const CalendarDate date = entryDate(times, EntryDateKind::Modified, false);
    const auto t = static_cast<std::time_t>(static_cast<std::int64_t>(v / 10000000ULL) - 11644473600LL);
    ASSERT_NE(gmtime_r(&t, &split), nullptr);
    EXPECT_EQ(date.year, split.tm_year + 1900) << v;
    EXPECT_EQ(date.month, split.tm_mon + 1) << v;
    EXPECT_EQ(date.day, split.tm_mday) << v;
  }
}

TEST(BrowserTexts, EntryDatesPickTheirFields) {
  const EntryTimes times{fatDate(2010, 1, 2), fatTime(3, 4, 0), fatDate(2011, 5, 6), fatTime(7, 8, 0),
                         fatDate(2012, 9, 10), 0};
  const EntryDateTexts t = entryDateTexts(times, true);
  EXPECT_EQ(t.modified, "02-Jan-2010 03:04");
  EXPECT_EQ(t.created, "06-May-2011 07:08");
  EXPECT_EQ(t.accessed, "10-Sep-2012");
  EXPECT_EQ(t.accessedIso, "2012-09-10");
  const CalendarDate created = entryDate(times, EntryDateKind::Created, true);
  EXPECT_EQ(created.year, 2011);
  EXPECT_EQ(created.month, 5);
  EXPECT_EQ(created.day, 6);
}

TEST(BrowserTexts, TypeTexts) {
  EXPECT_EQ(typeText(true, false), "Folder");
  EXPECT_EQ(typeText(true, true), "Deleted Folder");
  EXPECT_EQ(typeText(false, false), "File");
  EXPECT_EQ(typeText(false, true), "Deleted File");
}

TEST(BrowserTexts, SummaryLineSwitchesToGigabytesAboveOneGibibyte) {
  EXPECT_EQ(summaryText(1073741824ULL, 3, 12), "1024.000 MB size in 3 Directories 12 Files");
  EXPECT_EQ(summaryText(1073741825ULL, 0, 1), "1.000 GB size in 0 Directories 1 Files");
  EXPECT_EQ(summaryText(0, 0, 0), "0.000 MB size in 0 Directories 0 Files");
  EXPECT_EQ(summaryMarkup("S"),
            "<font face=Arial size=110%><font color=black size = 14>S</font><br><hr color=red width=0><br>"
            "<span class=cpp-comment><br><t></span></font>");
}

TEST(BrowserTexts, NamesDecodeShortNamesWithTheCodePage) {
  // 0x82 is e-acute in CP850 and a low quotation mark in Windows-1252.
  EXPECT_EQ(entryName("CAF\x82.TXT", u"", "CP850"), "CAF\xC3\xA9.TXT");
  EXPECT_EQ(entryName("CAF\x82.TXT", u"", "WINDOWS-1252"), "CAF\xE2\x80\x9A.TXT");
  EXPECT_EQ(entryName("", u"Caf\u00e9 cr\u00e8me.txt", "CP850"), "Caf\xC3\xA9 cr\xC3\xA8me.txt");
  EXPECT_EQ(entryName("PLAIN.TXT", u"", "CP850"), "PLAIN.TXT");
}

}  // namespace
}  // namespace dravolin
