#pragma once
// $STANDARD_INFORMATION: the times and DOS attributes of a file. Times are
// FILETIMEs (100 ns since 1601, UTC).
#include <cstdint>

#include "common/byte_reader.h"
#include "common/error.h"
#include "ntfs/mft_record.h"

namespace dravolin {

struct StandardInformation {
  std::uint64_t creation_time = 0;
  std::uint64_t modification_time = 0;
  std::uint64_t mft_change_time = 0;
  std::uint64_t access_time = 0;
  std::uint32_t file_attributes = 0;
};

// Decodes the attribute value (at least 36 bytes). NotFound when shorter.
[[nodiscard]] Result<StandardInformation> parseStandardInformation(ByteSpan value);

// The record's resident $STANDARD_INFORMATION.
[[nodiscard]] Result<StandardInformation> readStandardInformation(const MftRecord& record);

}  // namespace dravolin
