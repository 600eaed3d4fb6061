#pragma once
// A source over a buffer in memory, for tests and fuzzing.
#include <cstring>
#include <vector>

#include "disk/sector_source.h"

namespace dravolin {

class MemorySectorSource final : public SectorSource {
 public:
  explicit MemorySectorSource(std::vector<std::byte> bytes, bool image = false)
      : bytes_(std::move(bytes)), image_(image) {}
  explicit MemorySectorSource(std::size_t sectors) : bytes_(sectors * kSectorSize) {}

  std::uint64_t sizeInBytes() const override { return bytes_.size(); }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override;
  TransferStatus write(SectorNumber first, std::uint32_t count,
                       std::span<const std::byte> data) override;
  bool isImage() const override { return image_; }
  std::string description() const override { return "memory"; }
  std::uint32_t logicalSectorSize() const override { return logicalSectorSize_; }
  void setLogicalSectorSize(std::uint32_t bytes) override {
    if (isSupportedLogicalSectorSize(bytes)) logicalSectorSize_ = bytes;
  }

  std::vector<std::byte>& bytes() { return bytes_; }
  // Access to one sector for building test structures.
  std::span<std::byte> sector(SectorNumber n) {
    return std::span<std::byte>(bytes_).subspan(n * kSectorSize, kSectorSize);
  }

 private:
  std::vector<std::byte> bytes_;
  bool image_ = false;
  std::uint32_t logicalSectorSize_ = kDefaultLogicalSectorSize;
};

}  // namespace dravolin
