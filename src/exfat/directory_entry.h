#pragma once
// exFAT directory entries (32 bytes each) and the entry sets they form. An
// entry's type byte holds an in-use bit (0x80): deleting a file clears it in
// every entry of its set, so 0x85/0xC0/0xC1 become 0x05/0x40/0x41 and the
// rest of the set survives until the entries are reused.
//
// A file's entry set: the File entry (0x85: SecondaryCount, SetChecksum,
// attributes, times), a Stream Extension (0xC0: NoFatChain flag,
// NameLength, ValidDataLength, FirstCluster, DataLength) and 1..17 File Name
// entries (0xC1: 15 UTF-16 units each). SetChecksum covers every byte of
// the set but its own two.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/byte_reader.h"

namespace dravolin {

inline constexpr std::size_t kExfatEntrySize = 32;
inline constexpr std::uint8_t kExfatInUse = 0x80;
inline constexpr std::uint8_t kExfatEndOfDirectory = 0x00;
inline constexpr std::uint8_t kExfatBitmapEntry = 0x81;
inline constexpr std::uint8_t kExfatUpcaseEntry = 0x82;
inline constexpr std::uint8_t kExfatLabelEntry = 0x83;
inline constexpr std::uint8_t kExfatFileEntry = 0x85;
inline constexpr std::uint8_t kExfatStreamEntry = 0xC0;
inline constexpr std::uint8_t kExfatNameEntry = 0xC1;

// File entry
inline constexpr std::size_t kFileSecondaryCount = 1;
inline constexpr std::size_t kFileSetChecksum = 2;
inline constexpr std::size_t kFileAttributes = 4;
inline constexpr std::size_t kFileCreateTimestamp = 8;
inline constexpr std::size_t kFileModifiedTimestamp = 12;
inline constexpr std::size_t kFileAccessedTimestamp = 16;
inline constexpr std::size_t kFileCreate10ms = 20;
inline constexpr std::size_t kFileModified10ms = 21;
inline constexpr std::size_t kFileCreateUtcOffset = 22;
inline constexpr std::size_t kFileModifiedUtcOffset = 23;
inline constexpr std::size_t kFileAccessedUtcOffset = 24;
// Stream Extension entry
inline constexpr std::size_t kStreamFlags = 1;
inline constexpr std::size_t kStreamNameLength = 3;
inline constexpr std::size_t kStreamValidDataLength = 8;
inline constexpr std::size_t kStreamFirstCluster = 20;
inline constexpr std::size_t kStreamDataLength = 24;
inline constexpr std::uint8_t kStreamNoFatChain = 0x02;
// File Name entry
inline constexpr std::size_t kNameCharacters = 2;
inline constexpr std::size_t kNameUnitsPerEntry = 15;
// Allocation bitmap and up-case table entries
inline constexpr std::size_t kTableFirstCluster = 20;
inline constexpr std::size_t kTableDataLength = 24;
inline constexpr std::size_t kUpcaseChecksum = 4;
// Volume label entry
inline constexpr std::size_t kLabelLength = 1;
inline constexpr std::size_t kLabelCharacters = 2;

inline constexpr std::uint16_t kExfatDirectoryAttribute = 0x10;
static_assert(kStreamDataLength + 8 == kExfatEntrySize);

// One of the three times of a File entry as stored: the packed local date
// and time (2-second units), the 10 ms increment (0..199) and the UTC
// offset byte (bit 7: valid; bits 0-6: signed 15-minute steps).
struct ExfatTimestamp {
  std::uint32_t packed = 0;
  std::uint8_t increment10ms = 0;
  std::uint8_t utcOffset = 0;
};

// The time as a Windows FILETIME (100 ns units since 1601, UTC): with a valid
// UTC offset the local time is moved to UTC; without one it is taken as it
// stands. 0 for a packed value that is no date.
std::uint64_t exfatTimestampToFileTime(const ExfatTimestamp& time);

// A decoded file entry set.
struct ExfatEntrySet {
  std::u16string name;
  bool inUse = true;        // false: the deleted form of every entry
  bool directory = false;
  bool noFatChain = false;
  std::uint16_t attributes = 0;
  std::uint32_t firstCluster = 0;
  std::uint64_t validDataLength = 0;
  std::uint64_t dataLength = 0;
  ExfatTimestamp created, modified, accessed;
  std::size_t entries = 0;  // File entry and its secondaries
};

enum class EntrySetFault { None, NotAFileEntry, Truncated, BadSecondaryCount, BadStream, BadName, BadChecksum };

struct EntrySetOutcome {
  std::optional<ExfatEntrySet> set;
  EntrySetFault fault = EntrySetFault::None;
};

// The SetChecksum of the entries (32 * count bytes), each type byte taken
// with its in-use bit set, so that a deleted set checks as it did live.
std::uint16_t exfatSetChecksum(ByteSpan entries);

// Decodes the entry set that starts at offset (a File entry, in use or
// deleted). The secondary entries must follow in the same state, the name
// length must fit the name entries and the checksum must match; otherwise
// fault says what failed and set is empty.
EntrySetOutcome decodeExfatEntrySet(ByteSpan directory, std::size_t offset);

// The volume label of a 0x83 entry.
std::u16string decodeExfatVolumeLabel(ByteSpan entry);

}  // namespace dravolin
