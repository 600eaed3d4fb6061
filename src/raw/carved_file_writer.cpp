#include "raw/carved_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

namespace dravolin {
namespace fs = std::filesystem;
namespace {

// Sectors copied per piece: the reads keep the per-sector end guard and
// failure rules, the writes are large.
constexpr std::uint32_t kPieceSectors = 2048;

std::optional<std::uint64_t> fileSystemFreeSpace(const fs::path& folder) {
  std::error_code error;
  const fs::space_info info = fs::space(folder, error);
  if (error) return std::nullopt;
  return static_cast<std::uint64_t>(info.available);
}

// Writes all bytes; the count actually written, and in error why it stopped short.
std::size_t writeAll(int fd, const std::byte* data, std::size_t size, int& error) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return done;
}

// "<digits>.<name>": the number, else nothing.
std::optional<std::uint64_t> numberOf(const std::string& fileName, const std::string& name) {
  if (fileName.size() < name.size() + 2) return std::nullopt;
  const std::size_t digits = fileName.size() - name.size() - 1;
  if (fileName.compare(digits, std::string::npos, "." + name) != 0 || digits > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const char c = fileName[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

std::uint64_t CarvedFileWriter::nextFreeNumber(const fs::path& folder, const std::string& name) {
  std::uint64_t next = 0;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    if (auto number = numberOf(it->path().filename().string(), name))
      next = std::max(next, *number == std::numeric_limits<std::uint64_t>::max() ? *number : *number + 1);
  return next;
}

CarvedFileWriter::CarvedFileWriter(SectorReader& reader, CarvedFileTarget target)
    : reader_(reader), target_(std::move(target)) {
  if (!target_.freeSpace) target_.freeSpace = fileSystemFreeSpace;
}

bool CarvedFileWriter::ensureFreeSpace(std::uint64_t needed, Job& job) {
  for (;;) {
    std::optional<std::uint64_t> free = target_.freeSpace(target_.savingPath);
    if (!free || *free > needed) return true;
    job.prompter().inform(kInsufficientTargetSpaceMessage);
    std::string path = target_.askSavingPath ? target_.askSavingPath() : std::string();
    while (path.empty()) {
      if (job.prompter().askYesNo(kStopRawSearchQuestion)) return false;
      path = target_.askSavingPath ? target_.askSavingPath() : std::string();
    }
    target_.savingPath = path;
    createdFolders_.clear();
  }
}

int CarvedFileWriter::SaveCarvedFile(SectorNumber first, SectorNumber end, const std::string& name,
                                     std::uint32_t number, std::string& lastName, Job& job,
                                     std::uint64_t exactBytes) {
  const std::uint64_t sectors = end > first ? end - first : 0;
  lastError_.clear();
  lastUnreadable_.clear();
  if (!ensureFreeSpace(sectors * kSectorSize, job)) return kCarveStopChosen;

  const fs::path folder = target_.savingPath / name;
  std::error_code error;
  std::string folderError;
  if (!createdFolders_.contains(folder.native())) {
    fs::create_directory(folder, error);  // an existing folder is no error
    if (error) folderError = error.message();
    if (fs::is_directory(folder, error)) createdFolders_.insert(folder.native());
  }
  // Numbers go on after those an earlier run left in the folder.
  auto base = numberBase_.find(folder.native());
  if (base == numberBase_.end()) base = numberBase_.emplace(folder.native(), nextFreeNumber(folder, name)).first;
  const fs::path file = folder / (std::to_string(base->second + number) + "." + name);
  lastName = file.string();
  job.setLastName(lastName);

  constexpr int kFlags = O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
  int fd = ::open(file.c_str(), kFlags, 0644);
  if (fd < 0 && errno == EACCES && fs::is_regular_file(fs::symlink_status(file, error))) {
    // An existing read-only file: its attributes are reset and it is overwritten.
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, error);
    fd = ::open(file.c_str(), kFlags, 0644);
  }
  if (fd < 0) {
    lastError_ = folderError.empty() ? std::string("cannot create the file: ") + std::strerror(errno)
                                     : "the folder could not be created: " + folderError;
    return kCarveWriteFailed;
  }
  auto put = [&](const std::byte* data, std::size_t bytes) {
    int writeError = 0;
    const std::size_t written = writeAll(fd, data, bytes, writeError);
    bytesRecovered_ += written / kSectorSize * kSectorSize;
    if (written != bytes) lastError_ = std::string("writing failed: ") + std::strerror(writeError);
    return written == bytes;
  };
  // The sectors of this file that stay unreadable (written as zeros).
  UnreadableWatch watch(reader_);
  std::uint64_t done = 0;
  // What the scan holds, read without failures, is written as it is.
  if (held_) {
    const ByteSpan held = held_(first, end);
    if (!put(held.data(), held.size())) {
      ::close(fd);
      return kCarveWriteFailed;
    }
    done = held.size() / kSectorSize;
  }
  if (buffer_.empty() && done < sectors) buffer_.resize(std::size_t{kPieceSectors} * kSectorSize);
  while (done < sectors) {
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPieceSectors, sectors - done));
    // Each sector as a read of its own: the end guard gives zeros past the
    // selection, failures are handled sector by sector.
    (void)reader_.ReadSectorsAs(first + done, count, buffer_, 1);
    if (!put(buffer_.data(), std::size_t{count} * kSectorSize)) {
      ::close(fd);
      return kCarveWriteFailed;
    }
    done += count;
  }
  lastUnreadable_ = watch.sectors().ranges();
  if (exactBytes > 0 && exactBytes < sectors * kSectorSize) {
    // The format said where the file ends inside its last sector.
    if (::ftruncate(fd, static_cast<off_t>(exactBytes)) != 0) {
      lastError_ = std::string("cutting the file to its length failed: ") + std::strerror(errno);
      ::close(fd);
      return kCarveWriteFailed;
    }
    bytesRecovered_ -= sectors * kSectorSize - exactBytes;
  }
  if (::close(fd) != 0) {
    lastError_ = std::string("closing the file failed: ") + std::strerror(errno);
    return kCarveWriteFailed;
  }
  return kCarveWritten;
}

}  // namespace dravolin
