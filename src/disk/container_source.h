#pragma once
// The SectorSource shared by every container library: the library reads
// bytes at an offset of the disk it holds, one request at a time.
#include <functional>
#include <mutex>

#include "disk/container_image.h"

namespace dravolin {

// What one library offers once a container is open.
class ContainerReader {
 public:
  virtual ~ContainerReader() = default;
  virtual std::uint64_t mediaSize() const = 0;
  // Reads size bytes at offset; false when the library reports an error.
  virtual bool readAt(std::uint64_t offset, std::byte* out, std::size_t size) = 0;
};

class ContainerSectorSource final : public SectorSource {
 public:
  ContainerSectorSource(std::unique_ptr<ContainerReader> reader, std::string path)
      : reader_(std::move(reader)), path_(std::move(path)), size_(reader_->mediaSize()) {}
  std::uint64_t sizeInBytes() const override { return size_; }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override;
  bool isImage() const override { return true; }
  std::string description() const override { return path_; }

 private:
  // The libraries' handles are not made for two readers at once (a
  // read-ahead and its worker).
  std::mutex mutex_;
  std::unique_ptr<ContainerReader> reader_;
  std::string path_;
  std::uint64_t size_;
};

// One per library, defined where the library was found at build time.
Result<std::unique_ptr<ContainerReader>> openEwfReader(const std::filesystem::path& path);
Result<std::unique_ptr<ContainerReader>> openQcowReader(const std::filesystem::path& path);
Result<std::unique_ptr<ContainerReader>> openVmdkReader(const std::filesystem::path& path);
Result<std::unique_ptr<ContainerReader>> openVhdiReader(const std::filesystem::path& path);

}  // namespace dravolin
