#pragma once
// Turns what the user named as a source into an open, read-only sector
// source: a block device, a disk number ("Disk0"), a raw image file, a piece
// 0 of a series written by the imaging ("disk0.img", "disk1.img", ...), or a
// folder holding an image set, the first piece of a split raw image
// ("card.dd.001", "card.dd.aa", "cardaa"), or a container image (E01, qcow2,
// VMDK, VHD, VHDX; told by its magic).
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "disk/device_access.h"
#include "disk/devices.h"
#include "disk/sector_source.h"

namespace dravolin {

struct OpenedSource {
  std::unique_ptr<SectorSource> source;
  DeviceInfo device;
};

// Opens the source read-only. devices is the machine's disk list (an image
// becomes the disk after the last of them). A disk the user may not open is
// asked of broker when one is given. Errors carry one line for the user.
Result<OpenedSource> openSource(const std::string& name, const std::vector<DeviceInfo>& devices,
                                const DescriptorBroker& broker = {});

// The same with the disk list asked for only when name is a disk (a disk
// number or a block device); an image file or folder opens without
// enumerating or opening any disk of the machine, and becomes the disk
// after the count of imageNumber (countDisks, which reads sysfs alone).
using DeviceLister = std::function<const std::vector<DeviceInfo>&()>;
Result<OpenedSource> openSource(const std::string& name, const DeviceLister& devices,
                                const std::function<std::uint32_t()>& imageNumber,
                                const DescriptorBroker& broker = {});

// The broker a front end uses: UDisks2 when the user is not root and may be
// asked (a desktop, or a terminal on stdin), else none, and the error of a
// refused disk says how to get access.
DescriptorBroker deviceAccessFor(bool mayAsk);

// The name of the block device under destination when saving there may
// overwrite the source disk (the same device, one of its partitions or a
// device built on it); nothing for an image source or a destination
// elsewhere.
std::optional<std::string> destinationOnSourceDisk(const DeviceInfo& source, const std::filesystem::path& destination);

}  // namespace dravolin
