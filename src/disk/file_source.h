#pragma once
// A block device or a raw image file, read with pread at 64-bit offsets
// through one handle kept open for the life of the object.
#include <memory>
#include <string>

#include "common/error.h"
#include "disk/sector_source.h"

namespace dravolin {

enum class OpenMode { ReadOnly, ReadWrite };

class FileSectorSource final : public SectorSource {
 public:
  // Opens path; ReadWrite is only for imaging targets.
  static Result<std::unique_ptr<FileSectorSource>> open(const std::string& path,
                                                        OpenMode mode = OpenMode::ReadOnly,
                                                        bool treatAsImage = false);
  // Takes over an open descriptor (one handed over by UDisks2, say); it is
  // closed on failure too.
  static Result<std::unique_ptr<FileSectorSource>> adopt(int fd, const std::string& path, bool treatAsImage = false);
  ~FileSectorSource() override;

  std::uint64_t sizeInBytes() const override { return size_; }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override;
  TransferStatus write(SectorNumber first, std::uint32_t count,
                       std::span<const std::byte> data) override;
  // Image files only, and only while every page of the stretch is in
  // memory already (a warm page cache): nothing is copied then.
  std::unique_ptr<MappedSectors> map(SectorNumber first, std::uint32_t count) override;
  bool mapsInPlace() const override { return !blockDevice_; }
  bool isImage() const override { return image_; }
  std::string description() const override { return path_; }
  bool isBlockDevice() const { return blockDevice_; }
  int descriptor() const { return fd_; }

 private:
  FileSectorSource(int fd, std::string path, std::uint64_t size, bool blockDevice, bool image)
      : fd_(fd), path_(std::move(path)), size_(size), blockDevice_(blockDevice), image_(image) {}
  int fd_;
  std::string path_;
  std::uint64_t size_;
  bool blockDevice_;
  bool image_;
};

}  // namespace dravolin
