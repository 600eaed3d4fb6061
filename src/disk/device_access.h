#pragma once
// Opening a disk this user may not open: when the kernel refuses (EACCES,
// EPERM), a broker may hand over a descriptor instead. On a desktop that is
// UDisks2 over the system D-Bus, which asks polkit (and so the user for a
// password): Block.OpenForBackup to read a source, Block.OpenForRestore to
// write an imaging target.
#include <functional>
#include <memory>
#include <string>

#include "common/error.h"
#include "disk/file_source.h"

namespace dravolin {

enum class AccessPurpose {
  ReadSource,   // OpenForBackup: read-only
  WriteTarget,  // OpenForRestore: read-write
};

// Returns an open descriptor of path for purpose, owned by the caller, or an
// Error whose message says why not.
using DescriptorBroker = std::function<Result<int>(const std::string& path, AccessPurpose purpose)>;

// Opens path read-only (ReadSource) or read-write (WriteTarget). When the
// kernel refuses access and broker is set, asks broker for a descriptor.
// When that fails too, the error names the disk and how to get access.
// treatAsImage marks a regular file as a disk image (FileSectorSource).
Result<std::unique_ptr<FileSectorSource>> openDevice(const std::string& path, AccessPurpose purpose,
                                                     const DescriptorBroker& broker, bool treatAsImage = false);

// "PATH: Permission denied. To get access, join the disk group ... or run the
// program with pkexec" (for a file that is no disk: have its owner let you
// read it, or pkexec); reason (the broker's answer) goes in parentheses.
std::string accessAdvice(const std::string& path, const std::string& reason);

// Asks UDisks2 on the system bus ($DBUS_SYSTEM_BUS_ADDRESS when set) for a
// descriptor of the block device at path; polkit may ask the user first.
Result<int> openThroughUDisks(const std::string& path, AccessPurpose purpose);

}  // namespace dravolin
