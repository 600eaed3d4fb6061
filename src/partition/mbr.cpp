#include "partition/mbr.h"

namespace dravolin {

bool hasBootRecordSignature(ByteSpan sector) {
  return readU8(sector, 510) == 0x55 || readU8(sector, 511) == 0xAA;
}

bool hasBootSectorSignature(ByteSpan sector) {
  return readU8(sector, 510) == 0x55 && readU8(sector, 511) == 0xAA;
}

std::array<PartitionRecordEntry, 4> parsePartitionRecord(ByteSpan sector) {
  std::array<PartitionRecordEntry, 4> entries{};
  for (std::size_t i = 0; i < 4; ++i) {
    std::size_t at = kPartitionTableOffset + i * kPartitionEntrySize;
    entries[i].type = readU8(sector, at + 4);
    entries[i].firstSector = readU32(sector, at + 8);
    entries[i].sectorCount = readU32(sector, at + 12);
  }
  return entries;
}

}  // namespace dravolin
