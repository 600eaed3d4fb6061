// Containers read through libewf.
#include <fcntl.h>
#include <libewf.h>
#include <unistd.h>

#include <cstring>

#include "disk/libyal_reader.h"

namespace dravolin {

namespace {

std::string describe(libewf_error_t*& error) {
  if (!error) return "unknown error";
  char text[512] = {};
  libewf_error_backtrace_sprint(error, text, sizeof text);
  libewf_error_free(&error);
  return firstCause(text);
}

// Whether an EWF (E01) segment file ends the set: its chain of sections
// ends in "done" where a segment that others follow ends in "next". Ex01
// files and anything unreadable count as complete (the library decides).
bool endsTheSet(const std::string& segment) {
  constexpr std::uint64_t kFirstSection = 13;   // after the file header
  constexpr std::size_t kDescriptorSize = 76;   // type[16], next u64, size u64, padding, checksum
  constexpr std::size_t kNextOffset = 16;
  const int fd = ::open(segment.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  unsigned char magic[8] = {};
  bool complete = true;
  if (::pread(fd, magic, sizeof magic, 0) == sizeof magic && std::memcmp(magic, "EVF\x09\x0d\x0a\xff\x00", 8) == 0) {
    std::uint64_t position = kFirstSection;
    for (int sections = 0; sections < 1'000'000; ++sections) {
      unsigned char descriptor[kDescriptorSize];
      if (::pread(fd, descriptor, sizeof descriptor, static_cast<off_t>(position)) != sizeof descriptor) break;
      const std::string type(reinterpret_cast<const char*>(descriptor), strnlen(reinterpret_cast<const char*>(descriptor), 16));
      if (type == "done") break;
      if (type == "next") {
        complete = false;
        break;
      }
      std::uint64_t next = 0;
      for (int i = 7; i >= 0; --i) next = (next << 8) | descriptor[kNextOffset + static_cast<std::size_t>(i)];
      if (next <= position) break;  // a chain that does not move on ends here
      position = next;
    }
  }
  ::close(fd);
  return complete;
}

class Reader final : public ContainerReader {
 public:
  ~Reader() override {
    if (!handle_) return;
    if (open_) libewf_handle_close(handle_, nullptr);
    libewf_handle_free(&handle_, nullptr);
  }
  std::uint64_t mediaSize() const override { return size_; }
  bool readAt(std::uint64_t offset, std::byte* out, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = libewf_handle_read_random(handle_, out + done, size - done, static_cast<off64_t>(offset + done), nullptr);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }
  libewf_handle_t* handle_ = nullptr;
  bool open_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace

Result<std::unique_ptr<ContainerReader>> openEwfReader(const std::filesystem::path& path) {
  auto reader = std::make_unique<Reader>();
  libewf_error_t* error = nullptr;
  if (libewf_handle_initialize(&reader->handle_, &error) != 1) return makeError(ErrorKind::Io, describe(error));
  // An E01 image is the whole series of segment files (.E01, .E02, ...).
  char** names = nullptr;
  int count = 0;
  const std::string name = path.string();
  if (libewf_glob(name.c_str(), name.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1)
    return makeError(ErrorKind::NotFound, describe(error));
  // The segments are found while their numbers run on; a set whose last
  // found segment says that another follows lacks that one, and would read
  // as a disk with a hole.
  if (count > 0 && !endsTheSet(names[count - 1])) {
    const std::string last = names[count - 1];
    libewf_glob_free(names, count, nullptr);
    return makeError(ErrorKind::Corrupt, "the segment file after " + last + " is missing");
  }
  const int opened = libewf_handle_open(reader->handle_, names, count, LIBEWF_OPEN_READ, &error);
  libewf_glob_free(names, count, nullptr);
  if (opened != 1) return makeError(ErrorKind::Corrupt, describe(error));
  reader->open_ = true;
  size64_t size = 0;
  if (libewf_handle_get_media_size(reader->handle_, &size, &error) != 1) return makeError(ErrorKind::Corrupt, describe(error));
  reader->size_ = size;
  return std::unique_ptr<ContainerReader>(std::move(reader));
}

}  // namespace dravolin
