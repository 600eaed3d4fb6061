// Containers read through libvmdk.
#include <libvmdk.h>

#include "disk/libyal_reader.h"

namespace dravolin {

namespace {

struct VmdkApi {
  using Handle = libvmdk_handle_t;
  using Error = libvmdk_error_t;
  static constexpr auto initialize = libvmdk_handle_initialize;
  static constexpr auto open = libvmdk_handle_open;
  static constexpr int openRead = LIBVMDK_OPEN_READ;
  static constexpr auto close = libvmdk_handle_close;
  static constexpr auto free = libvmdk_handle_free;
  static constexpr auto read = libvmdk_handle_read_buffer_at_offset;
  static constexpr auto mediaSize = libvmdk_handle_get_media_size;
  static constexpr auto backtrace = libvmdk_error_backtrace_sprint;
  static constexpr auto freeError = libvmdk_error_free;
};

}  // namespace

Result<std::unique_ptr<ContainerReader>> openVmdkReader(const std::filesystem::path& path) {
  return LibraryReader<VmdkApi>::open(path, [](libvmdk_handle_t* handle) -> std::string {
    // The descriptor names the extent files that hold the data.
    libvmdk_error_t* error = nullptr;
    if (libvmdk_handle_open_extent_data_files(handle, &error) != 1) return describeLibraryError<VmdkApi>(error);
    // A VMDK that holds only its changes over a parent disk.
    size_t parentSize = 0;
    if (libvmdk_handle_get_utf8_parent_filename_size(handle, &parentSize, nullptr) == 1 && parentSize > 1)
      return "it holds only the changes over its parent disk";
    return {};
  });
}

}  // namespace dravolin
