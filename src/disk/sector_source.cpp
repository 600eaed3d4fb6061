#include "disk/sector_source.h"

namespace dravolin {

TransferStatus SectorSource::write(SectorNumber, std::uint32_t, std::span<const std::byte>) {
  return TransferStatus::IoError;
}

}  // namespace dravolin
