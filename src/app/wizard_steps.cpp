#include "app/wizard_steps.h"

#include <algorithm>

#include "app/volume_check.h"
#include "common/format.h"
#include "partition/manual_range.h"

namespace dravolin {

std::string stepOneTitle(RecoveryMode recoveryMode) {
  switch (recoveryMode) {
    case kImageRecovery: return "Step 1 : Image Recovery";
    case kRawRecovery:
    case kRawRecoverySearch: return "Step 1 : Raw Recovery";
    default: return "Step 1 : Desktop Recovery";
  }
}

void commitStep1(Session& session, RecoveryMode recoveryMode) {
  auto& log = session.activityLog();
  log.appendLines({"\r\n", stepOneTitle(recoveryMode), "-------", "Device Information : "});
  log.appendLines(deviceInformationRows(session.device()));
  auto& s = session.state;
  s.SelectedDrive = session.device().number;
  s.selectedDeviceText = session.device().name;
  s.SourceIsImage = session.device().image;
  s.RecoveryMode = recoveryMode;
  s.ImageCreationMode = recoveryMode == kImageRecovery;
  if (recoveryMode == kDesktopRecovery && session.reader()) session.reader()->setPolicy(BadSectorPolicy::Retry);
  if (recoveryMode == kDesktopRecovery) s.CurrentStep = 1;
  else if (recoveryMode == kImageRecovery) s.CurrentStep = 6;
  else s.CurrentStep = 9;
}

bool runVolumeCheck(Session& session) {
  auto& s = session.state;
  if (!hasVolumeCheck(s.FileSystemType) || !session.reader()) return true;
  auto checked = checkVolume(*session.reader(), s.FileSystemType, s.PartitionStart,
                             static_cast<SectorNumber>(s.PartitionEnd), s.volumeParameters);
  if (!checked) return false;
  s.volumeParameters = *checked;
  return true;
}

// Cuts the committed selection at the end of the source. A volume whose
// boot sector or table entry claims more sectors than the disk holds would
// otherwise make every job read (and wait for) sectors that do not exist.
static void clampToSource(Session& session) {
  auto& s = session.state;
  s.selectionWarning.clear();
  if (!session.source() || s.PartitionEnd <= 0) return;
  const std::uint64_t sectors = session.source()->sectorCount();
  const auto end = static_cast<std::uint64_t>(s.PartitionEnd);
  if (end <= sectors) return;
  const std::uint64_t cut = std::max<std::uint64_t>(sectors, s.PartitionStart);
  s.selectionWarning = "End sector " + std::to_string(end) + " lies past the end of the source (" +
                       std::to_string(sectors) + " sectors): the selection was cut at the end of the source, sector " +
                       std::to_string(cut);
  s.PartitionEnd = static_cast<std::int64_t>(cut);
  session.activityLog().append(s.selectionWarning);
}

static void setSelectionEnd(Session& session) {
  clampToSource(session);
  if (session.reader()) session.reader()->setSelectionEnd(session.state.PartitionEnd);
}

std::string partitionEntryRefusal(const PartitionEntry& partition) {
  if (!(partition.end > partition.start)) return "End sector should be bigger than Start sector";
  return {};
}

Result<bool> commitPartition(Session& session, const PartitionEntry& partition, bool searchExhaustive) {
  if (std::string refused = partitionEntryRefusal(partition); !refused.empty())
    return makeError(ErrorKind::InvalidArgument, std::move(refused));
  auto& s = session.state;
  s.FileSystemType = partition.fileSystem;
  s.PartitionStart = partition.start;
  s.PartitionEnd = static_cast<std::int64_t>(partition.end);
  s.selectedNodeText = partition.label();
  s.selectedPartitionIndex = partition.ordinal - 1;
  session.activityLog().appendLines({
      "\r\n", "Step 2 :", "-------", "Selected Information : " + partition.label(),
      "Partition Type : " + partition.typeText(),
      "Partition Size : " + formatPartitionSize((partition.end - partition.start) * kSectorSize),
      "Start Sector : " + std::to_string(partition.start), "End Sector : " + std::to_string(partition.end),
      searchExhaustive ? "Search Exhaustive : Checked" : "Search Exhaustive : Not Checked"});
  s.LostPartitionSearch = searchExhaustive;
  s.LostSearchPass = 0;
  // The reader's selection end moves to this partition before its check
  // reads it: the end of a partition committed before (one that lies below
  // this one) would leave the boot sector unread and the check would fail.
  setSelectionEnd(session);
  return runVolumeCheck(session);
}

void writeDiskSelection(Session& session, bool searchExhaustive) {
  const auto& d = session.device();
  session.activityLog().appendLines({"\r\n", "Step 2 :", "-------", "Selected Information : " + d.name,
                                     "Model Number : " + d.model, "Media Type : " + d.mediaType,
                                     "Disk Size : " + std::to_string(d.sizeBytes),
                                     searchExhaustive ? "Search Exhaustive : Checked"
                                                      : "Search Exhaustive : Not Checked"});
}

Result<void> commitWholeDisk(Session& session, bool searchExhaustive) {
  auto& s = session.state;
  SectorNumber start = 0;
  if (s.ImageCreationMode || (s.SourceIsImage && searchExhaustive)) start = 0;
  else if (searchExhaustive || s.RecoveryMode == kRawRecovery) start = 63;
  else return makeError(ErrorKind::InvalidArgument, "Select partition type");
  const std::uint64_t end = session.device().sizeBytes / kSectorSize;
  if (!(static_cast<std::int64_t>(end) > static_cast<std::int64_t>(start)))
    return makeError(ErrorKind::InvalidArgument, "End sector should be bigger than Start sector");
  s.PartitionStart = start;
  s.PartitionEnd = static_cast<std::int64_t>(end);
  s.FileSystemType = FsType::Unknown;
  s.selectedNodeText = session.device().name;
  writeDiskSelection(session, searchExhaustive);
  s.LostPartitionSearch = searchExhaustive;
  s.LostSearchPass = 0;
  setSelectionEnd(session);
  return {};
}

Result<void> commitManualRange(Session& session, const std::string& startText,
                                                   const std::string& endText, FsType fileSystem) {
  auto& s = session.state;
  s.CurrentStep = 5;
  bool allowUnknown = s.RecoveryMode == kRawRecovery || s.RecoveryMode == kRawRecoverySearch ||
                      s.ImageCreationMode;
  auto range = validateManualRange(startText, endText, fileSystem, s.FileSystemType, allowUnknown);
  if (!range) return std::unexpected(range.error());
  bool wholeDisk = s.FileSystemType == FsType::Unknown;
  s.PartitionStart = range->start;
  s.PartitionEnd = static_cast<std::int64_t>(range->end);
  s.FileSystemType = range->fileSystem;
  if (wholeDisk) s.selectedNodeText = "Partition - 1 (" + toString(s.FileSystemType) + " )";
  s.LostSearchPass = 0;
  writePartitionRangeBlock(session, startText, endText);
  setSelectionEnd(session);
  return {};
}

void writePartitionRangeBlock(Session& session, const std::string& startText, const std::string& endText) {
  session.activityLog().appendLines({"\r\n", "Step 2 (a) :", "-------", "Partition Range Information : ",
                                     "Starting Range : " + startText, "Ending Range : " + endText,
                                     "File System : " + toString(session.state.FileSystemType)});
}

Result<VolumeParameters> checkPartitionVolume(Session& session, const PartitionEntry& partition) {
  if (!session.reader()) return makeError(ErrorKind::InvalidArgument, "no disk is open");
  auto volume = checkVolume(*session.reader(), partition.fileSystem, partition.start, partition.end);
  if (!volume) return makeError(ErrorKind::Corrupt, partition.label() + ": the volume check failed");
  return volume;
}

std::vector<DeviceInfo> machineDisks() { return enumerateDevices(); }

const PartitionListing& listSourcePartitions(Session& session) {
  if (session.reader()) {
    session.listing() = listPartitions(*session.reader());
    // A GPT read from its backup, or entries left out, are worth a line.
    if (!session.listing().notes.empty()) session.activityLog().appendLines(session.listing().notes);
  }
  return session.listing();
}

std::vector<DeviceInfo> listDisks(Session& session, std::string* settingsError) {
  std::vector<DeviceInfo> devices = machineDisks();
  writeGeometryCache(session.config(), devices);
  if (auto saved = session.config().save(); !saved && settingsError) *settingsError = saved.error().message;
  return devices;
}

}  // namespace dravolin
