#include "fat/directory_entry.h"

#include <gtest/gtest.h>

#include "common/text_encoding.h"
#include "fat_test_support.h"

namespace dravolin::test {
namespace {

std::vector<std::byte> concat(const std::vector<RawEntry>& entries) {
  std::vector<std::byte> out;
  for (const auto& e : entries) out.insert(out.end(), e.begin(), e.end());
  return out;
}

TEST(DirectoryEntry, DecodesFieldsAndTimes) {
  RawEntry raw = shortEntry("README  TXT", 0x20, 0x00031234, 4096, 0x5A21, 0x6000);
  DirectoryEntry e = decodeDirectoryEntry(raw);
  EXPECT_EQ(e.cluster(), 0x00031234u);
  EXPECT_EQ(makeClusterNumber(raw), 0x00031234u);
  EXPECT_EQ(e.clusterLow, 0x1234u);
  EXPECT_EQ(e.size, 4096u);
  EXPECT_FALSE(e.isDirectory());
  EXPECT_EQ(e.times(), (EntryTimes{0x5A21, 0x6000, 0x5A20, 0x1111, 0x5A22, 0}));
  // A truncated entry decodes as empty.
  EXPECT_EQ(decodeDirectoryEntry(ByteSpan(raw).first(20)).size, 0u);
}

TEST(DirectoryEntry, DotEntriesAndDirectoryStart) {
  auto sector = concat({dotEntry(5), dotDotEntry(0), shortEntry("A       TXT", 0x20, 9)});
  sector.resize(512);
  EXPECT_TRUE(beginsDirectory(sector));
  EXPECT_TRUE(isDotEntry(ByteSpan(sector).first(32)));
  EXPECT_TRUE(isDotEntry(ByteSpan(sector).subspan(32, 32)));
  EXPECT_FALSE(isDotEntry(ByteSpan(sector).subspan(64, 32)));
  // ".." first and "." second is not the start of a directory.
  auto swapped = concat({dotDotEntry(0), dotEntry(5)});
  EXPECT_FALSE(beginsDirectory(swapped));
  // ".hidden" is not a dot entry.
  EXPECT_FALSE(isDotEntry(shortEntry(".HIDDEN", 0x20, 3)));
  EXPECT_FALSE(beginsDirectory(ByteSpan(sector).first(34)));
}

TEST(ShortName, BuildsNameAndExtension) {
  struct Case {
    std::string raw;  // 11 bytes
    std::string narrow;
    bool deleted;
    std::uint8_t caseFlags = 0;  // byte 12
  } cases[] = {
      {"README  TXT", "README.TXT", false},
      {"FOO        ", "FOO", false},
      {"\xE5OO     TXT", "_OO.TXT", true},
      {"\xE5" "EADME  TXT", "_EADME.TXT", true},
      {"A       \x20XY", "AXY", false},   // blank first extension byte: no dot
      {"A       X Y", "A.XY", false},
      {"\x05" "BC     TXT", "\xE5" "BC.TXT", false},  // 0x05 stands for 0xE5
      {"CAF\x90    TXT", "CAF\x90.TXT", false},     // OEM bytes kept raw
      {"AB\0\0\0\0\0\0TXT", "AB", false},           // a NUL ends the name
      {"HELLO   TXT", "hello.txt", false, 0x18},   // lowercase base and extension
      {"MAIN    CPP", "main.CPP", false, 0x08},
      {"MAKEFILE   ", "MAKEFILE", false, 0x10},
      {"\xE5" "EADME  TXT", "_eadme.txt", true, 0x18},
      {"CAF\x90    TXT", "caf\x90.TXT", false, 0x08},  // only ASCII letters change
  };
  for (const auto& c : cases) {
    RawEntry raw = shortEntry(std::string_view(c.raw.data(), 11), 0x20, 3);
    raw[12] = std::byte(c.caseFlags);
    ShortName name = decodeShortName(raw);
    EXPECT_EQ(name.narrow, c.narrow) << c.narrow;
    EXPECT_EQ(name.deleted, c.deleted) << c.narrow;
    ASSERT_EQ(name.wide.size(), name.narrow.size());
    for (std::size_t i = 0; i < name.wide.size(); ++i)
      EXPECT_EQ(name.wide[i], static_cast<char16_t>(static_cast<unsigned char>(name.narrow[i])));
  }
}

TEST(ShortName, DisplayDecodesOemBytes) {
  RawEntry raw = shortEntry("CAF\x90    TXT", 0x20, 3);
  EXPECT_EQ(displayName(decodeShortName(raw).narrow, u"", "CP850"), "CAF\xC3\x89.TXT");  // É
  EXPECT_EQ(displayName(decodeShortName(raw).narrow, u"", "CP437"), "CAF\xC3\x89.TXT");
}

TEST(EntryName, PlausibilityTest) {
  struct Case {
    std::u16string name;
    bool valid;
  } cases[] = {
      {u"README.TXT", true},
      {u"Caf\u00e9 cr\u00e8me.txt", true},  // accented letters are accepted
      {u"\u00dcbersicht.xlsx", true},
      {u"R\u00e9sum\u00e9.doc", true},
      {u"a:b", true},
      {u"\u65e5\u672c.txt", true},
      {u"", true},
      {u"tab\there", false},
      {u"\u0001x", false},
      {u"x\u001f", false},
      {u"a\"b", false},
      {u"a\\b", false},
      {u"a/b", false},
      {u"a?b", false},
      {u"a*b", false},
      {u"a<b", false},
      {u"a>b", false},
      {u"a|b", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isValidEntryName(c.name), c.valid) << utf16ToUtf8(c.name);
}

struct LongNameCase {
  const char* what;
  std::vector<RawEntry> entries;  // the short entry last
  std::optional<std::u16string> expected;
  friend void PrintTo(const LongNameCase& c, std::ostream* os) { *os << c.what; }
};

std::vector<RawEntry> withShort(std::vector<RawEntry> entries, RawEntry shortOne) {
  entries.push_back(shortOne);
  return entries;
}

RawEntry liveShort() { return shortEntry("LONGNA~1TXT", 0x20, 5); }
RawEntry deletedShort() { return deletedCopy(liveShort()); }

class LongNameTable : public ::testing::TestWithParam<LongNameCase> {};

TEST_P(LongNameTable, GathersTheName) {
  const LongNameCase& c = GetParam();
  auto bytes = concat(c.entries);
  auto name = readLongName(bytes, bytes.size() - 32);
  EXPECT_EQ(name.has_value(), c.expected.has_value()) << c.what;
  if (name && c.expected) {
    EXPECT_EQ(utf16ToUtf8(*name), utf16ToUtf8(*c.expected)) << c.what;
  }
}

const std::u16string k40 = u"A long file name of forty characters.txt";
const std::u16string k13 = u"Thirteen char";
const std::u16string k26 = u"Twenty-six characters long";

INSTANTIATE_TEST_SUITE_P(
    LongNames, LongNameTable,
    ::testing::Values(
        LongNameCase{"live three entries", namedEntry(k40, "ALONGF~1TXT", 0x20, 5), k40},
        LongNameCase{"exactly 13 characters", namedEntry(k13, "THIRTE~1   ", 0x20, 5), k13},
        LongNameCase{"exactly 26 characters after a file", withShort(
                         [] {
                           auto v = std::vector<RawEntry>{shortEntry("OTHER   TXT", 0x20, 9)};
                           auto l = longEntries(k26);
                           v.insert(v.end(), l.begin(), l.end());
                           return v;
                         }(),
                         liveShort()),
                     k26},
        LongNameCase{"no long name", {shortEntry("OTHER   TXT", 0x20, 9), liveShort()}, std::nullopt},
        LongNameCase{"short entry first in the buffer", {liveShort()}, std::nullopt},
        LongNameCase{"deleted name is gathered whole", namedEntry(k40, "ALONGF~1TXT", 0x20, 5, 0, true), k40},
        LongNameCase{"deleted 26 characters stop at the previous short entry", withShort(
                         [] {
                           auto v = std::vector<RawEntry>{deletedCopy(shortEntry("OTHER   TXT", 0x20, 9))};
                           auto l = longEntries(k26, true);
                           v.insert(v.end(), l.begin(), l.end());
                           return v;
                         }(),
                         deletedShort()),
                     k26},
        LongNameCase{"live short entry after deleted long entries keeps the flag rule",
                     withShort(longEntries(k40, true), liveShort()), k40.substr(0, 13)},
        LongNameCase{"deleted short entry after live pieces stops at their flag", withShort(longEntries(k40), deletedShort()),
                     k40}),
    test::NameFromWhat{});

TEST(LongName, DeletedNameStopsAfter20Entries) {
  std::u16string huge(300, u'x');
  auto entries = withShort(longEntries(huge.substr(0, 260 + 26), true), deletedShort());
  auto bytes = concat(entries);
  auto name = readLongName(bytes, bytes.size() - 32);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->size(), 260u);
}

TEST(LongName, LiveNameStopsAfter255Characters) {
  // Twenty pieces without the last-entry flag.
  std::vector<RawEntry> pieces;
  for (int i = 0; i < 25; ++i) {
    RawEntry e = longEntries(u"abcdefghijklm")[0];
    e[0] = std::byte(0x01);
    pieces.push_back(e);
  }
  auto bytes = concat(withShort(pieces, liveShort()));
  auto name = readLongName(bytes, bytes.size() - 32);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->size(), 260u);
}

TEST(LongName, StopsAtAPieceThatIsNotWhole) {
  // A piece holding a NUL in its middle ends the name there.
  auto entries = withShort(longEntries(u"short"), liveShort());
  auto bytes = concat(entries);
  EXPECT_EQ(readLongName(bytes, bytes.size() - 32), std::u16string(u"short"));
  EXPECT_FALSE(readLongName(bytes, bytes.size() - 16));  // not on an entry boundary of a full entry
}

TEST(LongName, SpansSectorsLaidEndToEnd) {
  // The short entry is the first entry of its sector; its four pieces lie
  // at the end of the previous sector.
  std::vector<RawEntry> entries(12, shortEntry("FILLER  TXT", 0x20, 3));
  auto named = namedEntry(k40, "ALONGF~1TXT", 0x20, 5);
  entries.insert(entries.end(), named.begin(), named.end());
  ASSERT_EQ(entries.size(), 17u);
  auto bytes = concat(entries);
  bytes.resize(1024);
  EXPECT_EQ(readLongName(bytes, 512), k40);
  // Without the previous sector only what the buffer holds is seen.
  EXPECT_FALSE(readLongName(ByteSpan(bytes).subspan(512), 0));
}

}  // namespace
}  // namespace dravolin::test
