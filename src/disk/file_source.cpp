#include "disk/file_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "disk/logical_sector_size.h"

namespace dravolin {

Result<std::unique_ptr<FileSectorSource>> FileSectorSource::open(const std::string& path,
                                                                 OpenMode mode, bool treatAsImage) {
  int flags = (mode == OpenMode::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) return makeError(ErrorKind::Io, path + ": " + std::strerror(errno));
  return adopt(fd, path, treatAsImage);
}

Result<std::unique_ptr<FileSectorSource>> FileSectorSource::adopt(int fd, const std::string& path, bool treatAsImage) {
  struct stat st{};
  if (fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return makeError(ErrorKind::Io, path + ": " + std::strerror(e));
  }
  std::uint64_t size = 0;
  bool block = S_ISBLK(st.st_mode);
  if (block) {
    if (ioctl(fd, BLKGETSIZE64, &size) != 0) {
      int e = errno;
      ::close(fd);
      return makeError(ErrorKind::Io, path + ": cannot read the size: " + std::strerror(e));
    }
  } else if (S_ISREG(st.st_mode)) {
    size = static_cast<std::uint64_t>(st.st_size);
  } else {
    ::close(fd);
    return makeError(ErrorKind::InvalidArgument, path + ": not a disk or an image file");
  }
  std::unique_ptr<FileSectorSource> source(new FileSectorSource(fd, path, size, block, treatAsImage && !block));
  if (block) {
    if (int logical = 0; ::ioctl(fd, BLKSSZGET, &logical) == 0 && isSupportedLogicalSectorSize(static_cast<std::uint64_t>(logical)))
      source->logicalSectorSize_ = static_cast<std::uint32_t>(logical);
    source->tryDirect();
  } else if ((::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY) {
    // An image file being read: the layout it was made with.
    source->logicalSectorSize_ = detectLogicalSectorSize(*source);
  }
  return source;
}

// Read-only block devices only: an imaging target is written as before.
void FileSectorSource::tryDirect() {
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY) return;
  int logical = 0;
  if (::ioctl(fd_, BLKSSZGET, &logical) != 0 || logical < static_cast<int>(kSectorSize) ||
      (logical & (logical - 1)) != 0)
    return;
  // Some devices refuse direct transfers: they are read buffered.
  if ((flags & O_DIRECT) == 0 && ::fcntl(fd_, F_SETFL, flags | O_DIRECT) != 0) return;
  directAlign_ = static_cast<std::size_t>(logical);
}

void FileSectorSource::stopDirect() {
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd_, F_SETFL, flags & ~O_DIRECT);
  directAlign_ = 0;
}

FileSectorSource::~FileSectorSource() { ::close(fd_); }

namespace {

class FileMapping final : public MappedSectors {
 public:
  FileMapping(void* base, std::size_t length, std::size_t skip, std::size_t bytes) : base_(base), length_(length) {
    bytes_ = {static_cast<const std::byte*>(base) + skip, bytes};
  }
  ~FileMapping() override { ::munmap(base_, length_); }

 private:
  void* base_;
  std::size_t length_;
};

}  // namespace

std::unique_ptr<MappedSectors> FileSectorSource::map(SectorNumber first, std::uint32_t count) {
  // Whole sectors inside the file only: what read() pads with zeros is not
  // in the file to be mapped.
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (blockDevice_ || count == 0 || first > size_ / kSectorSize || bytes > size_ - first * kSectorSize) return nullptr;
  static const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t offset = first * kSectorSize;
  const std::uint64_t start = offset / page * page;
  const std::size_t length = static_cast<std::size_t>(offset - start + bytes);
  void* base = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(start));
  if (base == MAP_FAILED) return nullptr;
  auto mapping = std::make_unique<FileMapping>(base, length, static_cast<std::size_t>(offset - start),
                                               static_cast<std::size_t>(bytes));
  // Only pages already in memory are looked at in place: touching a page
  // that has to come from the medium, and cannot, would end the process,
  // where read() reports the error. So a stretch with any page out of
  // memory is read the plain way (which also brings it in).
  // Looked at a piece at a time, so that a large range costs no more memory
  // than a small one and the look ends at the first page out of memory.
  constexpr std::size_t kPiecePages = 4096;
  unsigned char resident[kPiecePages];
  const std::size_t pages = static_cast<std::size_t>((length + page - 1) / page);
  for (std::size_t at = 0; at < pages; at += kPiecePages) {
    const std::size_t n = std::min(kPiecePages, pages - at);
    const std::size_t pieceLength = std::min<std::size_t>(n * page, length - at * page);
    if (::mincore(static_cast<char*>(base) + at * page, pieceLength, resident) != 0) return nullptr;
    for (std::size_t i = 0; i < n; ++i)
      if ((resident[i] & 1) == 0) return nullptr;
  }
  return mapping;
}

TransferStatus FileSectorSource::readFully(std::byte* out, std::uint64_t bytes, std::uint64_t offset,
                                           bool* refused) {
  std::uint64_t done = 0;
  while (done < bytes) {
    if (offset + done >= size_) break;  // the rest lies beyond the end: zeros
    ssize_t n = ::pread(fd_, out + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (refused && errno == EINVAL && done == 0) *refused = true;
      return TransferStatus::IoError;
    }
    if (n == 0) break;
    done += static_cast<std::uint64_t>(n);
  }
  if (done < bytes) std::memset(out + done, 0, bytes - done);
  return TransferStatus::Ok;
}

TransferStatus FileSectorSource::readDirect(std::uint64_t offset, std::uint64_t bytes, std::span<std::byte> out,
                                            std::uint64_t align, bool& refused) {
  // Only what lies inside the device is transferred; the rest reads as zeros.
  const std::uint64_t inside = offset >= size_ ? 0 : std::min(bytes, size_ - offset);
  if (inside < bytes) std::memset(out.data() + inside, 0, bytes - inside);
  if (inside == 0) return TransferStatus::Ok;
  if (reinterpret_cast<std::uintptr_t>(out.data()) % align == 0 && offset % align == 0 && inside % align == 0)
    return readFully(out.data(), inside, offset, &refused);
  // Not aligned: the aligned blocks that hold the request, through the
  // source's own buffer.
  const std::uint64_t start = offset / align * align;
  const std::uint64_t end = (offset + inside + align - 1) / align * align;
  const auto length = static_cast<std::size_t>(end - start);
  std::lock_guard lock(bounceMutex_);
  if (bounceSize_ < length) {
    void* memory = nullptr;
    if (::posix_memalign(&memory, std::max<std::size_t>(align, 4096), length) != 0) return TransferStatus::IoError;
    bounce_.reset(static_cast<std::byte*>(memory));
    bounceSize_ = length;
  }
  const TransferStatus status = readFully(bounce_.get(), length, start, &refused);
  if (status != TransferStatus::Ok) return status;
  std::memcpy(out.data(), bounce_.get() + (offset - start), static_cast<std::size_t>(inside));
  return TransferStatus::Ok;
}

TransferStatus FileSectorSource::read(SectorNumber first, std::uint32_t count,
                                      std::span<std::byte> out) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (out.size() < bytes) return TransferStatus::IoError;
  if (first > size_ / kSectorSize + (size_ % kSectorSize ? 1 : 0)) return TransferStatus::PastEnd;
  const std::uint64_t offset = first * kSectorSize;
  if (const std::size_t align = directAlign_.load(std::memory_order_relaxed); align != 0) {
    bool refused = false;
    const TransferStatus status = readDirect(offset, bytes, out, align, refused);
    if (!refused) return status;
    // The device took the flag but refuses direct transfers (EINVAL):
    // buffered from now on.
    stopDirect();
  }
  return readFully(out.data(), bytes, offset);
}

TransferStatus FileSectorSource::write(SectorNumber first, std::uint32_t count,
                                       std::span<const std::byte> data) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (data.size() < bytes) return TransferStatus::IoError;
  const std::uint64_t offset = first * kSectorSize;
  if (blockDevice_ && (offset > size_ || bytes > size_ - offset)) return TransferStatus::PastEnd;
  std::uint64_t done = 0;
  while (done < bytes) {
    ssize_t n = ::pwrite(fd_, data.data() + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return TransferStatus::IoError;
    }
    if (n == 0) return TransferStatus::IoError;
    done += static_cast<std::uint64_t>(n);
  }
  if (!blockDevice_ && offset + bytes > size_) size_ = offset + bytes;
  return TransferStatus::Ok;
}

}  // namespace dravolin
