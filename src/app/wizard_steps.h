#pragma once
// The commits of the first wizard steps, without windows: choosing a disk,
// a partition of its table, the whole disk, or a range typed by hand. Each
// validates with the wizard's messages, writes its block to the activity
// report and sets the wizard state.
#include <string>
#include <vector>

#include "app/session.h"
#include "common/error.h"

namespace dravolin {

// The step names of the three disk pages, by RecoveryMode.
std::string stepOneTitle(RecoveryMode recoveryMode);

// Step 1: writes "Step 1 : ..." with the Device Information rows, sets
// SelectedDrive and the mode values, and for Desktop Recovery sets the
// bad-sector policy back to Retry.
void commitStep1(Session& session, RecoveryMode recoveryMode);

// The refusal of the partition commit for an entry whose end is not after
// its start ("End sector should be bigger than Start sector"); empty when the
// entry can be committed.
std::string partitionEntryRefusal(const PartitionEntry& partition);

// Step 2 with a partition of the listing: writes the Step 2 block and runs
// the volume check for FAT and NTFS. Returns whether the check accepted
// (always true for other types). An entry that partitionEntryRefusal refuses
// is not committed at all: an InvalidArgument error with the refusal.
[[nodiscard]] Result<bool> commitPartition(Session& session, const PartitionEntry& partition,
                                           bool searchExhaustive = false);

// Step 2 with the disk node: the whole disk, from sector 0 in imaging (or an
// image with the exhaustive box), from 63 with the box or in raw recovery;
// "Select partition type" otherwise.
[[nodiscard]] Result<void> commitWholeDisk(Session& session, bool searchExhaustive);

// The activity-report block of a Step 2 commit of the disk node ("Step 2 :",
// "Selected Information : " + the disk's name, its model, media type and
// size, and the exhaustive box), as commitWholeDisk writes it. The command
// line writes it before a range of its own or the whole disk.
void writeDiskSelection(Session& session, bool searchExhaustive);

// The file-system choices of the range page, by list index.
inline constexpr FsType kRangeFileSystems[] = {FsType::Fat16, FsType::Fat32, FsType::Ntfs, FsType::Unknown, FsType::ExFat};

// The Step 2 (a) block of the activity report ("Step 2 (a) :", the range as
// typed and the file system), as commitManualRange writes it; Step 2 (a)
// writes it alone for the range of a loaded search log.
void writePartitionRangeBlock(Session& session, const std::string& startText, const std::string& endText);

// Step 2 (a): validates the typed range ("Start sector is not valid." ...),
// sets the range and type and writes the Step 2 (a) block. With Unknown the
// committed type stays (raw recovery and imaging only).
[[nodiscard]] Result<void> commitManualRange(Session& session, const std::string& startText,
                                                   const std::string& endText, FsType fileSystem);

// Every commit cuts a selection that runs past the end of the source at that
// end, so no search, carving or imaging reads beyond it; the cut is told in
// WizardState::selectionWarning and in the activity report.

// Runs the volume check of the committed selection; true when accepted or
// when the type has no check.
bool runVolumeCheck(Session& session);

// The layout values a listed partition's volume check finds, without
// committing anything; an error when the check rejects it.
[[nodiscard]] Result<VolumeParameters> checkPartitionVolume(Session& session, const PartitionEntry& partition);

// The disks of this machine, numbered as Step 1 shows them.
std::vector<DeviceInfo> machineDisks();

// The partition listing of the open source, read into session.listing()
// (left empty when no source is open); its notes (a GPT read from the backup
// header, entries left out) go to the activity report.
const PartitionListing& listSourcePartitions(Session& session);

// Step 1's disk list, which also refreshes the geometry cache in the
// settings file (an error when the file cannot be written; the list is
// then still good).
std::vector<DeviceInfo> listDisks(Session& session, std::string* settingsError = nullptr);

}  // namespace dravolin
