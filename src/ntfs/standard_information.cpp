#include "ntfs/standard_information.h"

#include "ntfs/attribute.h"

namespace dravolin {

Result<StandardInformation> parseStandardInformation(ByteSpan value) {
  if (value.size() < 36) return makeError(ErrorKind::NotFound, "standard information too short");
  StandardInformation info;
  info.creation_time = readU64(value, 0);
  info.modification_time = readU64(value, 8);
  info.mft_change_time = readU64(value, 16);
  info.access_time = readU64(value, 24);
  info.file_attributes = readU32(value, 32);
  return info;
}

Result<StandardInformation> readStandardInformation(const MftRecord& record) {
  auto attribute = findAttribute(record, AttributeType::StandardInformation);
  if (!attribute) return std::unexpected(attribute.error());
  if (attribute->non_resident) return makeError(ErrorKind::NotFound, "standard information not resident");
  return parseStandardInformation(attribute->value);
}

}  // namespace dravolin
