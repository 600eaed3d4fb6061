#include "raw/header_match.h"

#include <gtest/gtest.h>

#include <random>

#include "raw_test_support.h"

namespace dravolin {
namespace {

using namespace std::string_view_literals;

std::vector<std::byte> sectorWith(std::size_t offset, std::string_view bytes) {
  auto sector = test::blankImage(1);
  test::place(sector, 0, offset, bytes);
  return sector;
}

std::string matchedName(const SignatureTable& table, const std::vector<std::byte>& sector) {
  HeaderMatch m = MatchHeader(table, sector);
  return m.found() ? table[static_cast<std::size_t>(m.entry)].name : "-";
}

TEST(MatchHeader, EachTypeIsKnownByItsHeaderAtItsOffset) {
  const SignatureTable table = buildSignatureTable(test::allTicks());
  struct Case {
    std::size_t offset;
    std::string_view bytes;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {0, "RIFF"sv, "AVI"},
      {0, "BM"sv, "BMP"},
      {0, "// "sv, "CPP"},
      {0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, "DOC"},
      {0, "AC1015"sv, "DWG"},
      {0, "MIME-"sv, "EML"},
      {0, "<html>"sv, "HTML"},
      {0, "\r\n<html>"sv, "HTML"},
      {0, "<HTML>"sv, "HTML"},
      {0, "\r\n<HTML>"sv, "HTML"},
      {6, "JFIF"sv, "JPEG"},
      {0, "\xFF\xD8\xFF\xE1\x1C\x45" "Exif"sv, "JPEG"},  // camera photos: Exif in APP1
      {0, "\xFF\xD8\xFF\xE8"sv, "JPEG"},              // SPIFF
      {0, "\xFF\xD8\xFF\xDB"sv, "JPEG"},              // bare: DQT first
      {0, "\xFF\xD8\xFF\xC0"sv, "JPEG"},
      {0, "\xFF\xD8\xFF\xC2"sv, "JPEG"},
      {0, "\x00\x01\x00\x00Standard Jet DB"sv, "MDB"},
      {0, "%PDF-1.4"sv, "PDF"},
      {0, "\x89PNG\r\n"sv, "PNG"},
      {0, "8BPS"sv, "PSD"},
      {0, "Rar!"sv, "RAR"},
      {0, "{\\rtf1\\ansi"sv, "RTF"},
      {0, "regf"sv, "SAM"},
      {0, "FWS"sv, "SWF"},
      {0, "II*\x00"sv, "TIF"},
      {0, "\x00\x00\x02\x00\x06\x04\x06\x00"sv, "WK1"},
      {0, "\x00\x00\x1A\x00\x00\x10\x04\x00"sv, "WK3"},
      {0, "\x00\x00\x1A\x00\x02\x10\x04\x00"sv, "WK4"},
      {0, "\x00\x00\x02\x00\x04\x04\x06\x00"sv, "WKS"},
      {0, "\xFFWPC"sv, "WPD"},
      {0, "<?xml version"sv, "XML"},
      {0, "PK\x03\x04"sv, "ZIP"},
      // Near misses.
      {0, "JFIF"sv, "-"},       // JPEG's text belongs at offset 6
      {1, "RIFF"sv, "-"},       // headers stand at the sector start
      {0, "<Html>"sv, "-"},     // only the two spellings
      {0, "II+\x00"sv, "-"},
      {0, "\xFF\xD8\xFF\xC4"sv, "-"},  // DHT never opens a JPEG
      {0, "\xFF\xD8\xFF\x00"sv, "-"},
      {0, "\xFF\xD8\xFE\xE0"sv, "-"},
  };
  for (const auto& c : cases) {
    auto sector = sectorWith(c.offset, c.bytes);
    EXPECT_EQ(matchedName(table, sector), c.expected) << c.expected << " at " << c.offset;
  }
}

TEST(MatchHeader, TheEarlierSelectedEntryTakesASharedHeader) {
  auto riff = sectorWith(0, "RIFF\x10\x00\x00\x00"sv);
  EXPECT_EQ(matchedName(buildSignatureTable(test::ticksOf({"AVI", "CDR"})), riff), "AVI");
  EXPECT_EQ(matchedName(buildSignatureTable(test::ticksOf({"CDR"})), riff), "CDR");
  EXPECT_EQ(matchedName(buildSignatureTable(test::ticksOf({"JPEG"})), riff), "-");
  // The header index says which of an entry's headers matched.
  auto html = sectorWith(0, "\r\n<HTML>"sv);
  HeaderMatch m = MatchHeader(buildSignatureTable(test::ticksOf({"HTML"})), html);
  EXPECT_EQ(m.header, 3);
  EXPECT_EQ(m.maxSearchSectors, kDefaultMaxSearchSectors);
  EXPECT_EQ(MatchHeader(buildSignatureTable(test::ticksOf({"CPP"})), sectorWith(0, "// x"sv)).maxSearchSectors, 1000u);
}

// The dispatch must give MatchHeader's answer for every sector and every
// selection: headers of every type (also two in one sector, shared first
// bytes, offset 6 against offset 0) in random sectors.
TEST(HeaderDispatch, AgreesWithMatchHeaderOnEverySelection) {
  std::mt19937 rng(20240611);
  const SignatureTable all = buildSignatureTable(test::allTicks());
  std::vector<std::vector<std::byte>> sectors;
  for (const auto& entry : all)
    for (const auto& h : entry.headers) {
      for (int variant = 0; variant < 3; ++variant) {
        std::vector<std::byte> s(kSectorSize);
        for (auto& b : s) b = static_cast<std::byte>(rng() % (variant == 0 ? 256 : 3));
        std::memcpy(s.data() + h.offset, h.bytes.data(), h.bytes.size());
        if (variant == 2) std::memcpy(s.data() + 6, "JFIF", 4);  // a second header in the same sector
        sectors.push_back(s);
      }
    }
  for (int i = 0; i < 2000; ++i) {
    std::vector<std::byte> s(kSectorSize);
    for (auto& b : s) b = static_cast<std::byte>(rng() % 4);  // mostly 00 00 ...: the WK* prefixes
    sectors.push_back(s);
  }
  for (int round = 0; round < 60; ++round) {
    ExtensionTicks ticks{};
    for (auto& t : ticks) t = rng() % 2 == 0;
    const SignatureTable table = buildSignatureTable(ticks);
    const HeaderDispatch dispatch(table);
    for (const auto& s : sectors) {
      HeaderMatch slow = MatchHeader(table, s), fast = dispatch.match(s);
      ASSERT_EQ(fast.entry, slow.entry) << "round " << round;
      ASSERT_EQ(fast.header, slow.header);
      ASSERT_EQ(fast.maxSearchSectors, slow.maxSearchSectors);
    }
  }
}

}  // namespace
}  // namespace dravolin
