#include "raw/file_end.h"

#include <gtest/gtest.h>

#include <map>

#include "raw_test_support.h"

namespace dravolin {
namespace {

using namespace std::string_view_literals;
using test::place;
using test::placeU32;

ExtensionEntry& entryNamed(SignatureTable& table, std::string_view name) {
  for (auto& e : table)
    if (e.name == name) return e;
  throw std::runtime_error("no entry " + std::string(name));
}

// Calls FindFileEnd for sector d of an image whose candidate starts at b,
// with the view running from d to the end of the image.
struct EndProbe {
  SignatureTable table = buildSignatureTable(test::allTicks());
  CompoundState compound;
  FileEnd end;
  int call(std::string_view type, const std::vector<std::byte>& image, SectorNumber b, SectorNumber d,
           const DatabaseLookAhead& lookAhead = {}) {
    ByteSpan all(image);
    return FindFileEnd(entryNamed(table, type), all.subspan(b * kSectorSize, kSectorSize),
                       all.subspan(d * kSectorSize), b, d, compound, end, lookAhead);
  }
};

TEST(FindFileEnd, EndSignaturesGiveTheSizeFromTheHeaderToTheEndSector) {
  struct Case {
    std::string type;
    std::string_view end;      // placed in sector 2 at offset 100 (empty: not placed)
    int result;                // at sector 2
    std::uint64_t size;
  };
  const std::vector<Case> cases = {
      {"JPEG", "\xFF\xD9"sv, kEndFound, 4},            // d - b + 2
      {"PDF", "%%EOF"sv, kEndFound, 4},
      {"PNG", "IEND\xAE\x42\x60\x82"sv, kEndFound, 4},
      {"ZIP", "PK\x05\x06"sv, kEndFound, 4},
      {"RTF", "}\x00\x00"sv, kEndFound, 4},
      {"HTML", "</html>"sv, kEndFound, 3},             // d - b + 1
      {"HTML", "</HTML>"sv, kEndFound, 3},
      {"XML", "</a>\r\n\x00\x00"sv, kEndFound, 4},
      {"EML", "\r\n\x00\x00"sv, kEndFound, 4},
      {"CPP", "}\r\n\x00\x00"sv, kEndFound, 4},
      {"PSD", "\xFF\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"sv, kEndFound, 4},
      {"TIF", "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"sv, kEndFound, 4},
      {"RAR", "\x00\x40\x07\x00"sv, kEndFound, 4},
      {"WK1", "\x00\x01\x00\x00\x00"sv, kEndFound, 4},
      {"WK4", "WK3\x00WK3"sv, kEndFound, 4},
      {"DWG", "\xAC\xDB\xBF\xF6\xED\xC3\x55\xFE\x00\x00"sv, kEndFound, 4},
      {"JPEG", ""sv, kEndNotYet, 0},
      {"PDF", "%%EOX"sv, kEndNotYet, 0},
      {"HTML", "</Html>"sv, kEndNotYet, 0},
  };
  for (const auto& c : cases) {
    auto image = test::blankImage(4);
    if (!c.end.empty()) place(image, 2, 100, c.end);
    EndProbe probe;
    EXPECT_EQ(probe.call(c.type, image, 0, 2), c.result) << c.type;
    if (c.result == kEndFound) {
      EXPECT_EQ(probe.end.sizeSectors, c.size) << c.type;
      EXPECT_EQ(probe.end.name, c.type);
      EXPECT_EQ(probe.end.fileNumber, 0u);
      EXPECT_EQ(entryNamed(probe.table, c.type).FileCounter, 1u) << "the number is used";
    } else {
      EXPECT_EQ(entryNamed(probe.table, c.type).FileCounter, 0u);
    }
  }
}

TEST(FindFileEnd, HeaderAndEndInOneSector) {
  // A JPEG whose FF D9 lies in its header sector is one sector more than it
  // spans; an HTML page within one sector is exactly that sector.
  auto image = test::blankImage(2);
  place(image, 0, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00 ... \xFF\xD9"sv);
  EndProbe probe;
  ASSERT_EQ(probe.call("JPEG", image, 0, 0), kEndFound);
  EXPECT_EQ(probe.end.sizeSectors, 2u);
  auto page = test::blankImage(2);
  place(page, 0, 0, "<html><body>hi</body></html>"sv);
  ASSERT_EQ(probe.call("HTML", page, 0, 0), kEndFound);
  EXPECT_EQ(probe.end.sizeSectors, 1u);
}

TEST(FindFileEnd, AnEndSignatureMayRunOnIntoTheNextSectorButNotPastTheView) {
  auto image = test::blankImage(3);
  place(image, 0, 510, "%%EOF"sv);  // starts at byte 510 of sector 0, ends in sector 1
  EndProbe probe;
  EXPECT_EQ(probe.call("PDF", image, 0, 0), kEndFound);
  EXPECT_EQ(probe.end.sizeSectors, 2u);
  // The same bytes with the view cut after the first sector: no match.
  ByteSpan cut(image.data(), kSectorSize);
  FileEnd end;
  CompoundState compound;
  EXPECT_EQ(FindFileEnd(entryNamed(probe.table, "PDF"), cut, cut, 0, 0, compound, end, {}), kEndNotYet);
  // A start position in the following sector belongs to that sector.
  auto later = test::blankImage(3);
  place(later, 1, 0, "%%EOF"sv);
  EXPECT_EQ(probe.call("PDF", later, 0, 0), kEndNotYet);
  EXPECT_EQ(findInSector(ByteSpan(later).subspan(0, 3 * kSectorSize), std::as_bytes(std::span("%%EOF", 5))), -1);
}

TEST(FindFileEnd, SizeFieldRules) {
  struct Case {
    std::string type;
    std::uint32_t value;  // at the type's size offset
    int result;
    std::uint64_t size;
  };
  const std::vector<Case> cases = {
      {"BMP", 0, kEndRejected, 0},
      {"BMP", 1, kEndFound, 2},
      {"BMP", 1000, kEndFound, 3},
      {"BMP", 104857600, kEndFound, 204802},
      {"BMP", 104857601, kEndRejected, 0},
      {"CDR", 0, kEndRejected, 0},
      {"CDR", 104857601, kEndRejected, 0},
      {"SWF", 5000, kEndFound, 11},
      {"SWF", 0xFFFFFFFF, kEndRejected, 0},
      {"AVI", 0, kEndNotYet, 0},                // keeps looking
      {"AVI", 0x40000000, kEndFound, 2097154},
      {"AVI", 0xFFFFFFFF, kEndFound, 2097154},  // cut to the limit
      {"WPD", 100, kEndFound, 2},
      {"WPD", 0x7FFFFFFF, kEndFound, 502},      // 256,000 / 512 + 2
      {"SAM", 0, kEndFound, 58},                // fixed: 28,672 / 512 + 2
      {"SAM", 0xFFFFFFFF, kEndFound, 58},
  };
  for (const auto& c : cases) {
    EndProbe probe;
    const ExtensionEntry& entry = entryNamed(probe.table, c.type);
    auto image = test::blankImage(2);
    if (entry.sizeLength == 4) placeU32(image, 0, static_cast<std::size_t>(entry.sizeOffset), c.value);
    EXPECT_EQ(probe.call(c.type, image, 0, 0), c.result) << c.type << " " << c.value;
    if (c.result == kEndFound) {
      EXPECT_EQ(probe.end.sizeSectors, c.size) << c.type << " " << c.value;
    }
  }
}

TEST(FindFileEnd, SizeIsReadFromTheHeaderSectorNotTheCurrentOne) {
  auto image = test::blankImage(3);
  placeU32(image, 0, 4, 0);     // AVI header: size 0
  placeU32(image, 2, 4, 4096);  // a later sector with a plausible value
  EndProbe probe;
  EXPECT_EQ(probe.call("AVI", image, 0, 2), kEndNotYet);
}

// A compound document: header, a directory sector naming a stream, a later
// sector with the sub-type's end signature.
std::vector<std::byte> compoundImage(std::string_view stream, std::string_view endSignature) {
  auto image = test::blankImage(6);
  place(image, 0, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv);
  place(image, 2, 0, test::utf16("Root Entry"));
  place(image, 2, 128, test::utf16(stream));
  place(image, 4, 300, endSignature);
  return image;
}

TEST(CompoundDirectory, NamesTheSubTypeOnlyInARootEntrySector) {
  struct Case {
    std::string first;   // at offset 0
    std::string stream;  // at offset 128 (empty: none)
    std::optional<std::string> type;
  };
  const std::vector<Case> cases = {
      {test::utf16("Root Entry"), test::utf16("WordDocument"), "DOC"},
      {test::utf16("Root Entry"), test::utf16("Workbook"), "XLS"},
      {test::utf16("Root Entry"), test::utf16("PowerPoint Document"), "PPT"},
      {test::utf16("Root Entry"), test::utf16("PageMaker"), "PMD"},
      {test::utf16("Root Entry"), "Workbook", std::nullopt},  // not UTF-16
      {test::utf16("Root Entry"), "", std::nullopt},
      {test::utf16("Root Entrx"), test::utf16("Workbook"), std::nullopt},
  };
  for (const auto& c : cases) {
    auto sector = test::blankImage(1);
    place(sector, 0, 0, c.first);
    place(sector, 0, 128, c.stream);
    EXPECT_EQ(compoundDirectoryType(sector), c.type) << c.stream;
  }
  // The earliest position wins, whatever the order of the names.
  auto both = test::blankImage(1);
  place(both, 0, 0, test::utf16("Root Entry"));
  place(both, 0, 128, test::utf16("Workbook"));
  place(both, 0, 256, test::utf16("WordDocument"));
  EXPECT_EQ(compoundDirectoryType(both), "XLS");
}

TEST(FindFileEnd, CompoundEndCountsOnlyForTheSubTypeTheDirectoryNamed) {
  struct Case {
    std::string_view stream;
    std::string_view end;
    std::vector<std::string_view> ticked;
    bool found;
    std::string name;
    bool selected;
  };
  const std::vector<Case> cases = {
      {"Workbook", "\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x04"sv, {"XLS"}, true, "XLS", true},
      {"Workbook", "\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x04"sv, {"DOC"}, true, "XLS", false},
      {"WordDocument", "Word.Document.8"sv, {"DOC"}, true, "DOC", true},
      {"WordDocument", "Word.Document.8"sv, {"XLS"}, true, "DOC", false},
      {"PowerPoint Document", "\x00\x00\x00\x14\x00\x00\x00\x5F\xC0\x91\xE3"sv, {"PPT"}, true, "PPT", true},
      {"PageMaker", "DISPLAY"sv, {"PMD"}, true, "PMD", true},
      // A signature of another sub-type does not end the document.
      {"Workbook", "Word.Document.8"sv, {"DOC", "XLS"}, false, "", false},
  };
  for (const auto& c : cases) {
    auto image = compoundImage(c.stream, c.end);
    EndProbe probe;
    ExtensionTicks ticks{};
    for (auto t : c.ticked) ticks[static_cast<std::size_t>(extensionRow(t))] = true;
    probe.table = buildSignatureTable(ticks);
    int result = kEndNotYet;
    SectorNumber d = 0;
    for (; d < 6 && result == kEndNotYet; ++d) result = probe.call("DOC", image, 0, d);
    if (!c.found) {
      EXPECT_EQ(result, kEndNotYet) << c.stream;
      continue;
    }
    ASSERT_EQ(result, kEndFound) << c.stream;
    EXPECT_EQ(d - 1, 4u) << "ends in the sector of the end signature";
    EXPECT_EQ(probe.end.sizeSectors, 6u);
    EXPECT_EQ(probe.end.name, c.name);
    EXPECT_TRUE(probe.compound.subTypeSeen);
    EXPECT_EQ(probe.compound.subTypeSelected, c.selected) << c.stream << " " << c.ticked.front();
  }
}

TEST(FindFileEnd, CompoundSubTypesShareOneCounter) {
  EndProbe probe;
  auto xls = compoundImage("Workbook", "\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x04"sv);
  auto doc = compoundImage("WordDocument", "Word.Document"sv);
  ASSERT_EQ(probe.call("DOC", xls, 0, 2), kEndNotYet);  // the directory sector
  ASSERT_EQ(probe.call("DOC", xls, 0, 4), kEndFound);
  EXPECT_EQ(probe.end.fileNumber, 0u);
  probe.compound.clear();
  ASSERT_EQ(probe.call("DOC", doc, 0, 2), kEndNotYet);
  ASSERT_EQ(probe.call("DOC", doc, 0, 4), kEndFound);
  EXPECT_EQ(probe.end.name, "DOC");
  EXPECT_EQ(probe.end.fileNumber, 1u);
}

// The database look-ahead over an image of sectors: 'M' = a page with the
// marker in its second byte, 'H' = another database's header, '.' = other.
std::optional<std::int64_t> lookAheadOver(const std::string& layout, SectorNumber from, SectorNumber end,
                                          int* reads = nullptr) {
  auto image = test::blankImage(layout.size() + 16);
  for (std::size_t i = 0; i < layout.size(); ++i) {
    if (layout[i] == 'M') image[i * kSectorSize + 1] = std::byte{1};
    if (layout[i] == 'H') place(image, i, 0, "\x00\x01\x00\x00Standard Jet DB"sv);
  }
  const auto header = std::as_bytes(std::span("\x00\x01\x00\x00Stan", 8));
  return lookAheadDatabaseEnd(from, end, header, std::byte{1}, [&](SectorNumber first, std::span<std::byte> group) {
    if (reads) ++*reads;
    std::memcpy(group.data(), image.data() + first * kSectorSize, group.size());
  });
}

TEST(DatabaseLookAhead, FollowsMarkedPagesAndStopsAtTheNextDatabase) {
  struct Case {
    std::string layout;  // sector 0 is the header
    SectorNumber end;
    std::optional<std::int64_t> result;
  };
  const std::vector<Case> cases = {
      {"H.......", 100, std::nullopt},                   // nothing marked
      {"H..M....", 100, 3},                              // one group, last marked sector
      {"HMMMMMMMM.M.....", 100, 10},                     // second group starts after sector 8
      {"H...H...", 100, 2},                              // another database at 4: ends at 4 - 2
      {"HH......", 100, -1},                             // a header right after: before the start
      {"HMMMMMMMM.M.....", 16, 8},                       // 8 + 9 passes the end: no second group
      {"HMMMMMMMM.M.....", 17, 10},
      {"H.M.........M...", 100, 2},                      // a group without marks ends the walk
  };
  for (const auto& c : cases) EXPECT_EQ(lookAheadOver(c.layout, 1, c.end), c.result) << c.layout << " " << c.end;
  EXPECT_EQ(lookAheadOver("H", 1, 1), std::nullopt) << "from the end nothing is read";
}

TEST(FindFileEnd, DatabaseSizeFromTheLookAheadAndNoEndRejects) {
  auto image = test::blankImage(12);
  EndProbe probe;
  ASSERT_EQ(probe.call("MDB", image, 10, 10, [](SectorNumber from) -> std::optional<std::int64_t> {
    EXPECT_EQ(from, 11u);
    return 20;
  }), kEndFound);
  EXPECT_EQ(probe.end.sizeSectors, 12u);  // 20 - 10 + 2
  EXPECT_EQ(probe.call("MDB", image, 10, 10, [](SectorNumber) { return std::optional<std::int64_t>(); }),
            kEndRejected);
  EXPECT_EQ(entryNamed(probe.table, "MDB").FileCounter, 1u) << "a rejected database uses no number";
}

}  // namespace
}  // namespace dravolin

namespace dravolin {
namespace {

// The search finds the first whole occurrence, also where the first byte of
// the signature fills the data (the general search takes over there).
TEST(FindSignature, FirstWholeOccurrence) {
  struct Case {
    std::string hay;
    std::string needle;
    long expected;  // -1: none
  };
  const std::string zeros(5000, '\0');
  const std::vector<Case> cases = {
      {std::string("abc\xFF\x00\xFF\xD9xyz", 9), "\xFF\xD9", 5},
      {"\xFF\xD9", "\xFF\xD9", 0},
      {"\xFF", "\xFF\xD9", -1},
      {"xx%%EO", "%%EOF", -1},
      {"xx%%EOF", "%%EOF", 2},
      {zeros + std::string("\x00\x40\x07\x00", 4), std::string("\x00\x40\x07\x00", 4), 5000},
      {zeros, std::string(16, '\0'), 0},
      {std::string(3000, 'P') + "PK\x05\x06", "PK\x05\x06", 3000},
      {std::string(3000, 'P'), "PK\x05\x06", -1},
  };
  for (const auto& c : cases) {
    auto hay = std::as_bytes(std::span(c.hay.data(), c.hay.size()));
    auto needle = std::as_bytes(std::span(c.needle.data(), c.needle.size()));
    const std::byte* hit = findSignature(hay, needle);
    EXPECT_EQ(hit ? hit - hay.data() : -1, c.expected) << c.needle.size() << " in " << c.hay.size();
  }
}

}  // namespace
}  // namespace dravolin
