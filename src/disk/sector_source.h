#pragma once
// One interface over everything that holds sectors: block devices, raw image
// files, image sets, in-memory buffers and test wrappers.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace dravolin {

inline constexpr std::size_t kSectorSize = 512;
using SectorNumber = std::uint64_t;

enum class TransferStatus {
  Ok,       // every byte was transferred (bytes past the end of a file read as zeros)
  IoError,  // the medium failed
  PastEnd,  // the first sector lies beyond the end of the source
  Missing,  // the file that holds the sector does not exist (an image piece)
};

// Sectors of a source seen in place, without a copy, held in memory until
// the object goes away.
class MappedSectors {
 public:
  virtual ~MappedSectors() = default;
  std::span<const std::byte> bytes() const { return bytes_; }

 protected:
  std::span<const std::byte> bytes_;
};

class SectorSource {
 public:
  virtual ~SectorSource() = default;
  SectorSource() = default;
  SectorSource(const SectorSource&) = delete;
  SectorSource& operator=(const SectorSource&) = delete;

  // Size in bytes of the whole source.
  virtual std::uint64_t sizeInBytes() const = 0;
  // Number of sectors; a partial last sector counts as one.
  std::uint64_t sectorCount() const { return (sizeInBytes() + kSectorSize - 1) / kSectorSize; }

  // Reads count sectors into out (count * 512 bytes). On a status other than
  // Ok the contents of out are unspecified; the caller zero-fills.
  virtual TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) = 0;

  // Writes count sectors; only imaging targets are opened for writing.
  virtual TransferStatus write(SectorNumber first, std::uint32_t count,
                               std::span<const std::byte> data);

  // The sectors [first, first + count) in place, when the source can show
  // them so and every one of them is readable now (read() would return Ok
  // with the same bytes); nothing otherwise, and then read() tells.
  virtual std::unique_ptr<MappedSectors> map(SectorNumber /*first*/, std::uint32_t /*count*/) { return nullptr; }
  // Whether map() may succeed at all.
  virtual bool mapsInPlace() const { return false; }

  // True for image files and image sets (their own bad-sector rule applies to
  // reads beyond their end).
  virtual bool isImage() const { return false; }

  // Whether a transfer fails exactly when one of its sectors, read alone,
  // fails: then a reader that knows a transfer failed may go straight to
  // smaller reads. Not so for a split image whose later pieces may be
  // missing (a transfer into one reads as zeros).
  virtual bool failsBySector() const { return true; }

  // Human-readable name (path of the device or of the first file).
  virtual std::string description() const = 0;

  // The size of the medium's own sectors, in bytes: 512 or 4,096 (a USB
  // enclosure or a newer drive). Sector numbers stay 512-byte units
  // whatever it is; partition tables and boot sectors that count in the
  // medium's sectors are converted with it, and a failing logical sector
  // fails all the 512-byte units it holds.
  virtual std::uint32_t logicalSectorSize() const { return kDefaultLogicalSectorSize; }
  // Takes the size as the user forces it (512 or 4,096); sources that
  // cannot hold another size ignore it.
  virtual void setLogicalSectorSize(std::uint32_t /*bytes*/) {}
  // 512-byte units in one logical sector (1 or 8).
  std::uint32_t unitsPerLogicalSector() const {
    const std::uint32_t size = logicalSectorSize();
    return size > kSectorSize ? size / static_cast<std::uint32_t>(kSectorSize) : 1;
  }

  static constexpr std::uint32_t kDefaultLogicalSectorSize = 512;
};

// Whether bytes is a logical sector size the program reads: 512, 1,024,
// 2,048 or 4,096.
constexpr bool isSupportedLogicalSectorSize(std::uint64_t bytes) {
  return bytes >= 512 && bytes <= 4096 && (bytes & (bytes - 1)) == 0;
}

}  // namespace dravolin
