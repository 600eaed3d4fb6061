// Any bytes as an NTFS volume: the boot sector, the MFT run list, record
// numbers to sectors and every file's runs through its attribute list must
// end and stay inside their buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/memory_source.h"
#include "ntfs/mft_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  if (size < kSectorSize || size > 4 * 1024 * 1024) return 0;
  MemorySectorSource source(std::vector<std::byte>(reinterpret_cast<const std::byte*>(data),
                                                   reinterpret_cast<const std::byte*>(data) + size));
  SectorReader reader(source);
  reader.setPolicy(BadSectorPolicy::SkipAll);
  auto boot = parseNtfsBootSector(readSectorOrZeros(reader, 0));
  if (!boot) return 0;
  auto geometry = makeNtfsGeometry(*boot, 0);
  if (!geometry) return 0;
  auto mft = LoadMftRunList(reader, *geometry);
  if (!mft) return 0;
  const std::uint64_t records = std::min<std::uint64_t>(mft->recordCount(*geometry), 64);
  for (std::uint64_t n = 0; n < records; ++n) {
    auto sector = MftNumberToSector(*mft, *geometry, n);
    if (!sector) continue;
    auto stream = ReadRecordRuns(reader, *geometry, *mft, *sector, n);
    if (!stream) continue;
    std::vector<std::byte> out(std::min<std::uint64_t>(stream->data_size, 64 * 1024));
    (void)readStreamRange(*stream, geometry->cluster_size, 0, out, makeClusterReader(reader, *geometry));
  }
  return 0;
}
