#include "disk/container_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstring>

#include "disk/container_source.h"

namespace dravolin {
namespace fs = std::filesystem;

namespace {

// Magic numbers at the start of each container.
constexpr char kEwfMagic[] = {'E', 'V', 'F', '\x09', '\x0d', '\x0a', '\xff', '\x00'};   // E01
constexpr char kEwf2Magic[] = {'E', 'V', 'F', '2', '\x0d', '\x0a', '\x81', '\x00'};     // Ex01
constexpr char kQcowMagic[] = {'Q', 'F', 'I', '\xfb'};
constexpr char kVmdkSparseMagic[] = {'K', 'D', 'M', 'V'};
constexpr char kVmdkDescriptor[] = "# Disk DescriptorFile";
constexpr char kVhdxMagic[] = "vhdxfile";
constexpr char kVhdCookie[] = "conectix";  // the VHD footer: at the end, and its copy at 0 when dynamic
constexpr std::size_t kVhdFooterSize = 512;

template <std::size_t N>
bool startsWith(const std::array<char, 512>& head, std::size_t got, const char (&magic)[N], std::size_t n = N) {
  return got >= n && std::memcmp(head.data(), magic, n) == 0;
}

bool hasVhdExtension(const fs::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".vhd";
}

struct Availability {
  bool supported;
  const char* instead;  // what to do when this build cannot read it
};

Availability availability(ContainerKind kind) {
  switch (kind) {
    case ContainerKind::Ewf:
#ifdef DRAVOLIN_HAVE_LIBEWF
      return {true, ""};
#else
      return {false, "export it to a raw image with ewfexport"};
#endif
    case ContainerKind::Qcow:
#ifdef DRAVOLIN_HAVE_LIBQCOW
      return {true, ""};
#else
      return {false, "convert it with qemu-img convert -O raw"};
#endif
    case ContainerKind::Vmdk:
#ifdef DRAVOLIN_HAVE_LIBVMDK
      return {true, ""};
#else
      return {false, "convert it with qemu-img convert -O raw"};
#endif
    case ContainerKind::Vhd:
    case ContainerKind::Vhdx:
#ifdef DRAVOLIN_HAVE_LIBVHDI
      return {true, ""};
#else
      return {false, "convert it with qemu-img convert -O raw"};
#endif
  }
  return {false, ""};
}

const char* libraryOf(ContainerKind kind) {
  switch (kind) {
    case ContainerKind::Ewf: return "libewf";
    case ContainerKind::Qcow: return "libqcow";
    case ContainerKind::Vmdk: return "libvmdk";
    case ContainerKind::Vhd:
    case ContainerKind::Vhdx: return "libvhdi";
  }
  return "its library";
}

}  // namespace

std::string containerName(ContainerKind kind) {
  switch (kind) {
    case ContainerKind::Ewf: return "EnCase (E01)";
    case ContainerKind::Qcow: return "qcow2";
    case ContainerKind::Vmdk: return "VMDK";
    case ContainerKind::Vhd: return "VHD";
    case ContainerKind::Vhdx: return "VHDX";
  }
  return "container";
}

std::optional<ContainerKind> detectContainer(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::array<char, 512> head{};
  const ssize_t read = ::pread(fd, head.data(), head.size(), 0);
  const std::size_t got = read > 0 ? static_cast<std::size_t>(read) : 0;
  std::optional<ContainerKind> kind;
  if (startsWith(head, got, kEwfMagic) || startsWith(head, got, kEwf2Magic)) kind = ContainerKind::Ewf;
  else if (startsWith(head, got, kQcowMagic)) kind = ContainerKind::Qcow;
  else if (startsWith(head, got, kVmdkSparseMagic) || startsWith(head, got, kVmdkDescriptor, sizeof kVmdkDescriptor - 1))
    kind = ContainerKind::Vmdk;
  else if (startsWith(head, got, kVhdxMagic, sizeof kVhdxMagic - 1)) kind = ContainerKind::Vhdx;
  else if (startsWith(head, got, kVhdCookie, sizeof kVhdCookie - 1)) kind = ContainerKind::Vhd;
  else if (hasVhdExtension(path)) {
    // A fixed VHD is the raw disk followed by its footer. Only a file named
    // so is asked for one: reading the last sector of every raw image would
    // read a failing disk's last sector once more (and read as raw, a fixed
    // VHD is its disk with one sector more anyway).
    const off_t end = ::lseek(fd, 0, SEEK_END);
    std::array<char, 512> tail{};
    if (end >= static_cast<off_t>(2 * kVhdFooterSize) &&
        ::pread(fd, tail.data(), tail.size(), end - static_cast<off_t>(kVhdFooterSize)) == static_cast<ssize_t>(tail.size()) &&
        std::memcmp(tail.data(), kVhdCookie, sizeof kVhdCookie - 1) == 0)
      kind = ContainerKind::Vhd;
  }
  ::close(fd);
  return kind;
}

bool containerSupported(ContainerKind kind) { return availability(kind).supported; }

Result<std::unique_ptr<SectorSource>> openContainer(const fs::path& path, ContainerKind kind) {
  const Availability how = availability(kind);
  if (!how.supported)
    return makeError(ErrorKind::Corrupt, path.string() + ": " + containerName(kind) +
                                             " image, which this build of Dravolin cannot read (it was built without " +
                                             libraryOf(kind) + "); " + how.instead);
  Result<std::unique_ptr<ContainerReader>> reader = makeError(ErrorKind::InvalidArgument, "");
  switch (kind) {
#ifdef DRAVOLIN_HAVE_LIBEWF
    case ContainerKind::Ewf: reader = openEwfReader(path); break;
#endif
#ifdef DRAVOLIN_HAVE_LIBQCOW
    case ContainerKind::Qcow: reader = openQcowReader(path); break;
#endif
#ifdef DRAVOLIN_HAVE_LIBVMDK
    case ContainerKind::Vmdk: reader = openVmdkReader(path); break;
#endif
#ifdef DRAVOLIN_HAVE_LIBVHDI
    case ContainerKind::Vhd:
    case ContainerKind::Vhdx: reader = openVhdiReader(path); break;
#endif
    default: break;
  }
  if (!reader) {
    const char* instead = kind == ContainerKind::Ewf ? "export it to a raw image with ewfexport"
                                                     : "convert it with qemu-img convert -O raw";
    return makeError(ErrorKind::Corrupt, path.string() + ": the " + containerName(kind) + " image could not be opened (" +
                                             reader.error().message + "); " + instead);
  }
  return std::unique_ptr<SectorSource>(new ContainerSectorSource(std::move(*reader), path.string()));
}

TransferStatus ContainerSectorSource::read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (out.size() < bytes) return TransferStatus::IoError;
  if (first >= sectorCount()) return TransferStatus::PastEnd;
  const std::uint64_t offset = first * kSectorSize;
  const std::uint64_t inside = std::min(bytes, size_ - offset);
  {
    std::lock_guard lock(mutex_);
    if (!reader_->readAt(offset, out.data(), inside)) return TransferStatus::IoError;
  }
  if (inside < bytes) std::memset(out.data() + inside, 0, bytes - inside);
  return TransferStatus::Ok;
}

}  // namespace dravolin
