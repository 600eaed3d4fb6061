#pragma once
// A block device or a raw image file, read with pread at 64-bit offsets
// through one handle kept open for the life of the object.
//
// A block device opened for reading is read with O_DIRECT: through the page
// cache a failing sector fails its whole page or read-ahead window, so one
// bad sector would cost hundreds of good ones. Direct transfers need the
// buffer, the offset and the length aligned to the device's logical block;
// a request that is not is read through an aligned buffer kept here and
// copied out (a 512-byte request on a 4096-byte device reads the block that
// holds it). Image files stay buffered: they are served from the page cache
// and mapped in place.
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
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
  // A block device's own (BLKSSZGET); an image file's as its partition
  // table or boot sector shows it (disk/logical_sector_size.h).
  std::uint32_t logicalSectorSize() const override { return logicalSectorSize_; }
  void setLogicalSectorSize(std::uint32_t bytes) override {
    if (isSupportedLogicalSectorSize(bytes)) logicalSectorSize_ = bytes;
  }
  bool isBlockDevice() const { return blockDevice_; }
  int descriptor() const { return fd_; }
  // Whether reads bypass the page cache, and the alignment they need then
  // (the device's logical block size; 0 when buffered).
  bool readsDirect() const { return directAlign_ != 0; }
  std::size_t directAlignment() const { return directAlign_; }

 private:
  FileSectorSource(int fd, std::string path, std::uint64_t size, bool blockDevice, bool image)
      : fd_(fd), path_(std::move(path)), size_(size), blockDevice_(blockDevice), image_(image) {}
  void tryDirect();
  void stopDirect();
  // pread until bytes are in or the end is met (the rest is zeroed);
  // *refused is set when the first transfer was refused as not aligned.
  TransferStatus readFully(std::byte* out, std::uint64_t bytes, std::uint64_t offset, bool* refused = nullptr);
  TransferStatus readDirect(std::uint64_t offset, std::uint64_t bytes, std::span<std::byte> out,
                            std::uint64_t align, bool& refused);
  int fd_;
  std::string path_;
  std::uint64_t size_;
  bool blockDevice_;
  bool image_;
  std::atomic<std::size_t> directAlign_{0};
  std::uint32_t logicalSectorSize_ = kDefaultLogicalSectorSize;
  // The aligned buffer for direct requests that are not aligned; reads may
  // come from two threads (a read-ahead and its worker), so it is shared
  // under a lock.
  struct FreeDeleter {
    void operator()(std::byte* p) const { std::free(p); }
  };
  std::mutex bounceMutex_;
  std::unique_ptr<std::byte, FreeDeleter> bounce_;
  std::size_t bounceSize_ = 0;
};

}  // namespace dravolin
