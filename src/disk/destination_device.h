#pragma once
// Whether a destination folder lies on the disk being recovered: writing
// there may overwrite the very blocks still to be read. The destination's
// file system is found in the mount table (/proc/self/mountinfo), its block
// device in sysfs, and from there every device it is built on: a partition
// belongs to its disk, a device-mapper or md device to its slaves, a loop
// device to the file system holding its backing file. A destination on a
// file system that merely holds an image file is never the source: writing
// files there does not touch the image's own blocks.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravolin {

// One line of /proc/self/mountinfo: the device number of the mounted file
// system, where it is mounted and what it was mounted from.
struct MountEntry {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::string mountPoint;  // unescaped ("\040" is a space)
  std::string source;      // "/dev/sda1", "/dev/mapper/x", "tmpfs", ...
};

// Parses mountinfo text; lines that do not have its shape are passed over.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// A block device as sysfs shows it.
struct BlockDevice {
  std::string name;  // "sda", "sda1", "loop0p1", "dm-0"
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::string disk;                 // for a partition: the device it is part of
  std::vector<std::string> slaves;  // devices it is built on (device mapper, md)
  std::string backingFile;          // for a loop device: the file it is built on
};

// The block devices of a sysfs class folder (normally /sys/class/block).
std::vector<BlockDevice> readBlockDevices(const std::filesystem::path& classBlock = "/sys/class/block");

struct StorageView {
  std::vector<MountEntry> mounts;
  std::vector<BlockDevice> devices;
};

// The mount table of this process and the block devices of this machine.
StorageView readStorageView();

// The name of the block device under the destination (an absolute path
// without symbolic links) when writing there can write blocks of the source
// device (major:minor): the same device, one of its partitions, the disk a
// source partition is part of, or a device built on any of them. Nothing
// when the destination's file system has no block device or lies elsewhere.
std::optional<std::string> destinationOnDevice(const StorageView& view, const std::string& destination,
                                               std::uint32_t sourceMajor, std::uint32_t sourceMinor);

// The same for a source named by its device path and a destination that may
// not exist yet (its nearest existing folder is taken). Nothing when the
// source is not a block device (an image file or folder).
std::optional<std::string> destinationOnSourceDevice(const std::string& sourceDevicePath,
                                                     const std::filesystem::path& destination);

}  // namespace dravolin
