#pragma once
// The partition record of sector 0 and of each extended boot record: four
// 16-byte entries from offset 446 and the 0x55 0xAA signature.
#include <array>
#include <cstdint>

#include "common/byte_reader.h"

namespace dravolin {

struct PartitionRecordEntry {
  std::uint8_t type = 0;
  std::uint32_t firstSector = 0;  // as on disk: relative to the record's base
  std::uint32_t sectorCount = 0;
};

inline constexpr std::size_t kPartitionTableOffset = 446;
inline constexpr std::size_t kPartitionEntrySize = 16;
static_assert(kPartitionTableOffset + 4 * kPartitionEntrySize + 2 == 512);

// True when byte 510 is 0x55 or byte 511 is 0xAA (either alone suffices).
bool hasBootRecordSignature(ByteSpan sector);
// True only when both signature bytes are there (boot sectors of volumes).
bool hasBootSectorSignature(ByteSpan sector);

std::array<PartitionRecordEntry, 4> parsePartitionRecord(ByteSpan sector);

inline bool isExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F; }

}  // namespace dravolin
