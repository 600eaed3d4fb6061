#pragma once
// The file types raw recovery knows, as data: one row per type with its
// header signatures, the rule that finds where a file ends (a size field in
// the header, a fixed size, end signatures, or the database look-ahead) and
// its limits. The carver is one loop over this table; adding a type is
// adding a row.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "raw/exact_end.h"

namespace dravolin {

// Offset of a signature that may stand at any byte position of a sector.
inline constexpr std::int32_t kAnyOffset = -1;
// A size field that is absent.
inline constexpr std::int32_t kNoSizeField = -1;
inline constexpr std::uint32_t kDefaultMaxSearchSectors = 40960;

// How a size read from the header sector becomes the file's extent.
enum class SizeRule {
  None,              // no size field: end signatures or the look-ahead decide
  RejectOutOfRange,  // below 1 or above MaxFileBytes rejects the candidate
  CutToLimit,        // below 1 keeps looking; above MaxFileBytes is cut to it
  FixedSize,         // always MaxFileBytes, whatever the header holds
};

struct SignatureRecord {
  std::string name;  // the extension it stands for; for compound end signatures the sub-type
  std::vector<std::byte> bytes;
  std::int32_t offset = 0;  // kAnyOffset = at any byte position of the sector
  bool selected = false;    // end signatures of compound documents: that sub-type is wanted
};

struct ExtensionEntry {
  std::string name;
  std::vector<SignatureRecord> headers;
  std::int32_t sizeOffset = kNoSizeField;
  std::int32_t sizeLength = kNoSizeField;
  SizeRule sizeRule = SizeRule::None;
  std::vector<SignatureRecord> ends;
  std::vector<SignatureRecord> pageMarkers;  // present only for the database type
  bool selected = false;
  std::uint32_t FileCounter = 0;
  std::uint32_t MaxSearchSectors = kDefaultMaxSearchSectors;
  std::uint32_t MaxFileBytes = 0;
  bool compound = false;
  // Sectors saved past the one where an end signature was found: one for
  // every type but HTML, whose page ends with its closing tag's sector.
  std::uint32_t sectorsPastEnd = 1;
  // Where the format itself says the file ends (exact ends), if it does.
  EndRule endRule = EndRule::None;
  // A modern type: found only by its format (no sector rule).
  bool modern = false;

  bool hasSizeField() const { return sizeOffset != kNoSizeField; }
  // The end is found by the database look-ahead (page markers, no end signature).
  bool usesPageLookAhead() const { return !pageMarkers.empty() && name == "MDB"; }
};

using SignatureTable = std::vector<ExtensionEntry>;

// The rows of the extension list, in order.
inline constexpr std::size_t kExtensionCount = 28;
inline constexpr std::array<std::string_view, kExtensionCount> kExtensionNames = {
    "AVI", "BMP", "CDR", "CPP", "DOC", "DWG", "EML", "HTML", "JPEG", "MDB", "PDF", "PMD", "PNG", "PPT",
    "PSD", "RAR", "RTF", "SAM", "SWF", "TIF", "WK1", "WK3", "WK4", "WKS", "WPD", "XLS", "XML", "ZIP"};

// Row index of an extension name (exact, upper case), or -1.
int extensionRow(std::string_view name);

// Which rows the user ticked.
using ExtensionTicks = std::array<bool, kExtensionCount>;

// Builds the table from the ticked rows: every row gives an entry, in row
// order. The compound-document entry (DOC) is selected when any of DOC, PMD,
// PPT or XLS is ticked, and each of its end signatures is flagged by its own
// row; the PMD, PPT and XLS rows give entries without signatures that are
// never selected. Every FileCounter starts at 0.
SignatureTable buildSignatureTable(const ExtensionTicks& ticks);

// The modern types, each named as its folder (the usual extension); their
// entries follow the table's rows, found and ended by their formats.
inline constexpr std::size_t kModernCount = 29;
inline constexpr std::array<std::string_view, kModernCount> kModernNames = {
    "GIF", "WEBP", "WAV", "MP4", "MOV", "3GP", "M4A", "HEIC", "AVIF", "MKV", "WEBM", "MP3", "FLAC", "OGG", "7Z",
    "GZ",  "XZ",   "SQLITE", "DOCX", "XLSX", "PPTX", "ODT", "ODS", "ODP", "EPUB", "DNG", "CR2", "NEF", "ARW"};
using ModernTicks = std::array<bool, kModernCount>;
// Index of a modern type name (exact, upper case), or -1.
int modernRow(std::string_view name);

// The table's rows from the ticks, then one entry per modern type (selected
// when ticked).
SignatureTable buildSignatureTable(const ExtensionTicks& ticks, const ModernTicks& modern);

// The longest header or end signature of the table, in bytes.
std::size_t longestSignature(const SignatureTable& table);

}  // namespace dravolin
