#include "app/source_resolver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>

#include "disk/destination_device.h"
#include "disk/file_source.h"
#include "disk/container_image.h"
#include "disk/image_set.h"
#include "disk/split_image.h"

namespace dravolin {
namespace fs = std::filesystem;

namespace {

std::uint32_t nextDiskNumber(const std::vector<DeviceInfo>& devices) {
  std::uint32_t n = 0;
  for (const auto& d : devices)
    if (!d.floppy) ++n;
  return n;
}

Result<OpenedSource> openImageSet(const ImageSetLayout& layout, std::uint32_t number) {
  auto set = ImageSetSource::open(layout);
  if (!set) return std::unexpected(set.error());
  OpenedSource opened;
  opened.device = makeImageDevice(number, layout.pieces.front().string(), layout.totalBytes);
  opened.source = std::move(*set);
  return opened;
}

OpenedSource imageSource(std::unique_ptr<SectorSource> source, const std::string& firstFile, std::uint32_t number) {
  OpenedSource opened;
  opened.device = makeImageDevice(number, firstFile, source->sizeInBytes());
  opened.source = std::move(source);
  return opened;
}

std::optional<std::uint32_t> diskNumber(const std::string& name) {
  if (name.size() < 5 || name.compare(0, 4, "Disk") != 0) return std::nullopt;
  std::uint32_t n = 0;
  for (std::size_t i = 4; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 100000) return std::nullopt;
    n = n * 10 + static_cast<std::uint32_t>(name[i] - '0');
  }
  return n;
}

}  // namespace

DescriptorBroker deviceAccessFor(bool mayAsk) {
  if (!mayAsk || geteuid() == 0) return {};
  return openThroughUDisks;
}

Result<OpenedSource> openSource(const std::string& name, const std::vector<DeviceInfo>& devices,
                                const DescriptorBroker& broker) {
  return openSource(
      name, [&]() -> const std::vector<DeviceInfo>& { return devices; }, [&] { return nextDiskNumber(devices); },
      broker);
}

Result<OpenedSource> openSource(const std::string& name, const DeviceLister& listDevices,
                                const std::function<std::uint32_t()>& imageNumber, const DescriptorBroker& broker) {
  std::error_code ec;
  if (auto number = diskNumber(name); number && !fs::exists(name, ec)) {
    const auto& devices = listDevices();
    for (const auto& d : devices) {
      if (d.floppy || d.number != *number) continue;
      auto file = openDevice(d.devicePath, AccessPurpose::ReadSource, broker);
      if (!file) return std::unexpected(file.error());
      return OpenedSource{std::move(*file), d};
    }
    return makeError(ErrorKind::NotFound, name + ": no such disk (see 'dravolin disks')");
  }
  auto status = fs::status(name, ec);
  if (ec || !fs::exists(status)) {
    // The destination given to the imaging ("disk.img") names its pieces
    // ("disk0.img", "disk1.img", ...) rather than a file of its own.
    const fs::path firstPiece = imagePieceName(name, 0);
    if (name.size() > 4 && fs::is_regular_file(firstPiece, ec))
      return openSource(firstPiece.string(), listDevices, imageNumber, broker);
    // The system's reason: a missing file, a path through a file ("Not a
    // directory"), a folder this user may not enter ("Permission denied").
    const std::string reason = ec ? ec.message() : std::string("No such file or directory");
    return makeError(ErrorKind::NotFound, name + ": " + reason);
  }
  if (fs::is_directory(status)) {
    auto layout = discoverImageFolder(name);
    if (!layout) return makeError(ErrorKind::NotFound, name + ": " + layout.error().message);
    return openImageSet(*layout, imageNumber());
  }
  if (fs::is_block_file(status)) {
    auto file = openDevice(name, AccessPurpose::ReadSource, broker);
    if (!file) return std::unexpected(file.error());
    const auto& devices = listDevices();
    DeviceInfo info;
    std::string canonical = fs::weakly_canonical(name, ec).string();
    bool found = false;
    for (const auto& d : devices) {
      if (fs::weakly_canonical(d.devicePath, ec).string() == canonical) {
        info = d;
        found = true;
        break;
      }
    }
    if (!found) {
      info.number = nextDiskNumber(devices);
      info.name = "Disk" + std::to_string(info.number);
      info.devicePath = name;
      info.model = name;
      info.mediaType = "Fixed hard disk media";
      info.sizeBytes = (*file)->sizeInBytes();
      info.cylinders = info.sizeBytes / 512 / 16065;
    }
    return OpenedSource{std::move(*file), info};
  }
  if (fs::is_regular_file(status)) {
    if (auto series = discoverPieceSeries(name)) return openImageSet(*series, imageNumber());
    // A split raw image opens as the whole series; a gap or a piece of the
    // wrong size is an error naming it, never a short disk.
    auto split = discoverSplitImage(name);
    if (!split) return std::unexpected(split.error());
    if (*split && (*split)->pieces.size() > 1) {
      auto source = SplitImageSource::open(**split);
      if (!source) return std::unexpected(source.error());
      return imageSource(std::move(*source), name, imageNumber());
    }
    if (const auto container = detectContainer(name)) {
      auto source = openContainer(name, *container);
      if (!source) return std::unexpected(source.error());
      return imageSource(std::move(*source), name, imageNumber());
    }
    if (faccessat(AT_FDCWD, name.c_str(), R_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM)) {
      // An image this user may not read: the broker may still hand it over,
      // else the error says how to get access.
      auto file = openDevice(name, AccessPurpose::ReadSource, broker, true);
      if (!file) return std::unexpected(file.error());
      return imageSource(std::move(*file), name, imageNumber());
    }
    ImageSetLayout single;
    single.pieces.push_back(name);
    single.totalBytes = fs::file_size(name, ec);
    single.multiFile = false;
    return openImageSet(single, imageNumber());
  }
  return makeError(ErrorKind::InvalidArgument, name + ": not a disk, an image file or an image folder");
}

std::optional<std::string> destinationOnSourceDisk(const DeviceInfo& source, const fs::path& destination) {
  if (source.image) return std::nullopt;
  return destinationOnSourceDevice(source.devicePath, destination);
}

}  // namespace dravolin
