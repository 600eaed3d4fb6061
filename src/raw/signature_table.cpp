#include "raw/signature_table.h"

#include <algorithm>
#include <initializer_list>

namespace dravolin {
namespace {

using namespace std::string_view_literals;

struct SignatureSpec {
  std::string_view name{};  // empty: the row's own name
  std::string_view bytes{};
  std::int32_t offset = 0;
};

// One row of the table. Header signatures stand at offset 0 unless given;
// end signatures are found at any byte position unless given.
struct RowSpec {
  std::string_view name;
  std::vector<SignatureSpec> headers{};
  std::vector<SignatureSpec> ends{};
  std::int32_t sizeOffset = kNoSizeField;
  std::int32_t sizeLength = kNoSizeField;
  SizeRule sizeRule = SizeRule::None;
  std::uint32_t maxSearchSectors = kDefaultMaxSearchSectors;
  std::uint32_t maxFileBytes = 0;
  bool compound = false;
  bool pageMarkers = false;
  std::uint32_t sectorsPastEnd = 1;
  EndRule endRule = EndRule::None;
};

constexpr std::int32_t kAny = kAnyOffset;

// SOI followed by a marker a JPEG may begin with: APP0..APP15, DQT, and the
// start-of-frame markers (C0..CF without DHT C4, JPG C8 and DAC CC).
std::vector<SignatureSpec> jpegHeaders() {
  static const std::string markers = [] {
    std::string m;
    for (int c = 0xE0; c <= 0xEF; ++c) m += static_cast<char>(c);
    m += '\xDB';
    for (int c = 0xC0; c <= 0xCF; ++c)
      if (c != 0xC4 && c != 0xC8 && c != 0xCC) m += static_cast<char>(c);
    return m;
  }();
  static const std::vector<std::string> headers = [] {
    std::vector<std::string> out;
    for (char marker : markers) out.push_back(std::string("\xFF\xD8\xFF") + marker);
    return out;
  }();
  std::vector<SignatureSpec> specs{{"", "JFIF"sv, 6}};
  for (const auto& h : headers) specs.push_back({"", h, 0});
  return specs;
}

const std::vector<RowSpec>& rows() {
  static const std::vector<RowSpec> table = {
      {.name = "AVI", .headers = {{"", "RIFF"sv}}, .sizeOffset = 4, .sizeLength = 4,
       .sizeRule = SizeRule::CutToLimit, .maxFileBytes = 0x40000000, .endRule = EndRule::RiffAvi},
      {.name = "BMP", .headers = {{"", "BM"sv}}, .sizeOffset = 2, .sizeLength = 4,
       .sizeRule = SizeRule::RejectOutOfRange, .maxFileBytes = 0x6400000, .endRule = EndRule::Bmp},
      {.name = "CDR", .headers = {{"", "RIFF"sv}}, .sizeOffset = 4, .sizeLength = 4,
       .sizeRule = SizeRule::RejectOutOfRange, .maxFileBytes = 0x6400000, .endRule = EndRule::RiffCdr},
      {.name = "CPP", .headers = {{"", "// "sv}}, .ends = {{"", "}\r\n\x00\x00"sv, kAny}}, .maxSearchSectors = 1000},
      // The compound document: one header, one end signature per sub-type.
      {.name = "DOC",
       .headers = {{"", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv}},
       .ends = {{"DOC", "Word.Document"sv, kAny},
                {"PPT", "\x00\x00\x00\x14\x00\x00\x00\x5F\xC0\x91\xE3"sv, kAny},
                {"XLS", "\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x04"sv, kAny},
                {"PMD", "DISPLAY"sv, kAny}},
       .compound = true, .endRule = EndRule::Compound},
      {.name = "DWG", .headers = {{"", "AC1015"sv}}, .ends = {{"", "\xAC\xDB\xBF\xF6\xED\xC3\x55\xFE\x00\x00"sv, kAny}},
       .maxSearchSectors = 0x200000},
      {.name = "EML", .headers = {{"", "MIME-"sv}}, .ends = {{"", "\r\n\x00\x00"sv, kAny}}},
      {.name = "HTML",
       .headers = {{"", "<html>"sv}, {"", "\r\n<html>"sv}, {"", "<HTML>"sv}, {"", "\r\n<HTML>"sv}},
       .ends = {{"", "</html>"sv, kAny}, {"", "</HTML>"sv, kAny}},
       .sectorsPastEnd = 0, .endRule = EndRule::Html},
      // A JPEG starts with SOI and any APPn (JFIF, Exif, SPIFF...), DQT or
      // SOF marker; the JFIF name at offset 6 alone still counts.
      {.name = "JPEG", .headers = jpegHeaders(), .ends = {{"", "\xFF\xD9"sv, kAny}}, .endRule = EndRule::Jpeg},
      {.name = "MDB", .headers = {{"", "\x00\x01\x00\x00Stan"sv}}, .pageMarkers = true},
      {.name = "PDF", .headers = {{"", "%PDF"sv}}, .ends = {{"", "%%EOF"sv, kAny}}, .endRule = EndRule::Pdf},
      {.name = "PMD"},
      {.name = "PNG", .headers = {{"", "\x89PNG"sv}}, .ends = {{"", "END\xAE\x42\x60\x82"sv, kAny}}, .endRule = EndRule::Png},
      {.name = "PPT"},
      {.name = "PSD", .headers = {{"", "8BPS"sv}},
       .ends = {{"", "\xFF\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"sv, kAny}},
       .endRule = EndRule::Psd},
      {.name = "RAR", .headers = {{"", "Rar!"sv}}, .ends = {{"", "\x00\x40\x07\x00"sv, kAny}}},
      {.name = "RTF", .headers = {{"", "{\\rtf1"sv}}, .ends = {{"", "\x00\x00"sv, kAny}}, .endRule = EndRule::Rtf},
      {.name = "SAM", .headers = {{"", "reg"sv}}, .sizeOffset = 0, .sizeLength = 0, .sizeRule = SizeRule::FixedSize,
       .maxFileBytes = 0x7000},
      {.name = "SWF", .headers = {{"", "FWS"sv}}, .sizeOffset = 4, .sizeLength = 4,
       .sizeRule = SizeRule::RejectOutOfRange, .maxFileBytes = 0x6400000},
      {.name = "TIF", .headers = {{"", "II*\x00"sv}},
       .ends = {{"", "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"sv, kAny}},
       .endRule = EndRule::Tiff},
      {.name = "WK1", .headers = {{"", "\x00\x00\x02\x00\x06\x04\x06\x00"sv}}, .ends = {{"", "\x00\x01\x00\x00\x00"sv, kAny}}},
      {.name = "WK3", .headers = {{"", "\x00\x00\x1A\x00\x00\x10\x04\x00"sv}},
       .ends = {{"", "\x00\x01\x00\x00\x00\x00\x00\x00"sv, kAny}}},
      {.name = "WK4", .headers = {{"", "\x00\x00\x1A\x00\x02\x10\x04\x00"sv}}, .ends = {{"", "WK3\x00WK3"sv, kAny}}},
      {.name = "WKS", .headers = {{"", "\x00\x00\x02\x00\x04\x04\x06\x00"sv}}, .ends = {{"", "\x00\x01\x00\x00\x00"sv, kAny}}},
      {.name = "WPD", .headers = {{"", "\xFFWPC"sv}}, .sizeOffset = 4, .sizeLength = 4, .sizeRule = SizeRule::CutToLimit,
       .maxFileBytes = 0x3E800},
      {.name = "XLS"},
      {.name = "XML", .headers = {{"", "<?xml"sv}}, .ends = {{"", "\r\n\x00\x00"sv, kAny}}, .endRule = EndRule::Xml},
      {.name = "ZIP", .headers = {{"", "PK"sv}}, .ends = {{"", "PK\x05\x06"sv, kAny}}, .endRule = EndRule::Zip},
  };
  return table;
}

struct ModernSpec {
  std::string_view name;
  std::vector<SignatureSpec> headers;
  EndRule rule;
};

// The modern types: headers at offset 0 unless given; the end rule also
// tells apart types that share a header (RIFF forms, ftyp brands, ZIP
// documents by their first entry).
const std::vector<ModernSpec>& modernRows() {
  static const std::vector<ModernSpec> table = {
      {"GIF", {{"", "GIF87a"sv}, {"", "GIF89a"sv}}, EndRule::Gif},
      {"WEBP", {{"", "RIFF"sv}}, EndRule::Webp},
      {"WAV", {{"", "RIFF"sv}}, EndRule::Wav},
      {"MP4", {{"", "ftyp"sv, 4}}, EndRule::Mp4},
      {"MOV", {{"", "ftyp"sv, 4}}, EndRule::Mov},
      {"3GP", {{"", "ftyp"sv, 4}}, EndRule::ThreeGp},
      {"M4A", {{"", "ftyp"sv, 4}}, EndRule::M4a},
      {"HEIC", {{"", "ftyp"sv, 4}}, EndRule::Heic},
      {"AVIF", {{"", "ftyp"sv, 4}}, EndRule::Avif},
      {"MKV", {{"", "\x1A\x45\xDF\xA3"sv}}, EndRule::Matroska},
      {"WEBM", {{"", "\x1A\x45\xDF\xA3"sv}}, EndRule::Webm},
      {"MP3", {{"", "ID3"sv}}, EndRule::Mp3},
      {"FLAC", {{"", "fLaC"sv}}, EndRule::Flac},
      {"OGG", {{"", "OggS"sv}}, EndRule::Ogg},
      {"7Z", {{"", "7z\xBC\xAF\x27\x1C"sv}}, EndRule::SevenZip},
      {"GZ", {{"", "\x1F\x8B\x08"sv}}, EndRule::Gzip},
      {"XZ", {{"", "\xFD" "7zXZ"sv}}, EndRule::Xz},
      {"SQLITE", {{"", "SQLite format 3"sv}}, EndRule::Sqlite},
      {"DOCX", {{"", "PK\x03\x04"sv}}, EndRule::Docx},
      {"XLSX", {{"", "PK\x03\x04"sv}}, EndRule::Xlsx},
      {"PPTX", {{"", "PK\x03\x04"sv}}, EndRule::Pptx},
      {"ODT", {{"", "PK\x03\x04"sv}}, EndRule::Odt},
      {"ODS", {{"", "PK\x03\x04"sv}}, EndRule::Ods},
      {"ODP", {{"", "PK\x03\x04"sv}}, EndRule::Odp},
      {"EPUB", {{"", "PK\x03\x04"sv}}, EndRule::Epub},
      {"DNG", {{"", "II*\x00"sv}, {"", "MM\x00*"sv}}, EndRule::Dng},
      {"CR2", {{"", "II*\x00"sv}, {"", "MM\x00*"sv}}, EndRule::Cr2},
      {"NEF", {{"", "II*\x00"sv}, {"", "MM\x00*"sv}}, EndRule::Nef},
      {"ARW", {{"", "II*\x00"sv}, {"", "MM\x00*"sv}}, EndRule::Arw},
  };
  return table;
}

std::vector<std::byte> toBytes(std::string_view text) {
  std::vector<std::byte> out(text.size());
  std::transform(text.begin(), text.end(), out.begin(), [](char c) { return static_cast<std::byte>(c); });
  return out;
}

SignatureRecord makeRecord(std::string_view rowName, const SignatureSpec& spec, bool selected) {
  return SignatureRecord{std::string(spec.name.empty() ? rowName : spec.name), toBytes(spec.bytes), spec.offset,
                         selected};
}

bool ticked(const ExtensionTicks& ticks, std::string_view name) {
  int row = extensionRow(name);
  return row >= 0 && ticks[static_cast<std::size_t>(row)];
}

}  // namespace

int extensionRow(std::string_view name) {
  for (std::size_t i = 0; i < kExtensionNames.size(); ++i)
    if (kExtensionNames[i] == name) return static_cast<int>(i);
  return -1;
}

SignatureTable buildSignatureTable(const ExtensionTicks& ticks) {
  SignatureTable table;
  table.reserve(rows().size());
  for (const RowSpec& row : rows()) {
    ExtensionEntry entry;
    entry.name = std::string(row.name);
    for (const auto& h : row.headers) entry.headers.push_back(makeRecord(row.name, h, false));
    for (const auto& e : row.ends) {
      // A compound end signature is flagged by the row of its sub-type.
      bool flag = row.compound && ticked(ticks, e.name);
      entry.ends.push_back(makeRecord(row.name, e, flag));
    }
    if (row.pageMarkers) entry.pageMarkers.push_back(makeRecord(row.name, {"", "\x01"sv, 0}, false));
    entry.sizeOffset = row.sizeOffset;
    entry.sizeLength = row.sizeLength;
    entry.sizeRule = row.sizeRule;
    entry.MaxSearchSectors = row.maxSearchSectors;
    entry.MaxFileBytes = row.maxFileBytes;
    entry.compound = row.compound;
    entry.sectorsPastEnd = row.sectorsPastEnd;
    entry.endRule = row.endRule;
    if (row.compound) {
      entry.selected = ticked(ticks, row.name);
      for (const auto& e : row.ends) entry.selected = entry.selected || ticked(ticks, e.name);
    } else {
      // Rows without a header of their own (the compound sub-types) are
      // never selected: the compound entry finds them.
      entry.selected = !row.headers.empty() && ticked(ticks, row.name);
    }
    table.push_back(std::move(entry));
  }
  return table;
}

int modernRow(std::string_view name) {
  for (std::size_t i = 0; i < kModernNames.size(); ++i)
    if (kModernNames[i] == name) return static_cast<int>(i);
  return -1;
}

SignatureTable buildSignatureTable(const ExtensionTicks& ticks, const ModernTicks& modern) {
  SignatureTable table = buildSignatureTable(ticks);
  const auto& rows = modernRows();
  for (std::size_t i = 0; i < rows.size() && i < kModernCount; ++i) {
    ExtensionEntry entry;
    entry.name = std::string(rows[i].name);
    for (const auto& h : rows[i].headers) entry.headers.push_back(makeRecord(rows[i].name, h, false));
    entry.endRule = rows[i].rule;
    entry.modern = true;
    entry.selected = modern[i];
    table.push_back(std::move(entry));
  }
  return table;
}

std::size_t longestSignature(const SignatureTable& table) {
  std::size_t longest = 0;
  for (const auto& entry : table) {
    for (const auto& h : entry.headers) longest = std::max(longest, h.bytes.size());
    for (const auto& e : entry.ends) longest = std::max(longest, e.bytes.size());
  }
  return longest;
}

}  // namespace dravolin
