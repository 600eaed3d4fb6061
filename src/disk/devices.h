#pragma once
// The disks of the machine, found in /sys/block, numbered Disk0, Disk1, ...
// in a stable order, each group in natural order of the names: whole disks
// (sd, nvme, vd, mmcblk, hd, xvd), loop devices that have a backing file,
// then md RAID arrays, device-mapper volumes (LUKS, LVM; shown by their
// /dev/mapper name), network block devices and optical drives, the last four
// only while they hold something (size above 0). Floppy drives are listed
// apart.
// An image chosen as a source becomes the next disk number.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/config_store.h"

namespace dravolin {

struct DeviceInfo {
  std::uint32_t number = 0;        // the n of "Disk" + n
  std::string name;                // "Disk0", or "Floppy Drive" for a floppy
  std::string devicePath;          // /dev/sda, or the first file of an image
  std::string model;
  std::string mediaType;
  std::uint64_t sizeBytes = 0;
  std::uint64_t cylinders = 0;
  std::uint32_t heads = 255;
  std::uint32_t sectorsPerTrack = 63;
  std::string serial;               // the serial number, empty when the device tells none
  std::string byId;                 // its /dev/disk/by-id link, empty when there is none
  bool removable = false;
  bool floppy = false;
  bool image = false;
};

// What names a disk for the user beside its number: "/dev/sdb, SanDisk
// Ultra, 29 GB, serial 4C53..." (the parts that are known).
std::string describeDiskIdentity(const DeviceInfo& device);

// Orders "sda" < "sdb" < "sdaa" and "nvme2n1" < "nvme10n1": digit runs compare as numbers.
bool naturalLess(const std::string& a, const std::string& b);

// Lists the devices below sysBlock (normally /sys/block), device nodes under
// devRoot. Geometry comes from HDIO_GETGEO where the device answers, else
// 255 heads and 63 sectors per track.
std::vector<DeviceInfo> enumerateDevices(const std::filesystem::path& sysBlock = "/sys/block",
                                         const std::filesystem::path& devRoot = "/dev");

// The number of disks enumerateDevices would list (floppies apart), from
// sysfs alone: no device is opened. The number an image source gets.
std::uint32_t countDisks(const std::filesystem::path& sysBlock = "/sys/block");

// The image as the next disk: "Disk" + k with k the count of listed disks,
// media type "Image", model the canonical path of its first file, 255 heads,
// 63 sectors per track, cylinders = bytes / 512 / 16,065.
DeviceInfo makeImageDevice(std::uint32_t number, const std::string& firstFile, std::uint64_t totalBytes);

// The rows that identify a disk of the machine beside its number ("Device
// Path : /dev/sdb", "Serial Number : ...", "By-id : ..."), those known;
// none for an image.
std::vector<std::string> diskIdentityRows(const DeviceInfo& device);

// The rows of the "Device Information" list.
std::vector<std::string> deviceInformationRows(const DeviceInfo& device);

// The geometry cache: sections "Zoza Windows\Cylinder", "...\Head",
// "...\MediaType", "...\Model", "...\SectorsPerTrack", "...\Size", each with
// one value "Disk" + n per disk. Writing replaces the cache as a whole.
void writeGeometryCache(ConfigStore& store, const std::vector<DeviceInfo>& devices);
// Adds or replaces one disk's entries.
void cacheDevice(ConfigStore& store, const DeviceInfo& device);
// Reads one disk back from the cache; sizeBytes 0 when it is not there.
DeviceInfo readCachedDevice(const ConfigStore& store, std::uint32_t number);

}  // namespace dravolin
