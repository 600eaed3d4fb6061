#include "common/format.h"

#include <gtest/gtest.h>

#include "common/text_encoding.h"

namespace dravolin {
namespace {

TEST(Format, MegaGigaBoundary) {
  EXPECT_EQ(formatMegaGiga(1073741824ULL), "1024.000 MB");
  EXPECT_EQ(formatMegaGiga(1073741825ULL), "1.000 GB");
  EXPECT_EQ(formatMegaGiga(0), "0.000 MB");
  EXPECT_EQ(formatMegaGiga(1572864), "1.500 MB");
}

TEST(Format, PartitionSizeText) {
  struct Case {
    std::uint64_t bytes;
    const char* text;
  };
  for (Case c : {Case{700ULL << 20, "700 MB"}, Case{1536ULL << 20, "1 GB"}, Case{1ULL << 30, "1 GB"},
                 Case{(1ULL << 20) - 1, ""}, Case{1ULL << 20, "1 MB"}, Case{(1ULL << 30) - 1, "1023 MB"}})
    EXPECT_EQ(formatPartitionSize(c.bytes), c.text) << c.bytes;
}

TEST(Format, DateLineOfTheStartBlock) {
  std::tm t{};
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_wday = 0;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_year = 126;
  EXPECT_EQ(formatDateLine(t), "9:05 - Sunday, December 06, 2026");
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_wday = 6;
  t.tm_mon = 0;
  t.tm_mday = 31;
  EXPECT_EQ(formatDateLine(t), "23:59 - Saturday, January 31, 2026");
}

TEST(TextEncoding, CodePagesRoundTripAndReplaceWhatTheyLack) {
  EXPECT_EQ(utf8ToCodePage("Café", "WINDOWS-1252"), "Caf\xE9");
  EXPECT_EQ(codePageToUtf8("Caf\xE9", "WINDOWS-1252"), "Café");
  EXPECT_EQ(codePageToUtf8("Caf\x82", "CP850"), "Café");  // OEM short names
  EXPECT_EQ(utf8ToCodePage("a€b", "WINDOWS-1252"), "a\x80" "b");
  EXPECT_EQ(utf8ToCodePage("a\xE2\x98\x83z", "WINDOWS-1252"), "a?z");  // a snowman has no code
  EXPECT_EQ(utf16ToUtf8(u"R\u00E9sum\u00E9"), "Résumé");
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace dravolin

namespace dravolin {
namespace {

// Malformed UTF-8 never decodes to a character it does not spell: an overlong
// "/" must not become a path separator of a name.
TEST(Utf8Decoding, MalformedSequencesBecomeReplacementCharacters) {
  struct Case {
    const char* what;
    std::string input;
    std::u32string expected;
  };
  const Case cases[] = {
      {"overlong slash", "a\xC0\xAF" "b", U"a\uFFFDb"},
      {"overlong three-byte slash", "\xE0\x80\xAF", U"\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", U"\uFFFD"},
      {"stray continuation byte", "x\x80y", U"x\uFFFDy"},
      {"truncated sequence at the end", "ok\xE2\x82", U"ok\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", U"\uFFFD"},
      {"valid four-byte", "\xF0\x9F\x98\x80", U"\U0001F600"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8ToCodePoints(c.input), c.expected) << c.what;
    EXPECT_EQ(codePointsToUtf8(utf8ToCodePoints(c.input)), codePointsToUtf8(c.expected)) << c.what;
  }
  EXPECT_EQ(utf8ToUtf16("a\xC0\xAF\xF0\x9F\x98\x80"), u"a\uFFFD\U0001F600");
  EXPECT_EQ(codePointsToUtf8(U"\xD800z"), "\xEF\xBF\xBDz");
}

}  // namespace
}  // namespace dravolin
