// Containers read through libewf.
#include <libewf.h>

#include "disk/container_source.h"

namespace dravolin {

namespace {

std::string describe(libewf_error_t*& error) {
  if (!error) return "unknown error";
  char text[512] = {};
  libewf_error_backtrace_sprint(error, text, sizeof text);
  libewf_error_free(&error);
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
