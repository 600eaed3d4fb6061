#include "disk/logical_sector_size.h"

#include <array>
#include <cstring>
#include <vector>

namespace dravolin {
namespace {

constexpr std::uint32_t k4K = 4096;
// Bytes looked at from the start: the GPT header of a 4,096-byte disk
// lies at 4,096.
constexpr std::size_t kStartBytes = 2 * k4K;

// Fields of a boot sector and of the MBR's partition entries.
constexpr std::size_t kBytesPerSectorField = 11;
constexpr std::size_t kSectorsPerClusterField = 13;
constexpr std::size_t kSignatureField = 510;
constexpr std::size_t kPartitionTable = 446;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryType = 4;
constexpr std::size_t kEntryFirstSector = 8;

std::uint32_t u8(std::span<const std::byte> b, std::size_t at) { return std::to_integer<std::uint32_t>(b[at]); }
std::uint32_t u16(std::span<const std::byte> b, std::size_t at) { return u8(b, at) | (u8(b, at + 1) << 8); }
std::uint32_t u32(std::span<const std::byte> b, std::size_t at) { return u16(b, at) | (u16(b, at + 2) << 16); }

bool hasSignature(std::span<const std::byte> sector) {
  return sector.size() >= kSectorSize && u8(sector, kSignatureField) == 0x55 && u8(sector, kSignatureField + 1) == 0xAA;
}

bool gptHeaderAt(std::span<const std::byte> start, std::size_t at) {
  return start.size() >= at + 8 && std::memcmp(start.data() + at, "EFI PART", 8) == 0;
}

// One 512-byte unit of the source, when it reads.
bool readUnit(SectorSource& source, SectorNumber unit, std::array<std::byte, kSectorSize>& out) {
  if (unit >= source.sectorCount()) return false;
  return source.read(unit, 1, out) == TransferStatus::Ok;
}

}  // namespace

std::uint32_t bootSectorBytesPerSector(std::span<const std::byte> sector) {
  if (!hasSignature(sector)) return 0;
  const std::uint32_t jump = u8(sector, 0);
  if (jump != 0xEB && jump != 0xE9) return 0;
  const std::uint32_t bytes = u16(sector, kBytesPerSectorField);
  if (!isSupportedLogicalSectorSize(bytes) || u8(sector, kSectorsPerClusterField) == 0) return 0;
  return bytes;
}

std::uint32_t logicalSectorSizeFromStart(std::span<const std::byte> start) {
  if (gptHeaderAt(start, kSectorSize)) return kSectorSize;
  if (gptHeaderAt(start, k4K)) return k4K;
  const std::uint32_t boot = bootSectorBytesPerSector(start);
  if (boot == k4K) return k4K;
  if (boot != 0) return kSectorSize;
  return 0;
}

std::uint32_t detectLogicalSectorSize(SectorSource& source) {
  std::vector<std::byte> start(kStartBytes);
  const auto units = static_cast<std::uint32_t>(std::min<std::uint64_t>(kStartBytes / kSectorSize, source.sectorCount()));
  if (units == 0 || source.read(0, units, start) != TransferStatus::Ok) return kSectorSize;
  if (const std::uint32_t found = logicalSectorSizeFromStart(start); found != 0) return found;
  if (!hasSignature(start)) return kSectorSize;
  // An MBR: the first partition whose start holds a boot sector, counted
  // in 512-byte or in 4,096-byte sectors, tells which.
  std::array<std::byte, kSectorSize> boot{};
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t entry = kPartitionTable + i * kEntrySize;
    const std::uint32_t type = u8(start, entry + kEntryType);
    const std::uint64_t first = u32(start, entry + kEntryFirstSector);
    if (type == 0 || type == 0xEE || type == 0x05 || type == 0x0F || type == 0x85 || first == 0) continue;
    if (readUnit(source, first, boot) && bootSectorBytesPerSector(boot) == kSectorSize) return kSectorSize;
    if (readUnit(source, first * (k4K / kSectorSize), boot) && bootSectorBytesPerSector(boot) == k4K) return k4K;
  }
  return kSectorSize;
}

}  // namespace dravolin
