#include "imaging/image_pieces.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "disk/image_set.h"
#include "disk/sector_source.h"

namespace dravolin {
namespace fs = std::filesystem;

namespace {

std::string describeErrno(const fs::path& path, int error) {
  return path.string() + ": " + std::strerror(error);
}

// A file left read-only by an earlier run is made writable again, as the
// pieces are ours to replace.
void makeWritable(const fs::path& path) {
  std::error_code ec;
  auto status = fs::symlink_status(path, ec);
  if (ec || !fs::is_regular_file(status)) return;
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
}

}  // namespace

ImagePieceWriter::~ImagePieceWriter() {
  if (fd_ >= 0) ::close(fd_);
}

Result<void> ImagePieceWriter::createNext() {
  if (auto closed = close(); !closed) return closed;
  fs::path path = imageFileName(destination_, pieces_.size(), keepName_);
  if (overwrite_) makeWritable(path);
  const int mode = resume_ ? 0 : overwrite_ ? O_TRUNC : O_EXCL;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode, 0644);
  if (fd < 0 && errno == EEXIST)
    return makeError(ErrorKind::Io, path.string() +
                                        ": the file already exists (another copy may be writing it); it is "
                                        "replaced only when overwriting is asked for");
  if (fd < 0) return makeError(ErrorKind::Io, describeErrno(path, errno));
  fd_ = fd;
  pieces_.push_back(std::move(path));
  return {};
}

Result<void> ImagePieceWriter::write(std::uint64_t sectorInPiece, std::span<const std::byte> data) {
  if (fd_ < 0) return makeError(ErrorKind::InvalidArgument, "no image piece is open");
  const std::uint64_t offset = sectorInPiece * kSectorSize;
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return makeError(ErrorKind::Io, describeErrno(pieces_.back(), errno));
    }
    if (n == 0) return makeError(ErrorKind::Io, describeErrno(pieces_.back(), ENOSPC));
    done += static_cast<std::size_t>(n);
  }
  return {};
}

Result<void> ImagePieceWriter::close() {
  if (fd_ < 0) return {};
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return makeError(ErrorKind::Io, describeErrno(pieces_.back(), errno));
  return {};
}

fs::path imageFileName(const fs::path& destination, std::uint64_t n, bool keepName) {
  if (keepName && n == 0) return destination;
  return imagePieceName(destination, n);
}

bool removeStalePiece(const fs::path& destination, std::uint64_t n) {
  fs::path path = imagePieceName(destination, n);
  std::error_code ec;
  auto status = fs::symlink_status(path, ec);
  // A link is removed itself, never what it points to.
  if (ec || !(fs::is_regular_file(status) || fs::is_symlink(status))) return false;
  makeWritable(path);
  return fs::remove(path, ec);
}

std::uint64_t piecesNeeded(std::uint64_t sectors, bool multiFile, std::uint64_t pieceSectors) {
  if (!multiFile || pieceSectors == 0 || sectors == 0) return 1;
  return (sectors + pieceSectors - 1) / pieceSectors;
}

}  // namespace dravolin
