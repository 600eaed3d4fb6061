#include "app/image_creation.h"

#include "disk/device_access.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "disk/image_set.h"
#include "imaging/image_pieces.h"

namespace dravolin {
namespace fs = std::filesystem;

namespace {

std::string firstLine(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\r')) s.pop_back();
  return s;
}

// The kernel's name of a block device path ("/dev/sdb" -> "sdb").
std::string kernelName(const std::string& devicePath) {
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(devicePath, ec);
  return (ec ? fs::path(devicePath) : canonical).filename().string();
}

// The disk and its partitions: kernel names and "major:minor" numbers.
struct DiskNodes {
  std::set<std::string> names;
  std::set<std::string> numbers;
};

DiskNodes diskNodes(const std::string& name, const fs::path& sysBlock) {
  DiskNodes nodes;
  nodes.names.insert(name);
  const fs::path disk = sysBlock / name;
  if (auto dev = firstLine(disk / "dev"); !dev.empty()) nodes.numbers.insert(dev);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(disk, ec)) {
    if (!fs::exists(entry.path() / "partition", ec)) continue;
    nodes.names.insert(entry.path().filename().string());
    if (auto dev = firstLine(entry.path() / "dev"); !dev.empty()) nodes.numbers.insert(dev);
  }
  return nodes;
}

// Undoes the octal escapes of /proc/self/mountinfo ("\040" for a blank).
std::string unescapeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool namesNode(const std::string& devicePath, const DiskNodes& nodes) {
  if (devicePath.rfind("/dev/", 0) != 0) return false;
  return nodes.names.count(kernelName(devicePath)) > 0;
}

std::vector<fs::path> filesOf(SectorSource* source) {
  std::vector<fs::path> files;
  if (!source) return files;
  if (auto* set = dynamic_cast<ImageSetSource*>(source)) {
    files = set->layout().pieces;
  } else {
    files.emplace_back(source->description());
  }
  return files;
}

bool samePath(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// The whole disk a block device belongs to ("sdb1" -> "sdb").
std::string owningDisk(const std::string& devicePath, const fs::path& sysBlock) {
  struct stat st{};
  if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  std::error_code ec;
  fs::path node = fs::canonical(sysBlock.parent_path() / "dev" / "block" / number, ec);
  if (ec) return kernelName(devicePath);
  if (fs::exists(node / "partition", ec)) return node.parent_path().filename().string();
  return node.filename().string();
}

}  // namespace

std::string diskInUseReason(const DeviceInfo& disk, const DiskUsageProbe& probe) {
  const std::string name = kernelName(disk.devicePath);
  const DiskNodes nodes = diskNodes(name, probe.sysBlock);
  const std::string who = disk.name + " (" + disk.devicePath + ")";

  std::ifstream mounts(probe.mountInfo);
  for (std::string line; std::getline(mounts, line);) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::istringstream fields(line);
    std::string id, parent, number, root, mountPoint;
    fields >> id >> parent >> number >> root >> mountPoint;
    std::string source;
    const auto dash = line.find(" - ");
    if (dash != std::string::npos) {
      std::istringstream rest(line.substr(dash + 3));
      std::string type;
      rest >> type >> source;
      source = unescapeMountField(source);
    }
    if (nodes.numbers.count(number) || namesNode(source, nodes))
      return who + " has a mounted file system (" + (source.empty() ? number : source) + " on " +
             unescapeMountField(mountPoint) + ")";
  }

  std::ifstream swaps(probe.swaps);
  std::string header;
  std::getline(swaps, header);
  for (std::string line; std::getline(swaps, line);) {
    std::istringstream fields(line);
    std::string file;
    fields >> file;
    file = unescapeMountField(file);
    if (namesNode(file, nodes)) return who + " is in use as swap (" + file + ")";
  }

  std::error_code ec;
  for (const auto& node : nodes.names) {
    fs::path holders = probe.sysBlock / name / "holders";
    if (node != name) holders = probe.sysBlock / name / node / "holders";
    for (const auto& holder : fs::directory_iterator(holders, ec))
      return who + " is in use by " + holder.path().filename().string() + " (" + node + ")";
  }
  return {};
}

Result<std::uint64_t> queryFreeSpace(const fs::path& folder) {
  struct statvfs info{};
  if (::statvfs(folder.c_str(), &info) != 0)
    return makeError(ErrorKind::Io, folder.string() + ": " + std::strerror(errno));
  return std::uint64_t{info.f_bavail} * std::uint64_t{info.f_frsize};
}

ImageCreationPage::ImageCreationPage(Session& session, DiskUsageProbe probe)
    : session_(session), probe_(std::move(probe)) {
  session_.state.CurrentStep = 7;
}

bool ImageCreationPage::isSourceFile(const fs::path& path) const {
  for (const auto& file : filesOf(session_.source()))
    if (samePath(file, path)) return true;
  return false;
}

std::string ImageCreationPage::sourceDiskReason(const DeviceInfo& disk) const {
  const std::string who = disk.name + " (" + disk.devicePath + ")";
  const std::string target = kernelName(disk.devicePath);
  // A device source: the disk it is, or the disk its partition lies on.
  for (const auto& file : filesOf(session_.source())) {
    if (samePath(file, disk.devicePath) || owningDisk(file.string(), probe_.sysBlock) == target)
      return who + " holds the source being imaged";
  }
  // A loop device whose backing file is the source image.
  std::string backing = firstLine(probe_.sysBlock / target / "loop" / "backing_file");
  if (!backing.empty() && isSourceFile(backing)) return who + " holds the source being imaged";
  return {};
}

std::vector<TargetDisk> ImageCreationPage::targetDisks(const std::vector<DeviceInfo>& devices) const {
  std::vector<TargetDisk> targets;
  for (const auto& device : devices) {
    if (device.floppy || device.image) continue;
    TargetDisk target{device, sourceDiskReason(device)};
    if (target.refusal.empty()) target.refusal = diskInUseReason(device, probe_);
    if (!target.refusal.empty()) target.refusal += "; it cannot be the target";
    targets.push_back(std::move(target));
  }
  return targets;
}

std::uint64_t ImageCreationPage::neededBytes() const {
  const auto& s = session_.state;
  const auto end = static_cast<std::uint64_t>(s.PartitionEnd);
  return end > s.PartitionStart ? (end - s.PartitionStart) * kSectorSize : 0;
}

Result<void> ImageCreationPage::nextImage(const fs::path& destination, bool multiFile,
                                                              bool overwrite, const FreeSpaceQuery& freeSpace) {
  std::error_code ec;
  if (destination.empty() || fs::is_directory(destination, ec))
    return makeError(ErrorKind::InvalidArgument, "The destination must name an image file, for instance " +
                                                     (destination / "Image.img").string());
  const std::uint64_t needed = neededBytes();
  const std::uint64_t sectors = needed / kSectorSize;
  const std::uint64_t pieceCount = piecesNeeded(sectors, multiFile, kImagePieceSectors);
  auto& imaging = session_.state.imaging;
  const bool keepName = imaging.keepDestinationName && !multiFile;
  // A rescue that continues its mapfile writes into the image it began.
  const bool resuming = !imaging.mapfile.empty() && fs::exists(imaging.mapfile, ec);
  auto fileName = [&](std::uint64_t n) { return imageFileName(destination, n, keepName); };
  // Without overwrite every piece is made as a new file: a name that is
  // taken is refused here rather than after the pieces before it were copied.
  if (!overwrite && !resuming)
    for (std::uint64_t n = 0; n < pieceCount; ++n)
      if (fs::exists(fs::symlink_status(fileName(n), ec)))
        return makeError(ErrorKind::InvalidArgument, kImageExistsMessage);
  // The copy must never replace the source it reads, nor remove it as the
  // list of an earlier copy.
  std::vector<fs::path> written = {badSectorListPath(destination)};
  for (const char* algorithm : {"md5", "sha1", "sha256"})
    written.push_back(hashFilePath(hashListPath(destination), algorithm));
  if (!imaging.mapfile.empty()) written.push_back(imaging.mapfile);
  // The piece after the last is removed at the end when it exists.
  for (std::uint64_t n = 0; n <= pieceCount; ++n) written.push_back(fileName(n));
  for (const auto& file : written)
    if (isSourceFile(file))
      return makeError(ErrorKind::InvalidArgument, file.string() + " is the source being imaged. Select different file");

  auto& log = session_.activityLog();
  log.appendLines({"\r\n", "Step 2 (b):", "-------"});
  auto& settings = session_.state.imaging;
  settings.ImageToDisk = false;
  settings.ImageDestination = destination;
  settings.overwrite = overwrite;

  fs::path folder = fs::absolute(destination, ec).parent_path();
  auto free = freeSpace(folder);
  if (!free) return std::unexpected(free.error());
  // Pieces this copy truncates give their room back.
  std::uint64_t reclaimed = 0;
  for (std::uint64_t n = 0; n < pieceCount; ++n) {
    fs::path piece = fileName(n);
    if (fs::is_regular_file(fs::symlink_status(piece, ec))) reclaimed += fs::file_size(piece, ec);
  }
  if (!(needed < *free + reclaimed)) return makeError(ErrorKind::InvalidArgument, kInsufficientSpaceMessage);

  settings.MultiFileImage = multiFile;
  settings.badSectorList = badSectorListPath(destination);
  settings.hashList = hashListPath(destination);
  log.appendLines({"Image Creation Type : Image", "Destination Image : " + destination.string(),
                   std::string("Multifile : ") + (multiFile ? "Checked" : "Not Checked")});
  return {};
}

Result<void> ImageCreationPage::nextDisk(const TargetDisk& target, Prompter& prompter) {
  if (!target.refusal.empty()) return makeError(ErrorKind::InvalidArgument, target.refusal);
  const std::uint64_t needed = neededBytes();
  auto& log = session_.activityLog();
  log.appendLines({"\r\n", "Step 2 (b):", "-------"});
  const DeviceInfo& disk = target.device;
  // A target of exactly the selection's size takes the whole copy.
  if (needed > disk.sizeBytes) return makeError(ErrorKind::InvalidArgument, kInsufficientSpaceMessage);
  log.appendLines({"Image Creation Type : Disk", "Destination Disk : " + disk.name, "Model Number : " + disk.model,
                   "Total Heads : " + std::to_string(disk.heads),
                   "Sector Per Cluster : " + std::to_string(disk.sectorsPerTrack),
                   "Disk Size : " + std::to_string(disk.sizeBytes / 1048576) + " MB"});
  auto& settings = session_.state.imaging;
  settings.ImageToDisk = true;
  settings.ImageTargetDrive = disk.number;
  settings.ImageTargetLabel = disk.name + " - " + disk.model;
  // Unreadable sectors of a copy to a disk are listed beside the activity report.
  settings.badSectorList = session_.activityLog().folder() / (disk.name + ".bad-sectors.txt");
  settings.hashList.clear();  // a disk has no folder: the hashes go to the report only
  targetPath_ = disk.devicePath;
  const std::string question = "All data will be lost in Target Disk -\r\n" + disk.name + " - " + disk.model +
                               "\r\n\r\nAre you sure you want to continue ?\r\n";
  if (!prompter.askYesNo(question)) return makeError(ErrorKind::Cancelled, "");
  return {};
}

Result<void> ImageCreationPage::openTarget() {
  target_.reset();
  targetWriter_.reset();
  if (!session_.state.imaging.ImageToDisk) return {};
  auto opened = openDevice(targetPath_, AccessPurpose::WriteTarget, session_.deviceAccess);
  if (!opened) return std::unexpected(opened.error());
  if (!(*opened)->isBlockDevice())
    return makeError(ErrorKind::InvalidArgument, targetPath_ + ": not a disk");
  // The disk may have changed since it was listed: check its real size again.
  if ((*opened)->sizeInBytes() < neededBytes()) return makeError(ErrorKind::Io, kInsufficientSpaceMessage);
  target_ = std::move(*opened);
  targetWriter_ = std::make_unique<SectorReader>(*target_);
  return {};
}

ImagingRequest ImageCreationPage::request(SearchController& controller) {
  const auto& s = session_.state;
  ImagingRequest request;
  request.source = session_.reader();
  request.start = s.PartitionStart;
  request.end = static_cast<SectorNumber>(s.PartitionEnd);
  request.settings = s.imaging;
  request.target = targetWriter_.get();
  request.activityLog = &session_.activityLog();
  request.elapsedText = [&controller] {
    controller.tick();
    return controller.clockText();
  };
  return request;
}

SearchController::Worker ImageCreationPage::worker(SearchController& controller, ImagingResult& result) {
  return [request = this->request(controller), &result, &controller](Job& job) {
    if (auto ran = runImageCreation(job, request, result); !ran) controller.fail(ran.error().message);
  };
}

}  // namespace dravolin
