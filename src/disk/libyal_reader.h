#pragma once
// The container libraries libqcow, libvmdk and libvhdi share one shape: a
// handle made by *_initialize and *_open, bytes read at an offset of the
// disk, the disk's size, and errors that carry a stacked backtrace. One
// reader serves them all; each library names its functions in an Api
// struct (Handle, Error, initialize, open, openRead, close, free, read,
// mediaSize, backtrace, freeError).
#include <string>

#include "disk/container_source.h"

namespace dravolin {

// The first line of a library's backtrace (the cause), without the trailing
// dots and line ends.
inline std::string firstCause(std::string message) {
  auto trim = [&] {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
      message.pop_back();
  };
  trim();
  if (const auto cut = message.find('\n'); cut != std::string::npos) message.resize(cut);
  trim();
  return message;
}

template <class Api>
std::string describeLibraryError(typename Api::Error*& error) {
  if (!error) return "unknown error";
  char text[512] = {};
  Api::backtrace(error, text, sizeof text);
  Api::freeError(&error);
  return firstCause(text);
}

template <class Api>
class LibraryReader final : public ContainerReader {
 public:
  ~LibraryReader() override {
    if (!handle_) return;
    if (open_) Api::close(handle_, nullptr);
    Api::free(&handle_, nullptr);
  }
  std::uint64_t mediaSize() const override { return size_; }
  bool readAt(std::uint64_t offset, std::byte* out, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = Api::read(handle_, out + done, size - done, static_cast<off64_t>(offset + done), nullptr);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

  // Opens path; afterOpen (handle) may refuse the container with a reason or
  // finish opening it (a VMDK's extent files).
  template <class AfterOpen>
  static Result<std::unique_ptr<ContainerReader>> open(const std::filesystem::path& path, AfterOpen afterOpen) {
    auto reader = std::make_unique<LibraryReader>();
    typename Api::Error* error = nullptr;
    if (Api::initialize(&reader->handle_, &error) != 1)
      return makeError(ErrorKind::Io, describeLibraryError<Api>(error));
    if (Api::open(reader->handle_, path.c_str(), Api::openRead, &error) != 1)
      return makeError(ErrorKind::Corrupt, describeLibraryError<Api>(error));
    reader->open_ = true;
    if (auto refused = afterOpen(reader->handle_); !refused.empty()) return makeError(ErrorKind::Corrupt, refused);
    size64_t size = 0;
    if (Api::mediaSize(reader->handle_, &size, &error) != 1)
      return makeError(ErrorKind::Corrupt, describeLibraryError<Api>(error));
    reader->size_ = size;
    return std::unique_ptr<ContainerReader>(std::move(reader));
  }

 private:
  typename Api::Handle* handle_ = nullptr;
  bool open_ = false;
  std::uint64_t size_ = 0;
};

}  // namespace dravolin
