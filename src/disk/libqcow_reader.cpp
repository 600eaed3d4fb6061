// Containers read through libqcow.
#include <libqcow.h>

#include "disk/libyal_reader.h"

namespace dravolin {

namespace {

struct QcowApi {
  using Handle = libqcow_file_t;
  using Error = libqcow_error_t;
  static constexpr auto initialize = libqcow_file_initialize;
  static constexpr auto open = libqcow_file_open;
  static constexpr int openRead = LIBQCOW_OPEN_READ;
  static constexpr auto close = libqcow_file_close;
  static constexpr auto free = libqcow_file_free;
  static constexpr auto read = libqcow_file_read_buffer_at_offset;
  static constexpr auto mediaSize = libqcow_file_get_media_size;
  static constexpr auto backtrace = libqcow_error_backtrace_sprint;
  static constexpr auto freeError = libqcow_error_free;
};

}  // namespace

Result<std::unique_ptr<ContainerReader>> openQcowReader(const std::filesystem::path& path) {
  return LibraryReader<QcowApi>::open(path, [](libqcow_file_t* handle) -> std::string {
    // A qcow2 image that holds only its changes over a backing file: without
    // that file its other sectors would read as zeros.
    size_t backingSize = 0;
    if (libqcow_file_get_utf8_backing_filename_size(handle, &backingSize, nullptr) != 1 || backingSize <= 1) return {};
    std::string backing(backingSize, '\0');
    libqcow_file_get_utf8_backing_filename(handle, reinterpret_cast<uint8_t*>(backing.data()), backingSize, nullptr);
    backing.resize(backing.find('\0') == std::string::npos ? backing.size() : backing.find('\0'));
    return "it holds only the changes over its backing file " + backing;
  });
}

}  // namespace dravolin
