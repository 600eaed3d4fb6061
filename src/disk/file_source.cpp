#include "disk/file_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
  return std::unique_ptr<FileSectorSource>(
      new FileSectorSource(fd, path, size, block, treatAsImage && !block));
}

FileSectorSource::~FileSectorSource() { ::close(fd_); }

TransferStatus FileSectorSource::read(SectorNumber first, std::uint32_t count,
                                      std::span<std::byte> out) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (out.size() < bytes) return TransferStatus::IoError;
  if (first > size_ / kSectorSize + (size_ % kSectorSize ? 1 : 0)) return TransferStatus::PastEnd;
  const std::uint64_t offset = first * kSectorSize;
  std::uint64_t done = 0;
  while (done < bytes) {
    if (offset + done >= size_) break;  // the rest lies beyond the end: zeros
    ssize_t n = ::pread(fd_, out.data() + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return TransferStatus::IoError;
    }
    if (n == 0) break;
    done += static_cast<std::uint64_t>(n);
  }
  if (done < bytes) std::memset(out.data() + done, 0, bytes - done);
  return TransferStatus::Ok;
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
