// Any bytes as the start of an exFAT volume: the boot region readers and
// the lost-partition examiner must stay inside the buffer and never trust a
// field they did not check.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/memory_source.h"
#include "disk/sector_reader.h"
#include "exfat/exfat_volume.h"
#include "exfat/lost_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  const ByteSpan bytes(reinterpret_cast<const std::byte*>(data), size);
  (void)parseExfatBootSector(bytes);
  (void)geometryFromBootRegion(bytes, 0);
  for (std::uint32_t unit : {512u, 4096u}) (void)hasValidBootChecksum(bytes, unit);
  ExfatLostExaminer examiner;
  examiner.examine(bytes, 0);
  (void)examiner.finish([&](std::uint64_t sector) -> std::optional<std::uint32_t> {
    if (sector > size / 512) return std::nullopt;
    return readU32(bytes, static_cast<std::size_t>(sector * 512));
  });
  MemorySectorSource source(std::vector<std::byte>(bytes.begin(), bytes.end()));
  SectorReader reader(source);
  (void)readExfatGeometry(reader, 0);
  (void)checkExfatVolume(reader, 0);
  return 0;
}
