#pragma once
// The state of one run of the wizard: every choice carried from step to step,
// the open source, the logs and the saving settings. Created by the front end
// and passed by reference; there are no process-wide globals. The front ends
// take the types of the open source (devices, partition listing, logs) from
// here rather than from the layers below.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_environment.h"
#include "app/messages.h"
#include "common/config_store.h"
#include "common/file_system_type.h"
#include "common/version.h"
#include "disk/device_access.h"
#include "disk/devices.h"
#include "disk/sector_reader.h"
#include "entries/found_entries.h"
#include "entries/found_file_system.h"
#include "imaging/imaging_settings.h"
#include "logs/log_file.h"
#include "ntfs/mft_reader.h"
#include "ntfs/scan_lists.h"
#include "partition/partition_listing.h"
#include "partition/volume_parameters.h"
#include "results/lost_partition_search.h"
#include "results/saving_settings.h"
#include "results/search_log.h"

namespace dravolin {

inline constexpr const char* kApplicationTitle = "Dravolin";

// The tab the user works in; the values are the wizard's step numbers of
// each mode's first page (raw recovery's search runs as its own mode).
enum class RecoveryMode : int { Desktop = 0, Image = 6, Raw = 9, RawSearch = 10 };
inline constexpr RecoveryMode kDesktopRecovery = RecoveryMode::Desktop;
inline constexpr RecoveryMode kImageRecovery = RecoveryMode::Image;
inline constexpr RecoveryMode kRawRecovery = RecoveryMode::Raw;
inline constexpr RecoveryMode kRawRecoverySearch = RecoveryMode::RawSearch;

struct WizardState {
  dravolin::RecoveryMode RecoveryMode = kDesktopRecovery;
  bool ImageCreationMode = false;
  int CurrentStep = 0;
  std::uint32_t SelectedDrive = 0;
  std::string selectedDeviceText = "Select Disk";
  bool SourceIsImage = false;
  std::filesystem::path imageFolder;
  bool multiFileImage = false;
  SectorNumber PartitionStart = 0;
  std::int64_t PartitionEnd = 0;  // 0 until a selection is committed
  FsType FileSystemType = FsType::Unknown;
  VolumeParameters volumeParameters;
  bool ExhaustiveSearch = false;
  bool LostPartitionSearch = false;
  int LostSearchPass = 0;
  bool LoadFromLog = false;
  // The ordinal (1-based) of the found file system chosen after a search for
  // lost partitions; 0 when none was chosen.
  std::uint32_t SelectedFoundFileSystem = 0;
  std::string caption = std::string(kApplicationTitle) + " - Desktop Recovery";
  std::string selectedNodeText;
  int selectedPartitionIndex = -1;
  ImagingSettings imaging;  // set by the image-creation page
  // Set by the commit of a selection that ran past the end of the source and
  // was cut there: the line the front end shows (also in the activity
  // report). Empty otherwise.
  std::string selectionWarning;
};

// How the last search ended when the user stopped it (or when it came from
// the log of a stopped search): the front ends say so, the exit code and a
// log saved afterwards record it.
struct SearchStop {
  bool stopped = false;        // the user stopped this search
  bool fromStoppedLog = false;  // it reloaded the log of a stopped search
  // The last sector the sweep of the range had looked at when the stop
  // ended it; unset when the stop came after the sweep or the search does
  // not sweep (then what was found before the stop is listed).
  std::optional<std::uint64_t> sweptTo;
  std::uint64_t rangeStart = 0;  // the range the sweep covers
  std::uint64_t rangeEnd = 0;    // exclusive
};

class Session {
 public:
  explicit Session(const EnvironmentOptions& options);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  WizardState state;
  SavingSettings savingSettings;
  FoundEntries entries;  // what the last search found
  // What the last search for lost partitions found, in the order found.
  FoundFileSystems foundFileSystems;
  // What the second pass of that search builds a tree from (directory-start
  // records, NTFS scan lists), plain data that a search log can hold.
  LostSearchRecords lostSearch;
  // Which file systems that search looks for; unset: by FileSystemType
  // ("NTFS" or FAT).
  std::optional<LostSearchScope> lostSearchScope;
  // The records of a search log that loadSearchLog read and checked, kept
  // for the search worker while LoadFromLog is set.
  std::shared_ptr<SearchLog> loadedLog;
  // Where the records of $MFT lie, loaded by the NTFS MFT walk for the saving;
  // empty after a scan (the found entries then carry their record sectors).
  MftRunList mftRunList;
  // What the last search could not read, as written to the activity report
  // (a partial MFT run list, torn records); the command line repeats it.
  std::vector<std::string> searchNotes;
  // The activity report's lines about what the last search could not read
  // (the sectors, each loss), written after the search's block.
  std::vector<std::string> searchReadReport;
  // Whether the last search was stopped, and how far it got.
  SearchStop searchStop;
  // Who hands over a disk this user may not open (deviceAccessFor); empty:
  // nobody, the error says how to get access.
  DescriptorBroker deviceAccess;

  ConfigStore& config() { return config_; }
  LogFile& activityLog() { return activityLog_; }
  LogFile& recoveryLog() { return recoveryLog_; }
  const MessageCatalog& messages() const { return messages_; }
  const std::filesystem::path& dataFolder() const { return dataFolder_; }
  const EnvironmentOptions& options() const { return options_; }

  // The open source and its reader; null until Step 1 chose one.
  SectorSource* source() { return source_.get(); }
  SectorReader* reader() { return reader_.get(); }
  const DeviceInfo& device() const { return device_; }
  void setSource(std::unique_ptr<SectorSource> source, DeviceInfo device);

  // Partitions of the chosen disk, listed when Step 2 opens.
  PartitionListing& listing() { return listing_; }

  // The start block of the activity report: the start line, the caption,
  // the version text and the date line.
  void writeStartBlock(const std::tm& now);
  // The date line of the start block ("9:05 - Sunday, December 06, 2026"),
  // which the raw recovery repeats in the recovery history.
  const std::string& startDateLine() const { return startDateLine_; }

  // Moves a log to another folder and remembers the folder in the settings file; the log uses it at once, even
  // when the settings file cannot be written (the error says so).
  [[nodiscard]] Result<void> changeLogFolder(LogKind kind, const std::filesystem::path& folder);

 private:
  EnvironmentOptions options_;
  ConfigStore config_;
  std::filesystem::path dataFolder_;
  MessageCatalog messages_;
  std::string startDateLine_;
  LogFile activityLog_;
  LogFile recoveryLog_;
  std::unique_ptr<SectorSource> source_;
  std::unique_ptr<SectorReader> reader_;
  DeviceInfo device_;
  PartitionListing listing_;
};

}  // namespace dravolin
