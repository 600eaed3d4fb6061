#include "disk/memory_source.h"

namespace dravolin {

TransferStatus MemorySectorSource::read(SectorNumber first, std::uint32_t count,
                                        std::span<std::byte> out) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (out.size() < bytes) return TransferStatus::IoError;
  if (first > sectorCount()) return TransferStatus::PastEnd;
  const std::uint64_t offset = first * kSectorSize;
  std::uint64_t available = offset < bytes_.size() ? bytes_.size() - offset : 0;
  std::uint64_t n = std::min(available, bytes);
  if (n > 0) std::memcpy(out.data(), bytes_.data() + offset, n);
  if (n < bytes) std::memset(out.data() + n, 0, bytes - n);
  return TransferStatus::Ok;
}

TransferStatus MemorySectorSource::write(SectorNumber first, std::uint32_t count,
                                         std::span<const std::byte> data) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  const std::uint64_t offset = first * kSectorSize;
  if (data.size() < bytes || offset > bytes_.size() || bytes > bytes_.size() - offset)
    return TransferStatus::IoError;
  std::memcpy(bytes_.data() + offset, data.data(), bytes);
  return TransferStatus::Ok;
}

}  // namespace dravolin
