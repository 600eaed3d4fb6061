// Any bytes as a disk with a protective MBR in front: the GPT header and
// entry checks, the backup fallback and the listing built on them must end,
// stay inside their buffers and read no more than the bounded entry array.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/memory_source.h"
#include "partition/gpt.h"
#include "partition/partition_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(data), reinterpret_cast<const std::byte*>(data) + size);
  // Whatever sector 0 held, it becomes a protective MBR, so every input
  // reaches the GPT reader.
  if (bytes.size() < 512) bytes.resize(512);
  bytes[446 + 4] = std::byte{dravolin::kProtectiveMbrType};
  bytes[510] = std::byte{0x55};
  bytes[511] = std::byte{0xAA};
  dravolin::MemorySectorSource source(std::move(bytes));
  dravolin::SectorReader reader(source);
  auto table = dravolin::readGpt(reader, source.sectorCount());
  if (table) {
    for (const auto& e : table->entries) {
      if (e.firstLba > e.lastLba || e.firstLba >= source.sectorCount()) __builtin_trap();
      (void)dravolin::gptTypeName(e.typeGuid);
    }
  }
  auto listing = dravolin::listPartitions(reader);
  for (const auto& p : listing.partitions) (void)p.label();
  return 0;
}
