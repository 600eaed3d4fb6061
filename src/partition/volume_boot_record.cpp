#include "partition/volume_boot_record.h"

namespace dravolin {
namespace {

constexpr std::size_t kOemIdField = 3;
constexpr std::size_t kSectorsPerClusterField = 13;
constexpr std::size_t kSmallSectorCountField = 19;
constexpr std::size_t kFatSectorCountField = 32;
constexpr std::size_t kNtfsSectorCountField = 40;
constexpr std::size_t kFat16TypeField = 54;
constexpr std::size_t kFat32TypeField = 82;
constexpr std::size_t kNtfsMftClusterField = 48;
constexpr std::size_t kNtfsMftMirrorClusterField = 56;
constexpr std::size_t kNtfsMftRecordSizeField = 64;
constexpr std::size_t kNtfsIndexRecordSizeField = 68;
constexpr std::size_t kTextLength = 8;
constexpr std::size_t kSignatureField = 510;

std::string textAt(ByteSpan sector, std::size_t offset) {
  if (!fitsIn(sector, offset, kTextLength)) return {};
  const auto bytes = sector.subspan(offset, kTextLength);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

bool hasBootSectorSignature(ByteSpan sector) {
  return fitsIn(sector, kSignatureField, 2) && readU8(sector, kSignatureField) == 0x55 &&
         readU8(sector, kSignatureField + 1) == 0xAA;
}

Result<VolumeBootRecord> parseVolumeBootRecord(ByteSpan sector) {
  if (sector.size() < kVolumeBootRecordSize)
    return makeError(ErrorKind::Corrupt, "volume boot record: " + std::to_string(sector.size()) + " bytes, " +
                                             std::to_string(kVolumeBootRecordSize) + " needed");
  VolumeBootRecord record;
  record.hasSignature = hasBootSectorSignature(sector);
  record.oemId = textAt(sector, kOemIdField);
  record.bytesPerSector = readU16(sector, 11);
  record.sectorsPerCluster = readU8(sector, kSectorsPerClusterField);
  record.smallSectorCount = readU16(sector, kSmallSectorCountField);
  record.fatSectorCount = readU32(sector, kFatSectorCountField);
  record.ntfsSectorCount = readU32(sector, kNtfsSectorCountField);
  record.fat16TypeText = textAt(sector, kFat16TypeField);
  record.fat32TypeText = textAt(sector, kFat32TypeField);
  record.ntfsMftCluster = readU64(sector, kNtfsMftClusterField);
  record.ntfsMftMirrorCluster = readU64(sector, kNtfsMftMirrorClusterField);
  record.ntfsMftRecordSize = readU32(sector, kNtfsMftRecordSizeField);
  record.ntfsIndexRecordSize = readU32(sector, kNtfsIndexRecordSizeField);
  return record;
}

}  // namespace dravolin
