// Containers read through libvhdi.
#include <libvhdi.h>

#include "disk/container_source.h"

namespace dravolin {

namespace {

std::string describe(libvhdi_error_t*& error) {
  if (!error) return "unknown error";
  char text[512] = {};
  libvhdi_error_backtrace_sprint(error, text, sizeof text);
  libvhdi_error_free(&error);
  std::string message(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '.')) message.pop_back();
  // The library stacks its backtrace, the cause first.
  if (const auto cut = message.find('\n'); cut != std::string::npos) message.resize(cut);
  while (!message.empty() && (message.back() == '.' || message.back() == '\r')) message.pop_back();
  return message;
}

class Reader final : public ContainerReader {
 public:
  ~Reader() override {
    if (!handle_) return;
    if (open_) libvhdi_file_close(handle_, nullptr);
    libvhdi_file_free(&handle_, nullptr);
  }
  std::uint64_t mediaSize() const override { return size_; }
  bool readAt(std::uint64_t offset, std::byte* out, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = libvhdi_file_read_buffer_at_offset(handle_, out + done, size - done, static_cast<off64_t>(offset + done), nullptr);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }
  libvhdi_file_t* handle_ = nullptr;
  bool open_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace

Result<std::unique_ptr<ContainerReader>> openVhdiReader(const std::filesystem::path& path) {
  auto reader = std::make_unique<Reader>();
  libvhdi_error_t* error = nullptr;
  if (libvhdi_file_initialize(&reader->handle_, &error) != 1) return makeError(ErrorKind::Io, describe(error));
  if (libvhdi_file_open(reader->handle_, path.c_str(), LIBVHDI_OPEN_READ, &error) != 1)
    return makeError(ErrorKind::Corrupt, describe(error));
  reader->open_ = true;
  // A differencing VHD or VHDX holds only its changes over a parent disk.
  uint32_t diskType = 0;
  if (libvhdi_file_get_disk_type(reader->handle_, &diskType, nullptr) == 1 && diskType == LIBVHDI_DISK_TYPE_DIFFERENTIAL)
    return makeError(ErrorKind::Corrupt, "it is a differencing disk that holds only the changes over its parent disk");
  size64_t size = 0;
  if (libvhdi_file_get_media_size(reader->handle_, &size, &error) != 1) return makeError(ErrorKind::Corrupt, describe(error));
  reader->size_ = size;
  return std::unique_ptr<ContainerReader>(std::move(reader));
}

}  // namespace dravolin
