#include "partition/mbr.h"

namespace dravolin {
namespace {

// The signature bytes at the end of a record sector.
constexpr std::size_t kSignatureOffset = 510;

// Fields of one entry, relative to its first byte.
constexpr std::size_t kBootIndicatorField = 0;
constexpr std::size_t kTypeField = 4;
constexpr std::size_t kFirstSectorField = 8;
constexpr std::size_t kSectorCountField = 12;

}  // namespace

bool hasBootRecordSignature(ByteSpan sector) {
  return readU8(sector, kSignatureOffset) == 0x55 || readU8(sector, kSignatureOffset + 1) == 0xAA;
}

Result<PartitionRecordEntry> parsePartitionEntry(ByteSpan entry) {
  const auto bootIndicator = fieldU8(entry, kBootIndicatorField);
  const auto type = fieldU8(entry, kTypeField);
  const auto firstSector = fieldU32(entry, kFirstSectorField);
  const auto sectorCount = fieldU32(entry, kSectorCountField);
  if (!bootIndicator || !type || !firstSector || !sectorCount)
    return makeError(ErrorKind::Corrupt, "partition entry: " + std::to_string(entry.size()) + " bytes, " +
                                             std::to_string(kPartitionEntrySize) + " needed");
  if (*type == 0x00) return makeError(ErrorKind::NotFound, "unused partition entry");
  return PartitionRecordEntry{*bootIndicator, *type, *firstSector, *sectorCount};
}

Result<std::vector<PartitionRecordEntry>> parsePartitionRecord(ByteSpan sector) {
  if (!fitsIn(sector, kPartitionTableOffset, kPartitionRecordEntries * kPartitionEntrySize))
    return makeError(ErrorKind::Corrupt, "partition record: " + std::to_string(sector.size()) +
                                             " bytes do not hold the partition table");
  std::vector<PartitionRecordEntry> entries;
  for (std::size_t i = 0; i < kPartitionRecordEntries; ++i) {
    auto entry = parsePartitionEntry(sector.subspan(kPartitionTableOffset + i * kPartitionEntrySize, kPartitionEntrySize));
    if (entry) entries.push_back(*entry);
  }
  return entries;
}

}  // namespace dravolin
