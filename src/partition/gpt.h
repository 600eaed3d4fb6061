#pragma once
// The GUID partition table: the header at sector 1 (and its backup at the
// last sector of the disk), the partition entry array it points to, and the
// common partition type GUIDs. A disk carries one when sector 0 holds a
// protective MBR (an entry of type 0xEE).
//
// Headers and entry arrays are untrusted: the signature, the header size,
// both CRC32s, the header's own sector number, the entry size (a multiple of
// 128) and the entry array (at most kGptMaxEntryArrayBytes, inside the disk)
// are checked before anything is read or allocated.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_reader.h"
#include "common/error.h"
#include "disk/sector_reader.h"

namespace dravolin {

inline constexpr std::uint8_t kProtectiveMbrType = 0xEE;
inline constexpr std::size_t kGptHeaderMinSize = 92;
inline constexpr std::size_t kGptEntryMinSize = 128;
// No more than this many bytes of entries are read (1,024 entries of 128 bytes).
inline constexpr std::uint64_t kGptMaxEntryArrayBytes = 128 * 1024;

// Entries must end below this sector, so that an end (last sector + 1)
// stays a positive signed 64-bit sector number, as the wizard state keeps it.
inline constexpr std::uint64_t kGptSectorLimit = (std::uint64_t{1} << 63) - 1;

// The line that tells a listing came from the backup header.
inline constexpr std::string_view kGptBackupUsedText = "GPT: primary header damaged; using the backup header";

using GptGuid = std::array<std::uint8_t, 16>;

struct GptHeader {
  std::uint32_t revision = 0;
  std::uint32_t headerSize = 0;
  std::uint64_t myLba = 0;
  std::uint64_t alternateLba = 0;
  std::uint64_t firstUsableLba = 0;
  std::uint64_t lastUsableLba = 0;
  GptGuid diskGuid{};
  std::uint64_t entryArrayLba = 0;
  std::uint32_t entryCount = 0;
  std::uint32_t entrySize = 0;
  std::uint32_t entryArrayCrc = 0;
  // The size of the sectors the LBAs above count (the disk's logical sector
  // size as parsed; 512 once readGpt has converted them).
  std::uint32_t sectorBytes = kSectorSize;

  std::uint64_t entryArrayBytes() const { return std::uint64_t{entryCount} * entrySize; }
  std::uint64_t entryArraySectors() const { return (entryArrayBytes() + sectorBytes - 1) / sectorBytes; }
};

struct GptEntry {
  std::uint32_t slot = 0;          // 1-based position in the entry array
  GptGuid typeGuid{};
  GptGuid uniqueGuid{};
  std::uint64_t firstLba = 0;      // first sector
  std::uint64_t lastLba = 0;       // last sector, inclusive
  std::uint64_t attributes = 0;
  std::string name;                // UTF-8, from the 36 UTF-16LE code units
};

struct GptTable {
  GptHeader header;
  bool fromBackup = false;
  std::vector<GptEntry> entries;   // used entries, in entry order
  std::vector<std::string> notes;  // "GPT: ..." lines: backup used, entries left out
  std::uint32_t logicalSectorSize = kSectorSize;  // the disk's, which the table counted in
};

// The GUID in its usual text form, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B":
// the first three groups are stored little-endian, the last two as bytes.
std::string formatGuid(const GptGuid& guid);
bool isZeroGuid(const GptGuid& guid);

// The common name of a partition type GUID ("EFI System", "Microsoft basic
// data", "Linux filesystem", ...), or "Unknown".
std::string gptTypeName(const GptGuid& typeGuid);

// CRC32 as the GPT uses it (the zlib / IEEE 802.3 polynomial).
std::uint32_t gptCrc32(ByteSpan data);

// Parses and checks the header read from sector headerLba of a disk of
// diskSectors sectors of sectorBytes each (the LBAs count in them):
// NotFound without the "EFI PART" signature, Corrupt when a check fails
// (the message says which).
[[nodiscard]] Result<GptHeader> parseGptHeader(ByteSpan sector, std::uint64_t headerLba, std::uint64_t diskSectors,
                                               std::uint32_t sectorBytes = kSectorSize);

// Checks the entry array against the header's CRC and decodes its used
// entries (type GUID not zero) in entry order. An entry whose first sector
// lies after its last, that starts past the end of the disk or ends at or
// past kGptSectorLimit, is left out
// with a note; one that ends past it is kept (the listing marks it).
[[nodiscard]] Result<std::vector<GptEntry>> parseGptEntries(ByteSpan entryArray, const GptHeader& header,
                                                            std::uint64_t diskSectors,
                                                            std::vector<std::string>& notes);

// Reads the primary header at sector 1 and its entries; when either is
// damaged, the backup header at the last sector and its entries, with
// kGptBackupUsedText among the notes. An error when neither copy is valid.
// The table counts in the source's logical sectors (the header of a disk
// with 4,096-byte sectors lies at byte 4,096); the header's LBAs and the
// entries come back in 512-byte sectors, as every sector number is, and
// diskSectors counts 512-byte sectors too.
[[nodiscard]] Result<GptTable> readGpt(SectorReader& reader, std::uint64_t diskSectors);

}  // namespace dravolin
