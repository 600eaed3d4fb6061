#pragma once
// The exFAT up-case table: the upper-case form of UTF-16 code units, as the
// volume compares names. Stored compressed: a 0xFFFF unit is followed by the
// count of code units that map to themselves.
#include <cstdint>
#include <vector>

#include "common/byte_reader.h"

namespace dravolin {

// The checksum the up-case table's directory entry holds (over its bytes).
std::uint32_t exfatTableChecksum(ByteSpan table);

// The table expanded to one entry per code unit (at most 65,536); units the
// table does not reach map to themselves.
std::vector<char16_t> expandExfatUpcaseTable(ByteSpan table);

}  // namespace dravolin
