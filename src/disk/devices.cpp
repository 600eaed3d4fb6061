#include "disk/devices.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>

#include "common/format.h"

namespace dravolin {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCacheKey = "Zoza Windows";

std::string readLine(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(s.begin());
  return s;
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

bool isWholeDisk(const std::string& name) {
  for (const char* prefix : {"sd", "nvme", "vd", "mmcblk", "hd", "xvd"})
    if (startsWith(name, prefix)) {
      // mmcblk0boot0 and mmcblk0rpmb are hardware areas, not disks.
      return name.find("boot") == std::string::npos && name.find("rpmb") == std::string::npos;
    }
  return false;
}

void fillGeometry(DeviceInfo& d) {
  d.heads = 255;
  d.sectorsPerTrack = 63;
  int fd = ::open(d.devicePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    hd_geometry geometry{};
    if (ioctl(fd, HDIO_GETGEO, &geometry) == 0 && geometry.heads > 0 && geometry.sectors > 0) {
      d.heads = geometry.heads;
      d.sectorsPerTrack = geometry.sectors;
    }
    ::close(fd);
  }
  d.cylinders = d.sizeBytes / 512 / (std::uint64_t{d.heads} * d.sectorsPerTrack);
}

// The model udev knows for a block device of the real /sys ("ID_MODEL",
// with its underscores turned back into spaces); empty when udev has none.
std::string udevModel(const std::string& name) {
  udev* context = udev_new();
  if (!context) return {};
  std::string model;
  if (udev_device* device = udev_device_new_from_subsystem_sysname(context, "block", name.c_str())) {
    if (const char* value = udev_device_get_property_value(device, "ID_MODEL")) model = value;
    udev_device_unref(device);
  }
  udev_unref(context);
  std::replace(model.begin(), model.end(), '_', ' ');
  return model;
}

// The serial number udev knows ("ID_SERIAL_SHORT", else "ID_SERIAL").
std::string udevSerial(const std::string& name) {
  udev* context = udev_new();
  if (!context) return {};
  std::string serial;
  if (udev_device* device = udev_device_new_from_subsystem_sysname(context, "block", name.c_str())) {
    const char* value = udev_device_get_property_value(device, "ID_SERIAL_SHORT");
    if (!value) value = udev_device_get_property_value(device, "ID_SERIAL");
    if (value) serial = value;
    udev_device_unref(device);
  }
  udev_unref(context);
  return serial;
}

// The /dev/disk/by-id link that points at the device, preferring a name by
// bus and serial ("ata-", "nvme-", "usb-", "scsi-") over a world-wide name;
// empty when there is none. Links of partitions ("-part1") are not the disk.
std::string byIdLink(const fs::path& devRoot, const std::string& name) {
  std::error_code ec;
  const fs::path folder = devRoot / "disk" / "by-id";
  std::vector<std::string> links;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!entry.is_symlink(ec)) continue;
    const std::string link = entry.path().filename().string();
    if (link.find("-part") != std::string::npos) continue;
    const fs::path target = fs::read_symlink(entry.path(), ec);
    if (ec || target.filename().string() != name) continue;
    links.push_back(link);
  }
  if (links.empty()) return {};
  auto rank = [](const std::string& link) { return startsWith(link, "wwn-") || startsWith(link, "nvme-eui.") ? 1 : 0; };
  std::sort(links.begin(), links.end(), [&](const std::string& a, const std::string& b) {
    return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
  });
  return (folder / links.front()).string();
}

// The kinds of device beside whole disks, loops and floppies.
enum class VolumeKind { None, DeviceMapper, Raid, NetworkBlock, Optical };

VolumeKind volumeKind(const std::string& name) {
  auto numbered = [&](const char* prefix) {
    const std::size_t n = std::string(prefix).size();
    return startsWith(name, prefix) && name.size() > n &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(n), name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
  };
  if (numbered("dm-")) return VolumeKind::DeviceMapper;
  if (numbered("md")) return VolumeKind::Raid;
  if (numbered("nbd")) return VolumeKind::NetworkBlock;
  if (numbered("sr")) return VolumeKind::Optical;
  return VolumeKind::None;
}

// A device-mapper volume's model from its name and the owner its uuid names
// ("CRYPT-LUKS2-...", "LVM-...").
std::string deviceMapperModel(const fs::path& sysDir, const std::string& mapperName) {
  const std::string uuid = readLine(sysDir / "dm" / "uuid");
  std::string kind = "Device-mapper volume";
  if (startsWith(uuid, "CRYPT-LUKS")) kind = "LUKS volume";
  else if (startsWith(uuid, "CRYPT-")) kind = "Encrypted volume";
  else if (startsWith(uuid, "LVM-")) kind = "LVM volume";
  return mapperName.empty() ? kind : kind + " " + mapperName;
}

DeviceInfo describe(const fs::path& sysDir, const fs::path& devRoot, const std::string& name, bool realSys) {
  DeviceInfo d;
  d.devicePath = (devRoot / name).string();
  try {
    d.sizeBytes = std::stoull("0" + readLine(sysDir / "size")) * 512;  // always 512-byte units
  } catch (...) {
    d.sizeBytes = 0;
  }
  switch (volumeKind(name)) {
    case VolumeKind::DeviceMapper: {
      // Shown by the name it has under /dev/mapper.
      const std::string mapperName = readLine(sysDir / "dm" / "name");
      if (!mapperName.empty() && mapperName.find('/') == std::string::npos && mapperName != "." &&
          mapperName != "..")
        d.devicePath = (devRoot / "mapper" / mapperName).string();
      d.model = deviceMapperModel(sysDir, mapperName);
      d.mediaType = "Device-mapper volume";
      break;
    }
    case VolumeKind::Raid: {
      const std::string level = readLine(sysDir / "md" / "level");
      d.model = level.empty() ? "RAID array" : "RAID array (" + level + ")";
      d.mediaType = "RAID array";
      break;
    }
    case VolumeKind::NetworkBlock: {
      const std::string backend = readLine(sysDir / "backend");
      d.model = backend.empty() ? "Network block device" : "Network block device " + backend;
      d.mediaType = "Network block device";
      break;
    }
    case VolumeKind::Optical: {
      const std::string vendor = readLine(sysDir / "device" / "vendor");
      const std::string model = readLine(sysDir / "device" / "model");
      d.model = vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
      d.mediaType = "Optical disc";
      break;
    }
    case VolumeKind::None:
      if (startsWith(name, "loop")) {
        d.model = readLine(sysDir / "loop" / "backing_file");
        d.mediaType = "Loop device";
      } else {
        d.model = readLine(sysDir / "device" / "model");
        if (d.model.empty()) d.model = readLine(sysDir / "device" / "name");
        d.mediaType = readLine(sysDir / "removable") == "1" ? "Removable media" : "Fixed hard disk media";
      }
      break;
  }
  if (d.model.empty() && realSys) d.model = udevModel(name);
  d.serial = readLine(sysDir / "device" / "serial");
  if (d.serial.empty() && realSys) d.serial = udevSerial(name);
  d.byId = byIdLink(devRoot, name);
  d.removable = readLine(sysDir / "removable") == "1";
  fillGeometry(d);
  return d;
}

}  // namespace

namespace {

// Compares names digit runs as numbers and letter runs of the drive letters
// shorter first, so "sdz" comes before "sdaa" as the kernel names them.
bool naturalLessFrom(const std::string& a, const std::string& b, std::size_t i, std::size_t j);

const char* const kDiskPrefixes[] = {"mmcblk", "nvme", "loop", "xvd", "sd", "vd", "hd", "fd", "dm-", "md", "nbd", "sr"};

std::size_t knownPrefix(const std::string& name) {
  for (const char* p : kDiskPrefixes)
    if (name.rfind(p, 0) == 0) return std::string(p).size();
  return 0;
}

}  // namespace

bool naturalLess(const std::string& a, const std::string& b) {
  std::size_t pa = knownPrefix(a), pb = knownPrefix(b);
  if (pa > 0 && pb > 0 && a.compare(0, pa, b, 0, pb) == 0) {
    auto letters = [](const std::string& s, std::size_t from) {
      std::size_t e = from;
      while (e < s.size() && std::isalpha(static_cast<unsigned char>(s[e]))) ++e;
      return e - from;
    };
    std::size_t la = letters(a, pa), lb = letters(b, pb);
    if (la != lb) return la < lb;
    return naturalLessFrom(a, b, pa, pb);
  }
  return naturalLessFrom(a, b, 0, 0);
}

namespace {

bool naturalLessFrom(const std::string& a, const std::string& b, std::size_t i, std::size_t j) {
  while (i < a.size() && j < b.size()) {
    bool da = std::isdigit(static_cast<unsigned char>(a[i])), db = std::isdigit(static_cast<unsigned char>(b[j]));
    if (da && db) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  // A shorter name sorts first ("sda" before "sdaa").
  return (a.size() - i) < (b.size() - j);
}

}  // namespace

namespace {

// The names below sysBlock by group, in the order their disk numbers go:
// whole disks, loops, RAID arrays, mapped volumes, network block devices,
// optical drives; floppies apart. Only sysfs is read, no device is opened.
struct DeviceGroups {
  std::vector<std::string> disks, loops, floppies, raids, mapped, network, optical;
};

DeviceGroups groupDevices(const fs::path& sysBlock) {
  // Whole disks and loop devices keep the numbers they had before the other
  // kinds were listed: those come after them.
  DeviceGroups g;
  std::error_code ec;
  auto hasMedia = [](const fs::path& dir) { return readLine(dir / "size") != "" && readLine(dir / "size") != "0"; };
  for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
    std::string name = entry.path().filename().string();
    if (isWholeDisk(name)) g.disks.push_back(name);
    else if (startsWith(name, "loop") && !readLine(entry.path() / "loop" / "backing_file").empty())
      g.loops.push_back(name);
    else if (startsWith(name, "fd")) g.floppies.push_back(name);
    else if (const VolumeKind kind = volumeKind(name); kind != VolumeKind::None && hasMedia(entry.path())) {
      // An inactive array, an unconnected nbd or an empty optical drive has
      // size 0 and nothing to read: not listed.
      switch (kind) {
        case VolumeKind::Raid: g.raids.push_back(name); break;
        case VolumeKind::DeviceMapper: g.mapped.push_back(name); break;
        case VolumeKind::NetworkBlock: g.network.push_back(name); break;
        case VolumeKind::Optical: g.optical.push_back(name); break;
        case VolumeKind::None: break;
      }
    }
  }
  return g;
}

}  // namespace

std::uint32_t countDisks(const fs::path& sysBlock) {
  const DeviceGroups g = groupDevices(sysBlock);
  return static_cast<std::uint32_t>(g.disks.size() + g.loops.size() + g.raids.size() + g.mapped.size() +
                                    g.network.size() + g.optical.size());
}

std::vector<DeviceInfo> enumerateDevices(const fs::path& sysBlock, const fs::path& devRoot) {
  const bool realSys = sysBlock == fs::path("/sys/block");
  DeviceGroups g = groupDevices(sysBlock);
  std::vector<DeviceInfo> out;
  std::uint32_t number = 0;
  for (auto* group : {&g.disks, &g.loops, &g.raids, &g.mapped, &g.network, &g.optical}) {
    std::sort(group->begin(), group->end(), naturalLess);
    for (const auto& name : *group) {
      DeviceInfo d = describe(sysBlock / name, devRoot, name, realSys);
      d.number = number++;
      d.name = "Disk" + std::to_string(d.number);
      out.push_back(std::move(d));
    }
  }
  std::sort(g.floppies.begin(), g.floppies.end(), naturalLess);
  for (const auto& name : g.floppies) {
    DeviceInfo d = describe(sysBlock / name, devRoot, name, realSys);
    d.floppy = true;
    d.name = "Floppy Drive";
    d.mediaType = "Floppy";
    d.number = number;  // floppies take no disk number of their own
    out.push_back(std::move(d));
  }
  return out;
}

DeviceInfo makeImageDevice(std::uint32_t number, const std::string& firstFile, std::uint64_t totalBytes) {
  DeviceInfo d;
  d.number = number;
  d.name = "Disk" + std::to_string(number);
  std::error_code ec;
  auto canonical = fs::weakly_canonical(fs::absolute(firstFile, ec), ec);
  d.devicePath = ec ? firstFile : canonical.string();
  d.model = d.devicePath;
  d.mediaType = "Image";
  d.sizeBytes = totalBytes;
  d.heads = 255;
  d.sectorsPerTrack = 63;
  d.cylinders = totalBytes / 512 / 16065;
  d.image = true;
  return d;
}

std::string describeDiskIdentity(const DeviceInfo& d) {
  std::string text = d.devicePath;
  auto add = [&](const std::string& part) {
    if (part.empty()) return;
    text += text.empty() ? part : ", " + part;
  };
  if (d.model != d.devicePath) add(d.model);
  const std::string size = formatMegaGiga(d.sizeBytes);
  add(size);
  if (!d.serial.empty()) add("serial " + d.serial);
  if (!d.byId.empty()) add(d.byId);
  return text;
}

std::vector<std::string> diskIdentityRows(const DeviceInfo& d) {
  if (d.image) return {};
  std::vector<std::string> rows{"Device Path : " + d.devicePath};
  if (!d.serial.empty()) rows.push_back("Serial Number : " + d.serial);
  if (!d.byId.empty()) rows.push_back("By-id : " + d.byId);
  return rows;
}

std::vector<std::string> deviceInformationRows(const DeviceInfo& d) {
  return {
      "Physical Disk Number : " + std::to_string(d.number),
      "Model   : " + d.model,
      "Media Type   : " + d.mediaType,
      "Cylinder   : " + std::to_string(d.cylinders),
      "Head   : " + std::to_string(d.heads),
      "Sectors Per Track   : " + std::to_string(d.sectorsPerTrack),
      "Disk Size  : " + std::to_string(d.sizeBytes / 1048576) + " MB",
  };
}

void cacheDevice(ConfigStore& store, const DeviceInfo& d) {
  std::string key = "Disk" + std::to_string(d.number);
  std::string base = std::string(kCacheKey) + "\\";
  store.setValue(kCacheKey, key, d.name);
  store.setValue(base + "Cylinder", key, std::to_string(d.cylinders));
  store.setValue(base + "Head", key, std::to_string(d.heads));
  store.setValue(base + "SectorsPerTrack", key, std::to_string(d.sectorsPerTrack));
  store.setValue(base + "Size", key, std::to_string(d.sizeBytes));
  store.setValue(base + "Model", key, d.model);
  store.setValue(base + "MediaType", key, d.mediaType);
  store.setValue(base + "DisplayDevice", key, d.devicePath);
}

void writeGeometryCache(ConfigStore& store, const std::vector<DeviceInfo>& devices) {
  std::string base = std::string(kCacheKey) + "\\";
  for (const char* sub : {"Cylinder", "Head", "MediaType", "Model", "SectorsPerTrack", "Size", "DisplayDevice"})
    store.removeSection(base + sub);
  store.removeSection(kCacheKey);
  for (const auto& d : devices)
    if (!d.floppy) cacheDevice(store, d);
}

DeviceInfo readCachedDevice(const ConfigStore& store, std::uint32_t number) {
  DeviceInfo d;
  std::string key = "Disk" + std::to_string(number);
  std::string base = std::string(kCacheKey) + "\\";
  d.number = number;
  d.name = key;
  auto num = [&](const char* sub) {
    std::string v = store.value(base + sub, key);
    try {
      return v.empty() ? 0ULL : std::stoull(v);
    } catch (...) {
      return 0ULL;
    }
  };
  d.cylinders = num("Cylinder");
  d.heads = static_cast<std::uint32_t>(num("Head"));
  d.sectorsPerTrack = static_cast<std::uint32_t>(num("SectorsPerTrack"));
  d.sizeBytes = num("Size");
  d.model = store.value(base + "Model", key);
  d.mediaType = store.value(base + "MediaType", key);
  d.devicePath = store.value(base + "DisplayDevice", key);
  d.image = d.mediaType == "Image";
  return d;
}

}  // namespace dravolin
