// The format end rules over small files built here, whole and in damaged
// copies: each copy breaks one thing and the rule must say so (the end, a
// partial end, no file of this type, or an end it cannot see).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "raw/exact_end.h"

namespace dravolin {
namespace {

using namespace std::string_literals;

std::string be16(unsigned v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
std::string be32(std::uint32_t v) { return be16(v >> 16) + be16(v & 0xFFFF); }
std::string le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }
std::string segment(unsigned marker, const std::string& body) {
  return "\xFF"s + static_cast<char>(marker) + be16(static_cast<unsigned>(body.size() + 2)) + body;
}

// SOI, an Exif APP1 holding a whole thumbnail JPEG (with its own EOI), DQT,
// SOF0, DHT, SOS, entropy data with a stuffed FF 00 and a restart, EOI.
std::string jpeg() {
  const std::string thumbnail = "\xFF\xD8\xFF\xDB\x00\x04\x01\x02\xFF\xD9"s;
  return "\xFF\xD8"s + segment(0xE1, "Exif\0\0"s + thumbnail) + segment(0xDB, std::string(65, '\x01')) +
         segment(0xC0, "\x08\x00\x10\x00\x10\x01\x01\x11\x00"s) + segment(0xC4, std::string(20, '\x02')) +
         segment(0xDA, "\x01\x01\x00\x00\x3F\x00"s) + "\x12\x34\xFF\x00\x56\xFF\xD0\x78\x9A"s + "\xFF\xD9"s;
}

std::string pngChunk(const std::string& type, const std::string& data) {
  return be32(static_cast<std::uint32_t>(data.size())) + type + data + "CRC!";
}
std::string png() {
  return "\x89PNG\r\n\x1A\n"s + pngChunk("IHDR", std::string(13, '\x01')) + pngChunk("IDAT", "pixels") +
         pngChunk("IEND", "");
}

std::string bmp(std::uint32_t infoSize = 40) {
  std::string info = le32(infoSize) + le32(2) + le32(2) + le16(1) + le16(24) + std::string(24, '\0');
  const std::string pixels(16, '\x55');
  return "BM" + le32(static_cast<std::uint32_t>(14 + info.size() + pixels.size())) + le32(0) +
         le32(static_cast<std::uint32_t>(14 + info.size())) + info + pixels;
}

std::string riff(const std::string& form) {
  const std::string body = form + "LIST" + le32(4) + "hdrl";
  return "RIFF" + le32(static_cast<std::uint32_t>(body.size())) + body;
}

// One stored entry; with a data descriptor its sizes follow the data.
std::string zip(bool descriptor) {
  const std::string name = "a.txt", data = "hello zip";
  const std::uint32_t size = descriptor ? 0 : static_cast<std::uint32_t>(data.size());
  std::string local = le32(0x04034B50) + le16(20) + le16(descriptor ? 8 : 0) + le16(0) + le32(0) + le32(0x1234) +
                      le32(size) + le32(size) + le16(static_cast<unsigned>(name.size())) + le16(0) + name + data;
  if (descriptor) local += le32(0x08074B50) + le32(0x1234) + le32(9) + le32(9);
  const std::string central = le32(0x02014B50) + le16(20) + le16(20) + le16(0) + le16(0) + le32(0) + le32(0x1234) +
                              le32(9) + le32(9) + le16(static_cast<unsigned>(name.size())) + le16(0) + le16(0) +
                              le16(0) + le16(0) + le32(0) + le32(0) + name;
  return local + central + le32(0x06054B50) + le16(0) + le16(0) + le16(1) + le16(1) +
         le32(static_cast<std::uint32_t>(central.size())) + le32(static_cast<std::uint32_t>(local.size())) + le16(2) +
         "hi";
}

// A linearized file: a first part ending in %%EOF, then more objects and
// the final %%EOF.
std::string pdf() {
  return "%PDF-1.5\n1 0 obj\n<< /Linearized 1 >>\nendobj\ntrailer\n<< >>\nstartxref\n0\n%%EOF\n"
         "2 0 obj\n<< /Type /Catalog >>\nendobj\nxref\n0 1\ntrailer\n<< >>\nstartxref\n9\n%%EOF\r\n";
}

std::string box(const std::string& type, const std::string& body) {
  return be32(static_cast<std::uint32_t>(body.size() + 8)) + type + body;
}
std::string mp4(const std::string& brand) {
  return box("ftyp", brand + "\0\0\0\0" + brand) + box("moov", box("mvhd", std::string(20, '\0'))) +
         box("mdat", "frames");
}

// A SQLite header of 3 pages of 1024 bytes (the rest of the pages blank).
std::string sqlite(bool current) {
  std::string h = "SQLite format 3"s + '\0' + be16(1024) + "\1\1\0\x40\x20\x20"s + be32(7) + be32(3);
  h += std::string(92 - h.size(), '\0') + be32(current ? 7 : 6);
  return h + std::string(3072 - h.size(), '\0');
}

std::string sevenZip(bool goodCrc) {
  // The next header: 0x20 bytes after the start header, 0x10 long (its CRC not looked at).
  const std::string fields = le32(0x20) + le32(0) + le32(0x10) + le32(0) + le32(0);
  const auto crc = static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(fields.data()), 20));
  return "7z\xBC\xAF\x27\x1C\x00\x04"s + le32(goodCrc ? crc : crc ^ 1) + fields + std::string(0x30, '\x42');
}

std::string gzip(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(text.size() + 256, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// A little-endian TIFF: one IFD with a strip (50..70) and Make "NIKON" at 80.
std::string tiff() {
  std::string t = "II*\0"s + le32(8) + le16(3);
  t += le16(271) + le16(2) + le32(6) + le32(80);
  t += le16(273) + le16(4) + le32(1) + le32(50);
  t += le16(279) + le16(4) + le32(1) + le32(20);
  t += le32(0);
  t += std::string(50 - t.size(), '\0') + std::string(20, '\x77');
  return t + std::string(80 - t.size(), '\0') + "NIKON\0"s;
}

// A PSD of 2 x 2 pixels, 3 channels, 8 bits, RLE: empty colour mode data,
// resources and layers, then 6 row lengths of 3 and the rows.
std::string psd(unsigned compression) {
  std::string p = "8BPS"s + be16(1) + std::string(6, '\0') + be16(3) + be32(2) + be32(2) + be16(8) + be16(3);
  p += be32(0) + be32(4) + "8BIM" + be32(0) + be16(compression);
  if (compression == 0) return p + std::string(12, '\x11');
  for (int r = 0; r < 6; ++r) p += be16(3);
  return p + std::string(18, '\x22');
}

const std::string kHtml = "<html>\n<body><p>text</p></body>\n</HTML>\r\n";
const std::string kXml = "<?xml version=\"1.0\"?>\n<!-- <a> -->\n<a x=\"1\"><a/><a><b>t</b></a></a>\n";
const std::string kRtf = "{\\rtf1\\ansi {\\b bold \\} brace} \\{ plain}\r\n";

// Random-looking bytes after a file: none of them is a NUL or a marker the
// rules could take for their own.
std::string filler(std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(0x80 + (i * 37) % 64);
  return out;
}

struct Case {
  const char* what;
  EndRule rule;
  std::string bytes;
  EndOutcome outcome;
  std::uint64_t length;  // Found, Partial
};

TEST(ExactEnd, EachRuleEndsItsFormatAndTellsDamage) {
  const std::string j = jpeg();
  const std::size_t scanData = j.size() - 2 - 9;  // first byte of the entropy data
  const std::string z = zip(false), zd = zip(true), p = pdf();
  const std::vector<Case> cases = {
      {"JPEG with a thumbnail and filler", EndRule::Jpeg, j + filler(300), EndOutcome::Found, j.size()},
      {"JPEG with fill bytes before EOI", EndRule::Jpeg, j.substr(0, j.size() - 2) + "\xFF\xFF\xD9"s + filler(9),
       EndOutcome::Found, j.size() + 1},
      {"JPEG broken mid-scan", EndRule::Jpeg, j.substr(0, scanData + 4) + "\xFF\x37"s + filler(100), EndOutcome::Partial,
       scanData + 4},
      {"JPEG whose APP1 length runs into nothing", EndRule::Jpeg, "\xFF\xD8\xFF\xE1\x00\x04\x00\x00\x12\x34"s + filler(50),
       EndOutcome::NotThisFormat, 0},
      {"JPEG without a frame", EndRule::Jpeg, "\xFF\xD8"s + segment(0xDA, "\x01\x01\x00\x00\x3F\x00"s) + "\xFF\xD9"s,
       EndOutcome::NotThisFormat, 0},
      {"JPEG cut short", EndRule::Jpeg, j.substr(0, scanData + 3), EndOutcome::Unknown, 0},
      {"PNG", EndRule::Png, png() + filler(40), EndOutcome::Found, png().size()},
      {"PNG without IHDR first", EndRule::Png, "\x89PNG\r\n\x1A\n"s + pngChunk("IDAT", "x"), EndOutcome::NotThisFormat, 0},
      {"PNG with a broken chunk", EndRule::Png, png().substr(0, 33) + "\xFF\xFF\xFF\xFF????"s + filler(20),
       EndOutcome::Partial, 33},
      {"PNG cut before IEND", EndRule::Png, png().substr(0, png().size() - 12), EndOutcome::Unknown, 0},
      {"BMP", EndRule::Bmp, bmp() + filler(10), EndOutcome::Found, bmp().size()},
      {"BMP with no info header", EndRule::Bmp, bmp(0), EndOutcome::NotThisFormat, 0},
      {"BMP whose size lies past what is there", EndRule::Bmp, bmp().substr(0, 60), EndOutcome::Partial, 60},
      {"AVI", EndRule::RiffAvi, riff("AVI ") + filler(8), EndOutcome::Found, riff("AVI ").size()},
      {"a WAVE is no AVI", EndRule::RiffAvi, riff("WAVE"), EndOutcome::NotThisFormat, 0},
      {"ZIP to its comment", EndRule::Zip, z + filler(30), EndOutcome::Found, z.size()},
      {"ZIP with a data descriptor", EndRule::Zip, zd + filler(30), EndOutcome::Found, zd.size()},
      {"a stray PK header", EndRule::Zip, "PK\x03\x04"s + filler(60), EndOutcome::NotThisFormat, 0},
      {"ZIP whose end record is gone", EndRule::Zip, z.substr(0, z.size() - 24) + filler(30), EndOutcome::Unknown, 0},
      {"linearized PDF", EndRule::Pdf, p + filler(50), EndOutcome::Found, p.size()},
      {"PDF without %%EOF", EndRule::Pdf, p.substr(0, 40) + filler(50), EndOutcome::Unknown, 0},
      {"HTML", EndRule::Html, kHtml + filler(20), EndOutcome::Found, kHtml.size()},
      {"HTML that never closes", EndRule::Html, "<html><p>cut\n"s + "\0\0\0"s + filler(5), EndOutcome::Partial, 12},
      {"XML with nested roots of its name", EndRule::Xml, kXml + filler(20), EndOutcome::Found, kXml.size()},
      {"XML that never closes", EndRule::Xml, kXml.substr(0, 40) + "\0"s, EndOutcome::Partial, 40},
      {"RTF with escaped braces", EndRule::Rtf, kRtf + filler(20), EndOutcome::Found, kRtf.size()},
      {"not RTF", EndRule::Rtf, "{\\rt" + filler(20), EndOutcome::NotThisFormat, 0},
      // Modern types.
      {"MP4 by its top-level boxes", EndRule::Mp4, mp4("isom") + filler(30), EndOutcome::Found, mp4("isom").size()},
      {"an MP4 is no MOV", EndRule::Mov, mp4("isom"), EndOutcome::NotThisFormat, 0},
      {"a QuickTime brand is a MOV", EndRule::Mov, mp4("qt  "), EndOutcome::Found, mp4("qt  ").size()},
      {"a stray ftyp", EndRule::Mp4, box("ftyp", "isom\0\0\0\0") + filler(40), EndOutcome::NotThisFormat, 0},
      {"WAV", EndRule::Wav, "RIFF"s + le32(16) + "WAVEfmt " + le32(0) + filler(10), EndOutcome::Found, 24},
      {"a WAVE without its format chunk", EndRule::Wav, riff("WAVE"), EndOutcome::NotThisFormat, 0},
      {"SQLite by page size and count", EndRule::Sqlite, sqlite(true) + filler(9), EndOutcome::Found, 3072},
      {"SQLite whose page count is stale", EndRule::Sqlite, sqlite(false), EndOutcome::Unknown, 0},
      {"7z by its start header", EndRule::SevenZip, sevenZip(true) + filler(9), EndOutcome::Found, 0x50},
      {"7z whose start header CRC fails", EndRule::SevenZip, sevenZip(false), EndOutcome::NotThisFormat, 0},
      {"gzip to its member's end", EndRule::Gzip, gzip(kXml + kXml) + filler(20), EndOutcome::Found,
       gzip(kXml + kXml).size()},
      {"gzip cut short", EndRule::Gzip, gzip(kXml + kXml).substr(0, 30), EndOutcome::Unknown, 0},
      {"PSD with RLE rows", EndRule::Psd, psd(1) + filler(10), EndOutcome::Found, psd(1).size()},
      {"PSD with raw rows", EndRule::Psd, psd(0) + filler(10), EndOutcome::Found, psd(0).size()},
      {"PSD of no known depth", EndRule::Psd, "8BPS"s + be16(1) + std::string(6, '\0') + be16(3) + be32(2) + be32(2) +
       be16(7) + be16(3) + filler(20), EndOutcome::NotThisFormat, 0},
      {"TIFF to its furthest value", EndRule::Tiff, tiff() + filler(30), EndOutcome::Found, 86},
      {"a Nikon raw by its Make", EndRule::Nef, tiff(), EndOutcome::Found, 86},
      {"a Nikon raw is no DNG", EndRule::Dng, tiff(), EndOutcome::NotThisFormat, 0},
      {"a TIFF whose IFD does not parse", EndRule::Tiff, "II*\0"s + le32(8) + le16(0) + filler(30),
       EndOutcome::NotThisFormat, 0},
      {"a stray gzip header", EndRule::Gzip, "\x1F\x8B\x08\x00"s + std::string(6, '\0') + "\xFF\xFF\xFF"s + filler(40),
       EndOutcome::NotThisFormat, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // In memory, and through the fetching path in pieces of sectors.
    CandidateBytes memory(ByteSpan(reinterpret_cast<const std::byte*>(c.bytes.data()), c.bytes.size()));
    const ExactEnd expected{c.outcome, c.length};
    EXPECT_EQ(findExactEnd(c.rule, memory, c.bytes.size()), expected);
    std::string padded = c.bytes + std::string(-c.bytes.size() % 512, '\0');
    CandidateBytes fetched(padded.size(), [&](std::uint64_t offset, std::span<std::byte> out) {
      std::memcpy(out.data(), padded.data() + offset, out.size());
      return out.size();
    });
    const ExactEnd got = findExactEnd(c.rule, fetched, c.bytes.size());
    EXPECT_EQ(got, expected);
  }
}

// A page that never closes stops where the next file's header starts a
// sector, its own trailing blank kept out.
TEST(ExactEnd, TextWithoutItsClosingTagIsCutAtTheNextFilesHeader) {
  std::string page = "<html><p>a page that was cut off";
  page += std::string(512 - page.size() - 3, 'x') + "\n  ";
  const std::string bytes = page + "\x89PNG\r\n\x1A\n" + filler(100);
  CandidateBytes candidate(ByteSpan(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()),
                           [](ByteSpan sector) { return sector[0] == std::byte{0x89}; });
  EXPECT_EQ(findExactEnd(EndRule::Html, candidate, bytes.size()), (ExactEnd{EndOutcome::Partial, 509}));
}

}  // namespace
}  // namespace dravolin
