// Containers read through libqcow.
#include <libqcow.h>

#include "disk/container_source.h"

namespace dravolin {

namespace {

std::string describe(libqcow_error_t*& error) {
  if (!error) return "unknown error";
  char text[512] = {};
  libqcow_error_backtrace_sprint(error, text, sizeof text);
  libqcow_error_free(&error);
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
    if (open_) libqcow_file_close(handle_, nullptr);
    libqcow_file_free(&handle_, nullptr);
  }
  std::uint64_t mediaSize() const override { return size_; }
  bool readAt(std::uint64_t offset, std::byte* out, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = libqcow_file_read_buffer_at_offset(handle_, out + done, size - done, static_cast<off64_t>(offset + done), nullptr);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }
  libqcow_file_t* handle_ = nullptr;
  bool open_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace

Result<std::unique_ptr<ContainerReader>> openQcowReader(const std::filesystem::path& path) {
  auto reader = std::make_unique<Reader>();
  libqcow_error_t* error = nullptr;
  if (libqcow_file_initialize(&reader->handle_, &error) != 1) return makeError(ErrorKind::Io, describe(error));
  if (libqcow_file_open(reader->handle_, path.c_str(), LIBQCOW_OPEN_READ, &error) != 1)
    return makeError(ErrorKind::Corrupt, describe(error));
  reader->open_ = true;
  // A qcow2 image that holds only its changes over a backing file: without
  // that file its other sectors would read as zeros.
  size_t backingSize = 0;
  if (libqcow_file_get_utf8_backing_filename_size(reader->handle_, &backingSize, nullptr) == 1 && backingSize > 1) {
    std::string backing(backingSize, '\0');
    libqcow_file_get_utf8_backing_filename(reader->handle_, reinterpret_cast<uint8_t*>(backing.data()), backingSize,
                                           nullptr);
    backing.resize(backing.find('\0') == std::string::npos ? backing.size() : backing.find('\0'));
    return makeError(ErrorKind::Corrupt, "it holds only the changes over its backing file " + backing);
  }
  size64_t size = 0;
  if (libqcow_file_get_media_size(reader->handle_, &size, &error) != 1) return makeError(ErrorKind::Corrupt, describe(error));
  reader->size_ = size;
  return std::unique_ptr<ContainerReader>(std::move(reader));
}

}  // namespace dravolin
