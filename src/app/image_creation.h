#pragma once
// The image-creation page without windows: the target disks a copy may go
// to, the checks and messages of its Next (existing image, free space,
// target size, the "All data will be lost" question), its lines in the
// activity report, and the request the imaging worker runs with.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/search_controller.h"
#include "app/session.h"
#include "common/error.h"
#include "disk/devices.h"
#include "disk/file_source.h"
#include "imaging/image_creation.h"

namespace dravolin {

inline constexpr const char* kInsufficientSpaceMessage =
    "Insufficient free space on target. Please change target drive.";
inline constexpr const char* kImageExistsMessage = "This image file already exists. Select different file";

// Where the kernel tells which block devices are in use; tests point these
// at folders and files of their own.
struct DiskUsageProbe {
  std::filesystem::path sysBlock = "/sys/block";
  std::filesystem::path mountInfo = "/proc/self/mountinfo";
  std::filesystem::path swaps = "/proc/swaps";
};

// Why a disk must not be written: one of its partitions (or the disk
// itself) is mounted, used as swap, or held by another device (LVM, RAID).
// Empty when it is free.
std::string diskInUseReason(const DeviceInfo& disk, const DiskUsageProbe& probe = {});

// One entry of the target disk box; refusal is empty for a usable disk.
struct TargetDisk {
  DeviceInfo device;
  std::string refusal;
};

// Free bytes for an unprivileged writer on the volume that holds folder.
using FreeSpaceQuery = std::function<Result<std::uint64_t>(const std::filesystem::path& folder)>;
Result<std::uint64_t> queryFreeSpace(const std::filesystem::path& folder);

class ImageCreationPage {
 public:
  explicit ImageCreationPage(Session& session, DiskUsageProbe probe = {});

  // The disks of the machine as targets: floppies are left out; the disk
  // that holds the source and disks in use carry a refusal.
  std::vector<TargetDisk> targetDisks(const std::vector<DeviceInfo>& devices) const;

  // Bytes of the committed selection: (PartitionEnd - PartitionStart) x 512.
  std::uint64_t neededBytes() const;

  // Next with the type "Image". An existing first piece is refused unless
  // overwrite is set; the copy needs more free space than its size (counting
  // the pieces it replaces). The refusal's text is the error message.
  [[nodiscard]] Result<void> nextImage(const std::filesystem::path& destination, bool multiFile,
                                             bool overwrite, const FreeSpaceQuery& freeSpace = queryFreeSpace);

  // Next with the type "Disk": a target at least as large as the selection
  // (an identical disk fits), then the question "All data will be lost in
  // Target Disk". A Cancelled error (with no message) means the user
  // answered No.
  [[nodiscard]] Result<void> nextDisk(const TargetDisk& target, Prompter& prompter);

  // Opens the target disk for writing (the only disk ever opened so).
  Result<void> openTarget();

  // The worker's request for the committed selection and settings; the
  // clock of the controller gives the elapsed time.
  ImagingRequest request(SearchController& controller);

  // The imaging worker over request(controller), filling result as it goes
  // (its counters may be read while it runs).
  SearchController::Worker worker(SearchController& controller, ImagingResult& result);

  const ImagingSettings& settings() const { return session_.state.imaging; }

 private:
  std::string sourceDiskReason(const DeviceInfo& disk) const;
  bool isSourceFile(const std::filesystem::path& path) const;

  Session& session_;
  DiskUsageProbe probe_;
  std::string targetPath_;  // device path of the chosen target disk
  std::unique_ptr<FileSectorSource> target_;
  std::unique_ptr<SectorReader> targetWriter_;
};

}  // namespace dravolin
