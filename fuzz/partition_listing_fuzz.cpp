// Any bytes as a disk: the partition walk and the volume checks must end
// and stay inside their buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/volume_check.h"
#include "disk/memory_source.h"
#include "partition/partition_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(data), reinterpret_cast<const std::byte*>(data) + size);
  dravolin::MemorySectorSource source(std::move(bytes));
  dravolin::SectorReader reader(source);
  auto listing = dravolin::listPartitions(reader);
  for (const auto& p : listing.partitions) {
    (void)dravolin::checkVolume(reader, p.fileSystem, p.start, p.end);
  }
  using dravolin::FsType;
  for (FsType type : {FsType::Fat12, FsType::Fat16, FsType::Fat32, FsType::Ntfs}) {
    (void)dravolin::checkVolume(reader, type, 0, source.sectorCount());
  }
  return 0;
}
