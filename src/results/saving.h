#pragma once
// Saving the selected files and folders of the result tree to a destination
// folder: the walk over the tree that both the size count and the saving
// make, the file filters, the replace policy, the copying of a FAT file's
// data by its cluster chain (first FAT, second FAT, contiguous clusters),
// skip, stop and abort, the progress texts and the saving report in the
// recovery history.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/file_system_type.h"
#include "common/job.h"
#include "disk/sector_reader.h"
#include "logs/log_file.h"
#include "ntfs/boot_sector.h"
#include "ntfs/mft_reader.h"
#include "partition/volume_parameters.h"
#include "results/replace_policy.h"
#include "results/result_tree.h"
#include "results/safe_name.h"
#include "results/saving_settings.h"

namespace dravolin {

inline constexpr const char* kSavingCompletedMessage = "Saving completed successfully.";
inline constexpr const char* kSavingNotCompletedMessage = "Saving not completed successfully.";
inline constexpr const char* kSavingAbortedMessage = "Saving aborted.";
inline constexpr const char* kNothingSelectedMessage = "You have not selected any file/folder.";
inline constexpr const char* kSavingStartLine = "-----------------------Start--------------------------";
inline constexpr const char* kFileCreationTitle = "Error Writing Destination";

// The disk the files are read from.
struct SavingSource {
  SectorReader& reader;
  VolumeParameters parameters;
  FsType fileSystemType = FsType::Unknown;  // FAT12, FAT16, FAT32, NTFS or exFAT
  std::uint64_t partitionEnd = 0;  // exclusive end sector of the volume
  // NTFS: where the MFT records lie (the session's, loaded by the MFT walk).
  // When it is missing or empty, a file without a record sector of its own
  // is found through a run list the saver loads from the volume.
  const MftRunList* mft = nullptr;
};

struct SelectionCount {
  std::int32_t SelectedFileCount = 0;
  std::uint64_t SelectedSize = 0;
};

// "Insufficient free space on destination drive. Selected file/folder requires ..."
std::string insufficientSpaceQuestion(std::uint64_t selectedSize);
// Whether the free space calls for that question: the selection is not below it.
inline bool needsFreeSpaceQuestion(std::uint64_t selectedSize, std::uint64_t freeSpace) {
  return selectedSize >= freeSpace;
}

// The time texts of the saving dialog: "M Min S Sec", or "00:00:00" while
// nothing has elapsed (both) or nothing has been copied yet (remaining).
struct SavingTimes {
  std::string elapsed;
  std::string remaining;
};
SavingTimes savingTimes(std::uint64_t elapsedSeconds, std::uint64_t selectedSize, std::uint64_t copiedSize);
std::string minutesSecondsText(std::uint64_t seconds);

struct SavingProgress {
  std::uint64_t SelectedSize = 0;
  std::uint64_t CopiedSize = 0;
  std::int32_t SavedFileCount = 0;
  int currentPercent = 0;   // this file
  int overallPercent = 0;   // CopiedSize of SelectedSize
  std::string lastName;     // file name being written
  std::string directoryName;  // destination path being written
};

// The fields of the dialog (and of the report) at one moment.
struct SavingFields {
  std::string timeElapsed, timeRemaining, sizeRequired, sizeCopied, lastName, directoryName;
};

struct SavingIssue {
  std::string path;   // destination path (or tree path when none was made)
  std::string error;
};

// A file whose size field claimed more than the volume's data area holds:
// it was saved clipped to what its chain (or the contiguous clusters from its
// first one) holds within the volume.
struct ClippedFile {
  std::string path;                // destination path
  std::uint64_t claimedSize = 0;   // the size field
  std::uint64_t savedSize = 0;     // what was written at most
};

// An NTFS file whose data could not all be found (an extension record or a
// run of its stream is missing): saved as far as its data goes.
struct IncompleteFile {
  std::string path;
  std::uint64_t size = 0;       // the stream's data size
  std::uint64_t savedSize = 0;  // bytes written
};

// A written file that is not whole (an error, a clip, data not found): the
// bytes written and the size its entry lists.
struct ShortFile {
  std::string path;
  std::uint64_t savedSize = 0;
  std::uint64_t listedSize = 0;
};

struct SavingResult {
  bool stopped = false;          // the Stop button / Ctrl-C
  bool aborted = false;          // the file-creation error's Abort
  bool completed = false;        // CopiedSize equals SelectedSize and nothing failed
  std::string message;           // the final message
  std::uint64_t filesWritten = 0;
  std::uint64_t bytesWritten = 0;
  std::uint64_t skipped = 0;     // existing files left alone
  std::vector<std::string> writtenFiles;  // destination paths, in order
  std::vector<SavingIssue> errors;
  std::vector<ClippedFile> clipped;
  std::vector<IncompleteFile> incomplete;
  std::vector<ShortFile> shortFiles;  // every written file with an error, a clip or missing data
  std::vector<std::string> encrypted;  // NTFS files saved as their raw, still encrypted bytes
  // Sectors of the source that could not be read while saving (written as zeros).
  std::vector<SectorRange> unreadable;
  // Partly written files of an interrupted earlier run, removed from the
  // folders this run wrote to.
  std::vector<std::string> leftoversRemoved;
  SavingProgress progress;
};

class FatVolume;
class ExfatVolume;

class Saver {
 public:
  Saver(ResultTree& tree, const SavingSettings& settings, SavingSource source);
  ~Saver();
  Saver(const Saver&) = delete;
  Saver& operator=(const Saver&) = delete;

  // Elapsed seconds without pauses; by default counted from the start of
  // save() on a steady clock. Set it before the saving starts.
  void setElapsedClock(std::function<std::uint64_t()> elapsedSeconds) { elapsed_ = std::move(elapsedSeconds); }

  // The size dialog: walks the tree as the saving does and counts the files
  // that pass every filter.
  SelectionCount countSelection(Job& job) const;

  // The bytes the selection takes at the destination: its size less the
  // holes its NTFS files are saved with (sparse runs, bytes past the
  // initialized size). Reads the record of every selected NTFS file, so it is
  // asked only when the size alone does not fit.
  std::uint64_t allocatedSize(Job& job, const SelectionCount& count);

  // The saving worker: writes the start block to the recovery history, walks
  // the tree, copies the files and writes the report. headerLines are the
  // caption and date lines that follow the start line.
  SavingResult save(Job& job, const std::filesystem::path& destination, const SelectionCount& count,
                    LogFile& recoveryLog, const std::vector<std::string>& headerLines);

  // The preview of one file: writes it, with no filter, progress or
  // report, into folder under its shown name, replacing a file of that name.
  // Returns the path written, or nothing when the file could not be made.
  std::optional<std::filesystem::path> saveSingleFile(Job& job, std::size_t fileIndex,
                                                      const std::filesystem::path& folder);

  // The Skip button: ends the file being written.
  void skipCurrentFile() { skipCurrentFile_.store(true); }
  SavingProgress progress() const;
  SavingFields fields() const;

 private:
  // Calls visit for the root and for every tree item the selection mode
  // admits, depth first, with the item's destination folder (below
  // destination) and whether its files are to be saved. Stops when ended().
  // names holds the safe names given in that folder so far: the item's
  // files take theirs from it, then its sub-folders.
  using Visit = std::function<void(const TreeItem& item, const std::filesystem::path& folder, bool saveFiles,
                                   FolderNameTable& names)>;
  void walk(const std::filesystem::path& destination, const Visit& visit, const std::function<bool()>& ended) const;
  void saveDirectoryFiles(std::uint32_t directoryId, const std::filesystem::path& folder, Job& job,
                          FolderNameTable& names);
  void saveFile(std::size_t fileIndex, const std::string& name, const std::filesystem::path& folder, Job& job,
                FolderNameTable& names);
  void copyFile(const FileNode& node, int fd, const std::filesystem::path& target, Job& job);
  void copyFatFile(const FileNode& node, int fd, const std::filesystem::path& target, Job& job);
  void copyNtfsFile(const FileNode& node, int fd, const std::filesystem::path& target, Job& job);
  // The MFT run list that finds node's record: the session's, else one
  // loaded from the volume when the record has no sector of its own.
  const MftRunList& mftRunsFor(const FileNode& node);
  // The bytes of node's data that are saved as holes.
  std::uint64_t holeBytes(const FileNode& node);
  void copyExfatFile(const FileNode& node, int fd, const std::filesystem::path& target, Job& job);
  // Opens the volume for the copying: the FAT layout, or the NTFS geometry.
  void openVolume();
  void closeVolume();
  // Writes piece to fd and counts it; false (with the issue added) when the write failed.
  bool writePiece(int fd, const std::byte* data, std::uint64_t size, const std::filesystem::path& target, Job& job,
                  std::uint64_t& done, std::uint64_t total);
  void addIssue(const std::filesystem::path& path, const std::string& error);
  // A file being saved is written under its partial name; the files written
  // since the last sync wait there for it (see destination.h).
  struct PendingFile {
    std::filesystem::path partial;
    std::filesystem::path target;
    bool replace = false;  // an existing file of the final name is replaced
  };
  // Makes a folder ready for files: removes what interrupted runs left there
  // (once per folder) and keeps a handle on its file system for the sync.
  void prepareFolder(const std::filesystem::path& folder);
  // Whether a final name is taken: on the disk, or by a pending file.
  bool nameTaken(const std::filesystem::path& path) const;
  // Syncs the pending files to the disk, then gives them their final names.
  void finishPending();
  bool giveFinalName(PendingFile& file);
  void unwriteFile(const std::string& target);
  void syncFolders();
  void closeFolders();
  // Bytes of the volume's data area (the clusters from 2 to the last one the
  // volume holds); no file is saved larger than that.
  std::uint64_t dataAreaBytes() const;
  void updateProgress(Job& job, std::uint64_t fileDone, std::uint64_t fileSize);

  ResultTree& tree_;
  const SavingSettings& settings_;
  SavingSource source_;
  std::function<std::uint64_t()> elapsed_;
  std::atomic<std::int64_t> startNanoseconds_{0};  // the default clock's start
  ReplacePolicy policy_;
  std::atomic<bool> skipCurrentFile_{false};
  bool abortSaving_ = false;
  bool failures_ = false;  // a read, write or creation error
  std::unique_ptr<FatVolume> volume_;
  std::unique_ptr<ExfatVolume> exfat_;
  std::optional<NtfsGeometry> ntfs_;
  MftRunList loadedMft_;          // loaded when the source names none
  bool mftLoadTried_ = false;
  std::vector<std::byte> buffer_;
  std::vector<PendingFile> pending_;
  std::unordered_set<std::string> pendingTargets_;
  std::uint64_t pendingBytes_ = 0;
  bool namesToSync_ = false;  // files took their names since the last sync
  std::uint64_t partialSerial_ = 0;
  std::unordered_set<std::string> preparedFolders_;
  // One open folder per file system written to (device number, handle).
  std::vector<std::pair<std::uint64_t, int>> syncHandles_;
  // The sectors the copier of the current file could not read (its data,
  // and on NTFS its record), not those of the FAT or MFT it looked through.
  std::vector<SectorRange> fileLost_;
  mutable std::mutex mutex_;
  SavingProgress progress_;
  SavingResult result_;
};

}  // namespace dravolin
