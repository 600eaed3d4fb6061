#include "partition/gpt.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "common/text_encoding.h"

namespace dravolin {
namespace {

// Header fields, from the start of the header sector.
constexpr std::string_view kSignature = "EFI PART";
constexpr std::size_t kRevisionField = 8;
constexpr std::size_t kHeaderSizeField = 12;
constexpr std::size_t kHeaderCrcField = 16;
constexpr std::size_t kMyLbaField = 24;
constexpr std::size_t kAlternateLbaField = 32;
constexpr std::size_t kFirstUsableField = 40;
constexpr std::size_t kLastUsableField = 48;
constexpr std::size_t kDiskGuidField = 56;
constexpr std::size_t kEntryArrayLbaField = 72;
constexpr std::size_t kEntryCountField = 80;
constexpr std::size_t kEntrySizeField = 84;
constexpr std::size_t kEntryArrayCrcField = 88;

// Entry fields, from the start of an entry.
constexpr std::size_t kTypeGuidField = 0;
constexpr std::size_t kUniqueGuidField = 16;
constexpr std::size_t kFirstLbaField = 32;
constexpr std::size_t kLastLbaField = 40;
constexpr std::size_t kAttributesField = 48;
constexpr std::size_t kNameField = 56;
constexpr std::size_t kNameUnits = 36;

static_assert(kEntryArrayCrcField + 4 == kGptHeaderMinSize);
static_assert(kNameField + kNameUnits * 2 == kGptEntryMinSize);

GptGuid readGuid(ByteSpan data, std::size_t offset) {
  GptGuid guid{};
  for (std::size_t i = 0; i < guid.size(); ++i) guid[i] = readU8(data, offset + i);
  return guid;
}

// The name up to its first NUL. Control characters would reach terminals
// and reports as they are, so they become '?'.
std::string readName(ByteSpan entry) {
  std::u16string units;
  for (std::size_t i = 0; i < kNameUnits; ++i) {
    const std::uint16_t unit = readU16(entry, kNameField + 2 * i);
    if (unit == 0) break;
    units.push_back(unit < 0x20 || unit == 0x7F ? u'?' : static_cast<char16_t>(unit));
  }
  return utf16ToUtf8(units);
}

struct KnownType {
  const char* guid;
  const char* name;
};

constexpr KnownType kKnownTypes[] = {
    {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI System"},
    {"024DEE41-33E7-11D3-9D69-0008C781F39F", "MBR partition scheme"},
    {"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
    {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
    {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery environment"},
    {"5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "Microsoft LDM metadata"},
    {"AF9B60A0-1431-4F62-BC68-3311714A69AD", "Microsoft LDM data"},
    {"E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D", "Microsoft Storage Spaces"},
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
    {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
    {"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},
    {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux home"},
    {"44479540-F297-41B2-9AF7-D131D5F0458A", "Linux root (x86)"},
    {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux root (x86-64)"},
    {"B921B045-1DF0-41C3-AF44-4C6F280D3FAE", "Linux root (ARM-64)"},
    {"BC13C2FF-59E6-4262-A352-B275FD6F7172", "Linux extended boot"},
    {"CA7D7CCB-63ED-4C53-861C-1742536059CC", "Linux LUKS"},
    {"8DA63339-0007-60C0-C436-083AC8230908", "Linux reserved"},
    {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS/HFS+"},
    {"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},
    {"426F6F74-0000-11AA-AA11-00306543ECAC", "Apple boot"},
    {"516E7CB4-6ECF-11D6-8FF8-00022D09712B", "FreeBSD data"},
    {"516E7CB6-6ECF-11D6-8FF8-00022D09712B", "FreeBSD UFS"},
    {"516E7CBA-6ECF-11D6-8FF8-00022D09712B", "FreeBSD ZFS"},
    {"6A898CC3-1DD2-11B2-99A6-080020736631", "Solaris /usr & Apple ZFS"},
    {"3B8F8425-20E0-4F3B-907F-1A25A76F98E8", "Linux /srv"},
};

std::string entryRange(const GptEntry& e) {
  return "first sector " + std::to_string(e.firstLba) + ", last sector " + std::to_string(e.lastLba);
}

// Reads one header and its entry array; the reason in the error when either
// is not valid.
// headerLba and diskSectors count logical sectors of units 512-byte
// sectors each.
Result<GptTable> readCopy(SectorReader& reader, std::uint64_t headerLba, std::uint64_t diskSectors,
                          std::uint32_t units) {
  const std::uint32_t sectorBytes = units * static_cast<std::uint32_t>(kSectorSize);
  // The header fits in the first 512 bytes of its sector (its size is
  // checked against that).
  SectorBuffer sector = readSectorOrZeros(reader, headerLba * units);
  auto header = parseGptHeader(sector, headerLba, diskSectors, sectorBytes);
  if (!header) return std::unexpected(header.error());
  // At most 128 KiB: the header checks bounded the array's size.
  const std::uint64_t arrayUnits = (header->entryArrayBytes() + kSectorSize - 1) / kSectorSize;
  std::vector<std::byte> array(arrayUnits * kSectorSize);
  // Unreadable sectors come back zero-filled; the CRC check tells whether
  // what was read is still the array.
  if (!array.empty())
    (void)reader.ReadSector(header->entryArrayLba * units, static_cast<std::uint32_t>(arrayUnits), array);
  GptTable table;
  table.header = *header;
  auto entries = parseGptEntries(array, *header, diskSectors, table.notes);
  if (!entries) return std::unexpected(entries.error());
  table.entries = std::move(*entries);
  return table;
}

// The LBAs of a table read in logical sectors of units 512-byte sectors,
// in 512-byte sectors. An entry whose end would pass kGptSectorLimit so is
// left out with a note, as one that passes it already is.
void convertToUnits(GptTable& table, std::uint32_t units) {
  table.logicalSectorSize = units * static_cast<std::uint32_t>(kSectorSize);
  if (units == 1) return;
  GptHeader& h = table.header;
  // All of them lie inside the disk (checked against its logical size), or
  // are informational: the products stay within 64 bits for disks below
  // 2^61 bytes; saturate rather than wrap past that.
  auto scale = [units](std::uint64_t lba) {
    return lba > UINT64_MAX / units ? UINT64_MAX : lba * units;
  };
  h.myLba = scale(h.myLba);
  h.alternateLba = scale(h.alternateLba);
  h.firstUsableLba = scale(h.firstUsableLba);
  h.lastUsableLba = h.lastUsableLba >= UINT64_MAX / units ? UINT64_MAX : (h.lastUsableLba + 1) * units - 1;
  h.entryArrayLba = scale(h.entryArrayLba);
  h.sectorBytes = kSectorSize;
  std::vector<GptEntry> kept;
  for (GptEntry& e : table.entries) {
    if (e.lastLba >= kGptSectorLimit / units - 1) {
      table.notes.push_back("GPT: entry " + std::to_string(e.slot) +
                            " left out: its last sector lies past the end of any disk (" + entryRange(e) + ")");
      continue;
    }
    e.firstLba *= units;
    e.lastLba = (e.lastLba + 1) * units - 1;
    kept.push_back(std::move(e));
  }
  table.entries = std::move(kept);
}

}  // namespace

std::string formatGuid(const GptGuid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

bool isZeroGuid(const GptGuid& guid) {
  return std::all_of(guid.begin(), guid.end(), [](std::uint8_t b) { return b == 0; });
}

std::string gptTypeName(const GptGuid& typeGuid) {
  const std::string text = formatGuid(typeGuid);
  for (const auto& known : kKnownTypes)
    if (text == known.guid) return known.name;
  return "Unknown";
}

std::uint32_t gptCrc32(ByteSpan data) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes lengths as uInt; feed large buffers in pieces.
  constexpr std::size_t kPiece = std::numeric_limits<uInt>::max();
  while (!data.empty()) {
    const std::size_t n = std::min(data.size(), kPiece);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(n));
    data = data.subspan(n);
  }
  return static_cast<std::uint32_t>(crc);
}

Result<GptHeader> parseGptHeader(ByteSpan sector, std::uint64_t headerLba, std::uint64_t diskSectors,
                                 std::uint32_t sectorBytes) {
  if (!matchesAscii(sector, 0, kSignature)) return makeError(ErrorKind::NotFound, "no \"EFI PART\" signature");
  if (sectorBytes < kSectorSize || (sectorBytes & (sectorBytes - 1)) != 0)
    return makeError(ErrorKind::InvalidArgument, "sector size " + std::to_string(sectorBytes));
  GptHeader h;
  h.sectorBytes = sectorBytes;
  h.revision = readU32(sector, kRevisionField);
  h.headerSize = readU32(sector, kHeaderSizeField);
  if (h.headerSize < kGptHeaderMinSize || h.headerSize > kSectorSize || !fitsIn(sector, 0, h.headerSize))
    return makeError(ErrorKind::Corrupt, "header size " + std::to_string(h.headerSize) + " out of range");
  std::array<std::byte, kSectorSize> copy{};
  std::copy_n(sector.begin(), h.headerSize, copy.begin());
  writeU32(copy, kHeaderCrcField, 0);
  const std::uint32_t stored = readU32(sector, kHeaderCrcField);
  if (gptCrc32(ByteSpan(copy).first(h.headerSize)) != stored) return makeError(ErrorKind::Corrupt, "header CRC mismatch");
  h.myLba = readU64(sector, kMyLbaField);
  h.alternateLba = readU64(sector, kAlternateLbaField);
  h.firstUsableLba = readU64(sector, kFirstUsableField);
  h.lastUsableLba = readU64(sector, kLastUsableField);
  h.diskGuid = readGuid(sector, kDiskGuidField);
  h.entryArrayLba = readU64(sector, kEntryArrayLbaField);
  h.entryCount = readU32(sector, kEntryCountField);
  h.entrySize = readU32(sector, kEntrySizeField);
  h.entryArrayCrc = readU32(sector, kEntryArrayCrcField);
  if (h.myLba != headerLba)
    return makeError(ErrorKind::Corrupt, "header says it lies at sector " + std::to_string(h.myLba) + ", not " +
                                             std::to_string(headerLba));
  if (h.entrySize < kGptEntryMinSize || h.entrySize % kGptEntryMinSize != 0)
    return makeError(ErrorKind::Corrupt, "entry size " + std::to_string(h.entrySize) + " is not a multiple of 128");
  if (h.entryArrayBytes() > kGptMaxEntryArrayBytes)
    return makeError(ErrorKind::Corrupt, std::to_string(h.entryCount) + " entries of " + std::to_string(h.entrySize) +
                                             " bytes exceed " + std::to_string(kGptMaxEntryArrayBytes) + " bytes");
  if (h.firstUsableLba > h.lastUsableLba)
    return makeError(ErrorKind::Corrupt, "first usable sector " + std::to_string(h.firstUsableLba) +
                                             " after last usable sector " + std::to_string(h.lastUsableLba));
  const std::uint64_t sectors = h.entryArraySectors();
  if (h.entryArrayLba > diskSectors || sectors > diskSectors - h.entryArrayLba)
    return makeError(ErrorKind::Corrupt, "entry array at sector " + std::to_string(h.entryArrayLba) +
                                             " runs past the end of the disk");
  if (sectors > 0 && headerLba >= h.entryArrayLba && headerLba - h.entryArrayLba < sectors)
    return makeError(ErrorKind::Corrupt, "entry array overlaps its header");
  return h;
}

Result<std::vector<GptEntry>> parseGptEntries(ByteSpan array, const GptHeader& header, std::uint64_t diskSectors,
                                              std::vector<std::string>& notes) {
  const std::uint64_t bytes = header.entryArrayBytes();
  if (bytes > kGptMaxEntryArrayBytes || bytes > array.size())
    return makeError(ErrorKind::Corrupt, "entry array shorter than the header says");
  const ByteSpan used = array.first(static_cast<std::size_t>(bytes));
  if (gptCrc32(used) != header.entryArrayCrc) return makeError(ErrorKind::Corrupt, "entry array CRC mismatch");
  std::vector<GptEntry> entries;
  for (std::uint32_t i = 0; i < header.entryCount; ++i) {
    const ByteSpan raw = used.subspan(std::size_t{i} * header.entrySize, header.entrySize);
    GptEntry e;
    e.slot = i + 1;
    e.typeGuid = readGuid(raw, kTypeGuidField);
    if (isZeroGuid(e.typeGuid)) continue;
    e.uniqueGuid = readGuid(raw, kUniqueGuidField);
    e.firstLba = readU64(raw, kFirstLbaField);
    e.lastLba = readU64(raw, kLastLbaField);
    e.attributes = readU64(raw, kAttributesField);
    e.name = readName(raw);
    const std::string which = "GPT: entry " + std::to_string(e.slot) + " left out: ";
    if (e.firstLba > e.lastLba) {
      notes.push_back(which + "its first sector lies after its last (" + entryRange(e) + ")");
      continue;
    }
    if (e.lastLba >= kGptSectorLimit) {
      notes.push_back(which + "its last sector lies past the end of any disk (" + entryRange(e) + ")");
      continue;
    }
    if (e.firstLba >= diskSectors) {
      notes.push_back(which + "it starts past the end of the disk (" + entryRange(e) + ", disk of " +
                      std::to_string(diskSectors) + " sectors)");
      continue;
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

Result<GptTable> readGpt(SectorReader& reader, std::uint64_t diskUnits) {
  const std::uint32_t units = reader.source().unitsPerLogicalSector();
  const std::uint64_t diskSectors = diskUnits / units;
  // Sector 0 (the protective MBR), the header and at least a backup.
  if (diskSectors < 3) return makeError(ErrorKind::NotFound, "GPT: the disk is too small to hold a GUID partition table");
  auto primary = readCopy(reader, 1, diskSectors, units);
  if (primary) {
    convertToUnits(*primary, units);
    return primary;
  }
  auto backup = readCopy(reader, diskSectors - 1, diskSectors, units);
  if (!backup)
    return makeError(ErrorKind::Corrupt, "GPT: no valid header (primary: " + primary.error().message +
                                             "; backup: " + backup.error().message + ")");
  convertToUnits(*backup, units);
  backup->fromBackup = true;
  backup->notes.insert(backup->notes.begin(),
                       std::string(kGptBackupUsedText) + " (" + primary.error().message + ")");
  return backup;
}

}  // namespace dravolin
