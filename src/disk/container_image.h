#pragma once
// Container images, read through the library made for each: EnCase E01/Ex01
// (libewf), qcow2 (libqcow), VMDK (libvmdk), VHD and VHDX (libvhdi). A
// container is told by the magic at its start (or, for a fixed VHD, the
// footer at its end), not by its name; it then reads like a raw image.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/error.h"
#include "disk/sector_source.h"

namespace dravolin {

enum class ContainerKind { Ewf, Qcow, Vmdk, Vhd, Vhdx };

// "EnCase (E01)", "qcow2", "VMDK", "VHD", "VHDX".
std::string containerName(ContainerKind kind);

// The container a file holds, from its first bytes and its last 512; nullopt
// for anything else (a raw image).
std::optional<ContainerKind> detectContainer(const std::filesystem::path& path);

// Whether this build reads the kind (its library was found at build time).
bool containerSupported(ContainerKind kind);

// Opens the container read-only. Without its library, or when the library
// refuses the file, the error names the container and what to do instead.
Result<std::unique_ptr<SectorSource>> openContainer(const std::filesystem::path& path, ContainerKind kind);

}  // namespace dravolin
