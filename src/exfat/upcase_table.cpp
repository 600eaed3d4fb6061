#include "exfat/upcase_table.h"

namespace dravolin {

std::uint32_t exfatTableChecksum(ByteSpan table) {
  std::uint32_t checksum = 0;
  for (std::byte b : table)
    checksum = ((checksum & 1) ? 0x80000000u : 0u) + (checksum >> 1) + static_cast<std::uint8_t>(b);
  return checksum;
}

std::vector<char16_t> expandExfatUpcaseTable(ByteSpan table) {
  constexpr std::size_t kUnits = 0x10000;
  std::vector<char16_t> map;
  map.reserve(kUnits);
  for (std::size_t at = 0; at + 1 < table.size() && map.size() < kUnits; at += 2) {
    const std::uint16_t unit = readU16(table, at);
    if (unit == 0xFFFF && at + 3 < table.size()) {
      at += 2;
      const std::size_t skip = readU16(table, at);
      for (std::size_t i = 0; i < skip && map.size() < kUnits; ++i) map.push_back(static_cast<char16_t>(map.size()));
      continue;
    }
    map.push_back(static_cast<char16_t>(unit));
  }
  while (map.size() < kUnits) map.push_back(static_cast<char16_t>(map.size()));
  return map;
}

}  // namespace dravolin
