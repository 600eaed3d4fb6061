#pragma once
// Decoding of 32-byte FAT directory entries: short names (8.3, raw OEM
// bytes), long-name pieces (13 UTF-16 characters per entry), attributes,
// packed times and dates, first cluster and size; the gathering of a long
// name that precedes its short entry; and the plausibility test of names.
// Everything here is a pure function over buffers; nothing reads the disk.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/byte_reader.h"
#include "entries/found_entries.h"

namespace dravolin {

inline constexpr std::size_t kDirectoryEntrySize = 32;
inline constexpr std::size_t kEntriesPerSector = 16;

inline constexpr std::uint8_t kAttributeDirectory = 0x10;
inline constexpr std::uint8_t kAttributeLongName = 0x0F;
inline constexpr std::uint8_t kDeletedMark = 0xE5;
inline constexpr std::uint8_t kLastLongEntryFlag = 0x40;
// Byte 12 of a short entry: base name / extension stored in lowercase.
inline constexpr std::uint8_t kLowercaseBase = 0x08;
inline constexpr std::uint8_t kLowercaseExtension = 0x10;
// Characters of one long-name entry, and the longest name gathered.
inline constexpr std::size_t kLongNameEntryChars = 13;
inline constexpr std::size_t kLongNameMaxChars = 255;
// A deleted long name has lost its sequence numbers; it is gathered over at
// most this many entries.
inline constexpr std::size_t kDeletedLongNameMaxEntries = 20;

// The fields of one 32-byte entry (all zero when the span is short).
struct DirectoryEntry {
  std::uint8_t firstByte = 0;
  std::uint8_t attributes = 0;
  std::uint16_t creationTime = 0;
  std::uint16_t creationDate = 0;
  std::uint16_t accessDate = 0;
  std::uint16_t clusterHigh = 0;
  std::uint16_t writeTime = 0;
  std::uint16_t writeDate = 0;
  std::uint16_t clusterLow = 0;
  std::uint32_t size = 0;

  bool isEndOfDirectory() const { return firstByte == 0x00; }
  bool isDeleted() const { return firstByte == kDeletedMark; }
  bool isLongName() const { return attributes == kAttributeLongName; }
  bool isDirectory() const { return (attributes & kAttributeDirectory) != 0; }
  // Low word | high word << 16.
  std::uint32_t cluster() const { return clusterLow | (std::uint32_t{clusterHigh} << 16); }
  // The times as the found-entry records hold them: last-write date,
  // last-write time, creation date, creation time, last-access date, 0.
  EntryTimes times() const { return {writeDate, writeTime, creationDate, creationTime, accessDate, 0}; }
};

// Decodes the entry at the start of the span.
DirectoryEntry decodeDirectoryEntry(ByteSpan entry);

// The first cluster of an entry: low word (offset 26) | high word (offset 20) << 16.
std::uint32_t makeClusterNumber(ByteSpan entry);

// True for the "." and ".." entries as the searches skip them: first byte
// '.' and fourth byte a blank.
bool isDotEntry(ByteSpan entry);

// True when a sector begins a directory: byte 0 '.', byte 1 blank, bytes 32
// and 33 '.', byte 34 blank.
bool beginsDirectory(ByteSpan sector);

struct ShortName {
  std::string narrow;   // the raw 8-bit bytes, '.' between name and extension
  std::u16string wide;  // each byte widened without code-page conversion
  bool deleted = false; // first byte 0xE5; the first character is then '_'
};

// Builds "NAME.EXT" from the space-padded name and extension: name bytes that
// are not blanks, then '.' when the first extension byte is not a blank, then
// the extension bytes that are not blanks. A first byte 0xE5 marks a deleted
// entry and becomes '_'; a first byte 0x05 stands for a name that really
// begins with the byte 0xE5. A NUL byte ends the name. The lowercase marks
// of byte 12 turn the ASCII letters of the base name or of the extension to
// lowercase ("hello.txt" as Windows NT shows it); other bytes stay raw.
ShortName decodeShortName(ByteSpan entry);

// The thirteen UTF-16 characters of a long-name entry, in name order.
std::array<char16_t, kLongNameEntryChars> longNamePiece(ByteSpan entry);

// Gathers the long name that belongs to the short entry at shortOffset of
// directory, where directory holds the entries that precede the short entry
// in directory order (several sectors, possibly of several clusters, laid end
// to end). Steps back one entry at a time from the short entry:
// - an entry that is not a long-name entry (or the start of the buffer) ends
//   the name: found when at least one character was gathered and the count
//   is a multiple of 13;
// - a 0x0000 character ends the name: found;
// - a sequence byte with the last-entry flag 0x40 ends the name: found;
// - more than 255 characters end the name: found.
// When the short entry itself is deleted (0xE5), its long-name entries carry
// 0xE5 in place of their sequence numbers: 0xE5 is then not taken as the
// last-entry flag, and the name is gathered over at most 20 entries. Live
// short entries keep the flag rule as it is.
std::optional<std::u16string> readLongName(ByteSpan directory, std::size_t shortOffset);

// The plausibility test of a decoded name: rejects any character 0x01..0x1F
// and the eight characters " \ / ? * < > |. Every other name passes,
// accented Latin letters (0x80..0xFF) and ':' included.
bool isValidEntryName(std::u16string_view name);

// The test the searches list entries by: isValidEntryName, except that '/'
// and '\\' pass. Such names are real on damaged or foreign volumes; they are
// listed as read and made safe only when saved. Garbage still fails on
// control characters and the other refused characters.
bool isListableEntryName(std::u16string_view name);

}  // namespace dravolin
