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
    {
      std::lock_guard lock(readsMutex_);
      for (auto it = bad_.lower_bound(first); it != bad_.end() && *it < first + count; ++it) ++reads_[*it];
    }
    // A failed transfer leaves garbage behind, never clean zeros.
    for (std::size_t i = 0; i < std::uint64_t{count} * kSectorSize && i < out.size(); ++i)
      out[i] = std::byte{0xEE};
    return TransferStatus::IoError;
  }
  return inner_.read(first, count, out);
}

std::uint64_t FaultInjectingSource::readsOf(SectorNumber badSector) const {
  std::lock_guard lock(readsMutex_);
  auto it = reads_.find(badSector);
  return it == reads_.end() ? 0 : it->second;
}

TransferStatus FaultInjectingSource::write(SectorNumber first, std::uint32_t count,
                                           std::span<const std::byte> data) {
  if (touchesBad(first, count)) return TransferStatus::IoError;
  return inner_.write(first, count, data);
}

}  // namespace dravolin
