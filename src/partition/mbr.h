#pragma once
// The partition record of sector 0 and of each extended boot record: four
// 16-byte entries from offset 446 and the 0x55 0xAA signature.
#include <cstdint>
#include <vector>

#include "common/byte_reader.h"
#include "common/error.h"

namespace dravolin {

struct PartitionRecordEntry {
  std::uint8_t bootIndicator = 0;  // 0x80 for the active partition
  std::uint8_t type = 0;
  std::uint32_t firstSector = 0;  // as on disk: relative to the record's base
  std::uint32_t sectorCount = 0;
};

inline constexpr std::size_t kPartitionTableOffset = 446;
inline constexpr std::size_t kPartitionEntrySize = 16;
inline constexpr std::size_t kPartitionRecordEntries = 4;
static_assert(kPartitionTableOffset + kPartitionRecordEntries * kPartitionEntrySize + 2 == 512);

// True when byte 510 is 0x55 or byte 511 is 0xAA (either alone suffices).
bool hasBootRecordSignature(ByteSpan sector);

// One 16-byte entry. NotFound for an unused slot (type 0); Corrupt when the
// bytes do not hold a whole entry.
[[nodiscard]] Result<PartitionRecordEntry> parsePartitionEntry(ByteSpan entry);

// The used entries of a record sector in slot order; the signature is not
// required (an extended boot record is walked without it). Corrupt when the
// buffer is too short to hold the table.
[[nodiscard]] Result<std::vector<PartitionRecordEntry>> parsePartitionRecord(ByteSpan sector);

inline bool isExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F; }

}  // namespace dravolin
