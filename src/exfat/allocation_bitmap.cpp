#include "exfat/allocation_bitmap.h"

#include "exfat/fat_table.h"

namespace dravolin {

std::optional<bool> isExfatClusterInUse(ByteSpan bitmap, std::uint32_t cluster, std::uint32_t clusterCount) {
  if (cluster < kExfatFirstCluster || cluster - kExfatFirstCluster >= clusterCount) return std::nullopt;
  const std::uint32_t bit = cluster - kExfatFirstCluster;
  const auto byte = fieldU8(bitmap, bit / 8);
  if (!byte) return std::nullopt;
  return ((*byte >> (bit % 8)) & 1) != 0;
}

bool areExfatClustersFree(ByteSpan bitmap, std::uint32_t first, std::uint64_t count, std::uint32_t clusterCount) {
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t cluster = std::uint64_t{first} + i;
    if (cluster > 0xFFFFFFFFu) return false;
    const auto used = isExfatClusterInUse(bitmap, static_cast<std::uint32_t>(cluster), clusterCount);
    if (!used || *used) return false;
  }
  return true;
}

}  // namespace dravolin
