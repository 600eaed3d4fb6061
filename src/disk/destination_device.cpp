#include "disk/destination_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace dravolin {
namespace fs = std::filesystem;

namespace {

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string unescapeOctal(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const char a = text[i + 1], b = text[i + 2], c = text[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> parseDeviceNumber(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 >= text.size()) return std::nullopt;
  std::uint64_t numbers[2] = {0, 0};
  std::string_view parts[2] = {text.substr(0, colon), text.substr(colon + 1)};
  for (int k = 0; k < 2; ++k) {
    if (parts[k].size() > 9) return std::nullopt;
    for (char c : parts[k]) {
      if (c < '0' || c > '9') return std::nullopt;
      numbers[k] = numbers[k] * 10 + static_cast<std::uint64_t>(c - '0');
    }
  }
  return std::make_pair(static_cast<std::uint32_t>(numbers[0]), static_cast<std::uint32_t>(numbers[1]));
}

std::string readSmallFile(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool isPathPrefix(const std::string& prefix, const std::string& path) {
  if (prefix == "/") return !path.empty() && path.front() == '/';
  return path.compare(0, prefix.size(), prefix) == 0 && (path.size() == prefix.size() || path[prefix.size()] == '/');
}

// The mount whose file system holds path: the longest mount point above it,
// the last of equal ones (a later mount hides an earlier one).
const MountEntry* mountHolding(const StorageView& view, const std::string& path) {
  const MountEntry* best = nullptr;
  for (const auto& mount : view.mounts)
    if (isPathPrefix(mount.mountPoint, path) && (!best || mount.mountPoint.size() >= best->mountPoint.size()))
      best = &mount;
  return best;
}

const BlockDevice* deviceNamed(const StorageView& view, std::string_view name) {
  for (const auto& device : view.devices)
    if (device.name == name) return &device;
  return nullptr;
}

const BlockDevice* deviceNumbered(const StorageView& view, std::uint32_t major, std::uint32_t minor) {
  for (const auto& device : view.devices)
    if (device.major == major && device.minor == minor) return &device;
  return nullptr;
}

// The block device of a mounted file system: by its device number, else by
// the name its source path ends in (file systems such as btrfs report a
// number of their own).
const BlockDevice* deviceOfMount(const StorageView& view, const MountEntry& mount) {
  if (const BlockDevice* byNumber = deviceNumbered(view, mount.major, mount.minor)) return byNumber;
  if (!mount.source.starts_with("/dev/")) return nullptr;
  return deviceNamed(view, fs::path(mount.source).filename().string());
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream words(line);
    for (std::string word; words >> word;) fields.push_back(word);
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") ++separator;
    if (fields.size() < 7 || separator + 2 >= fields.size()) continue;
    const auto number = parseDeviceNumber(fields[2]);
    if (!number) continue;
    mounts.push_back({number->first, number->second, unescapeOctal(fields[4]), unescapeOctal(fields[separator + 2])});
  }
  return mounts;
}

std::vector<BlockDevice> readBlockDevices(const fs::path& classBlock) {
  std::vector<BlockDevice> devices;
  std::error_code ec;
  for (fs::directory_iterator it(classBlock, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path entry = it->path();
    const auto number = parseDeviceNumber(readSmallFile(entry / "dev"));
    if (!number) continue;
    BlockDevice device;
    device.name = entry.filename().string();
    device.major = number->first;
    device.minor = number->second;
    std::error_code local;
    if (fs::exists(entry / "partition", local)) {
      const fs::path real = fs::canonical(entry, local);
      if (!local) device.disk = real.parent_path().filename().string();
    }
    for (fs::directory_iterator slave(entry / "slaves", local), last; !local && slave != last; slave.increment(local))
      device.slaves.push_back(slave->path().filename().string());
    device.backingFile = readSmallFile(entry / "loop" / "backing_file");
    devices.push_back(std::move(device));
  }
  return devices;
}

StorageView readStorageView() {
  StorageView view;
  std::ifstream in("/proc/self/mountinfo");
  std::ostringstream text;
  text << in.rdbuf();
  view.mounts = parseMountInfo(text.str());
  // Sources such as /dev/mapper/NAME are links to the device's own node.
  for (auto& mount : view.mounts) {
    std::error_code ec;
    if (mount.source.starts_with("/dev/")) {
      const fs::path real = fs::canonical(mount.source, ec);
      if (!ec) mount.source = real.string();
    }
  }
  view.devices = readBlockDevices();
  return view;
}

std::optional<std::string> destinationOnDevice(const StorageView& view, const std::string& destination,
                                               std::uint32_t sourceMajor, std::uint32_t sourceMinor) {
  const BlockDevice* source = deviceNumbered(view, sourceMajor, sourceMinor);
  const MountEntry* mount = mountHolding(view, destination);
  if (!source || !mount) return std::nullopt;
  const BlockDevice* target = deviceOfMount(view, *mount);
  if (!target) return std::nullopt;

  // Every device the destination's writes go down to, with a bound: device
  // stacks are shallow, a loop of links in a damaged view must not hang.
  std::vector<const BlockDevice*> pending{target};
  std::vector<std::string> seen;
  for (std::size_t visits = 0; !pending.empty() && visits < 256; ++visits) {
    const BlockDevice* device = pending.back();
    pending.pop_back();
    if (std::find(seen.begin(), seen.end(), device->name) != seen.end()) continue;
    seen.push_back(device->name);
    if (device->name == source->name || device->disk == source->name ||
        (!source->disk.empty() && source->disk == device->name))
      return target->name;
    // What a device writes through: its slaves and a loop device's backing
    // file. A partition writes through what its whole device is built on.
    auto pushBelow = [&](const BlockDevice& of) {
      for (const auto& slave : of.slaves)
        if (const BlockDevice* below = deviceNamed(view, slave)) pending.push_back(below);
      if (!of.backingFile.empty())
        if (const MountEntry* holder = mountHolding(view, of.backingFile))
          if (const BlockDevice* below = deviceOfMount(view, *holder)) pending.push_back(below);
    };
    pushBelow(*device);
    if (!device->disk.empty())
      if (const BlockDevice* whole = deviceNamed(view, device->disk)) pushBelow(*whole);
  }
  return std::nullopt;
}

std::optional<std::string> destinationOnSourceDevice(const std::string& sourceDevicePath, const fs::path& destination) {
  struct stat status {};
  if (::stat(sourceDevicePath.c_str(), &status) != 0 || !S_ISBLK(status.st_mode)) return std::nullopt;
  std::error_code ec;
  fs::path folder = fs::absolute(destination, ec);
  if (ec) return std::nullopt;
  // The folder may not exist yet: the file system is that of the nearest
  // folder above it that does.
  for (int up = 0; up < 4096 && !fs::exists(folder, ec) && folder.has_relative_path(); ++up)
    folder = folder.parent_path();
  const fs::path real = fs::canonical(folder, ec);
  if (ec) return std::nullopt;
  return destinationOnDevice(readStorageView(), real.string(), major(status.st_rdev), minor(status.st_rdev));
}

}  // namespace dravolin
