#pragma once
// Deciding where a carved file ends, one sector at a time: by a size field
// in the header sector, by a fixed size, by end signatures, or by the page
// look-ahead of the database type. Pure functions over caller-owned bytes;
// the look-ahead reads through a callback.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "common/byte_reader.h"
#include "disk/sector_source.h"
#include "raw/signature_table.h"

namespace dravolin {

// Results of FindFileEnd.
inline constexpr int kEndFound = 0;     // the size, name and number are known
inline constexpr int kEndNotYet = -1;   // look at the next sector
inline constexpr int kEndRejected = -2; // not a file of this type: drop the candidate

// What the compound-document entry learns while a candidate is followed.
// CompoundStreamType is "", "DOC", "XLS", "PPT" or "PMD"; all three are
// cleared whenever a new header is matched.
struct CompoundState {
  std::string CompoundStreamType;
  bool subTypeSeen = false;
  bool subTypeSelected = false;
  void clear() { *this = {}; }
};

struct FileEnd {
  std::uint64_t sizeSectors = 0;
  std::string name;  // the folder and extension to save under
  std::uint32_t fileNumber = 0;
};

// The sub-type named by a compound-document directory sector: only when the
// sector begins with "Root Entry" (UTF-16LE); then the first byte position
// 0..511 where "WordDocument", "Workbook", "PowerPoint Document" or
// "PageMaker" (UTF-16LE, tested in this order at each position) stands gives
// "DOC", "XLS", "PPT" or "PMD". The compared bytes may run on past the
// sector into the rest of the view.
std::optional<std::string> compoundDirectoryType(ByteSpan view);

// The first position in the haystack at which the whole signature stands,
// or null.
const std::byte* findSignature(ByteSpan haystack, std::span<const std::byte> signature);

// The first byte position 0..511 of the view's first sector at which the
// signature starts (bytes may run on into the rest of the view; bytes past
// the view never match), or -1.
int findInSector(ByteSpan view, std::span<const std::byte> signature);

// Reads 8 sectors at a sector number into a 4096-byte buffer.
using SectorGroupReader = std::function<void(SectorNumber first, std::span<std::byte> group)>;

// The database look-ahead from sector a: groups of 8 sectors are read; a
// sector that begins with the header signature (another database) ends the
// file two sectors before it; a sector whose second byte equals the page
// marker is remembered, and while a group held one and the remembered
// sector + 9 does not pass the selection end the next group starts after
// it. Returns the end sector, or nothing when no end was found (a not below
// the end, or no marked sector and no new header).
std::optional<std::int64_t> lookAheadDatabaseEnd(SectorNumber a, SectorNumber partitionEnd,
                                                 std::span<const std::byte> header, std::byte pageMarker,
                                                 const SectorGroupReader& read);

// The database look-ahead as FindFileEnd sees it: from a sector, the end.
using DatabaseLookAhead = std::function<std::optional<std::int64_t>(SectorNumber from)>;

// FindFileEnd for the candidate of entry (started at sector b) at sector d.
// headerSector holds sector b; view holds sector d and whatever follows it
// that may be compared (at least the sector). On kEndFound the entry's
// FileCounter has been used and advanced. The database look-ahead is asked
// only for an entry with page markers; an end it cannot find rejects the
// candidate.
int FindFileEnd(ExtensionEntry& entry, ByteSpan headerSector, ByteSpan view, SectorNumber b, SectorNumber d,
                CompoundState& compound, FileEnd& out, const DatabaseLookAhead& databaseLookAhead);

// The size field of an entry, little-endian, read from the header sector
// (0 when it lies outside the sector or the entry has none).
std::uint64_t readSizeField(const ExtensionEntry& entry, ByteSpan headerSector);

}  // namespace dravolin
