#include "disk/fault_injecting_source.h"

namespace dravolin {

bool FaultInjectingSource::touchesBad(SectorNumber first, std::uint32_t count) const {
  auto it = bad_.lower_bound(first);
  return it != bad_.end() && *it < first + count;
}

TransferStatus FaultInjectingSource::read(SectorNumber first, std::uint32_t count,
                                          std::span<std::byte> out) {
  ++readCalls_;
  if (touchesBad(first, count)) {
    // A failed transfer leaves garbage behind, never clean zeros.
    for (std::size_t i = 0; i < std::uint64_t{count} * kSectorSize && i < out.size(); ++i)
      out[i] = std::byte{0xEE};
    return TransferStatus::IoError;
  }
  return inner_.read(first, count, out);
}

TransferStatus FaultInjectingSource::write(SectorNumber first, std::uint32_t count,
                                           std::span<const std::byte> data) {
  if (touchesBad(first, count)) return TransferStatus::IoError;
  return inner_.write(first, count, data);
}

}  // namespace dravolin
