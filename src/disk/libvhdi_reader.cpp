// Containers read through libvhdi.
#include <libvhdi.h>

#include "disk/libyal_reader.h"

namespace dravolin {

namespace {

struct VhdiApi {
  using Handle = libvhdi_file_t;
  using Error = libvhdi_error_t;
  static constexpr auto initialize = libvhdi_file_initialize;
  static constexpr auto open = libvhdi_file_open;
  static constexpr int openRead = LIBVHDI_OPEN_READ;
  static constexpr auto close = libvhdi_file_close;
  static constexpr auto free = libvhdi_file_free;
  static constexpr auto read = libvhdi_file_read_buffer_at_offset;
  static constexpr auto mediaSize = libvhdi_file_get_media_size;
  static constexpr auto backtrace = libvhdi_error_backtrace_sprint;
  static constexpr auto freeError = libvhdi_error_free;
};

}  // namespace

Result<std::unique_ptr<ContainerReader>> openVhdiReader(const std::filesystem::path& path) {
  return LibraryReader<VhdiApi>::open(path, [](libvhdi_file_t* handle) -> std::string {
    // A differencing VHD or VHDX holds only its changes over a parent disk.
    uint32_t diskType = 0;
    if (libvhdi_file_get_disk_type(handle, &diskType, nullptr) == 1 && diskType == LIBVHDI_DISK_TYPE_DIFFERENTIAL)
      return "it is a differencing disk that holds only the changes over its parent disk";
    return {};
  });
}

}  // namespace dravolin
