// Containers read through libvmdk.
#include <libvmdk.h>

#include "disk/container_source.h"

namespace dravolin {

namespace {

std::string describe(libvmdk_error_t*& error) {
  if (!error) return "unknown error";
  char text[512] = {};
  libvmdk_error_backtrace_sprint(error, text, sizeof text);
  libvmdk_error_free(&error);
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
    if (open_) libvmdk_handle_close(handle_, nullptr);
    libvmdk_handle_free(&handle_, nullptr);
  }
  std::uint64_t mediaSize() const override { return size_; }
  bool readAt(std::uint64_t offset, std::byte* out, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = libvmdk_handle_read_buffer_at_offset(handle_, out + done, size - done, static_cast<off64_t>(offset + done), nullptr);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }
  libvmdk_handle_t* handle_ = nullptr;
  bool open_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace

Result<std::unique_ptr<ContainerReader>> openVmdkReader(const std::filesystem::path& path) {
  auto reader = std::make_unique<Reader>();
  libvmdk_error_t* error = nullptr;
  if (libvmdk_handle_initialize(&reader->handle_, &error) != 1) return makeError(ErrorKind::Io, describe(error));
  if (libvmdk_handle_open(reader->handle_, path.c_str(), LIBVMDK_OPEN_READ, &error) != 1)
    return makeError(ErrorKind::Corrupt, describe(error));
  // The descriptor names the extent files that hold the data.
  if (libvmdk_handle_open_extent_data_files(reader->handle_, &error) != 1) {
    libvmdk_handle_close(reader->handle_, nullptr);
    return makeError(ErrorKind::Corrupt, describe(error));
  }
  reader->open_ = true;
  // A VMDK that holds only its changes over a parent disk.
  size_t parentSize = 0;
  if (libvmdk_handle_get_utf8_parent_filename_size(reader->handle_, &parentSize, nullptr) == 1 && parentSize > 1)
    return makeError(ErrorKind::Corrupt, "it holds only the changes over its parent disk");
  size64_t size = 0;
  if (libvmdk_handle_get_media_size(reader->handle_, &size, &error) != 1) return makeError(ErrorKind::Corrupt, describe(error));
  reader->size_ = size;
  return std::unique_ptr<ContainerReader>(std::move(reader));
}

}  // namespace dravolin
