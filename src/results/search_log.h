#pragma once
// Search logs: the results of a finished search written to a file and read
// back later, so that the wizard resumes without reading the disk again.
// Two kinds, told apart by their extension only: ".ST4" (written from the
// result browser: the found directories and files) and ".ST2C" (written
// after a search for lost partitions: the found file systems and the NTFS
// folder and file lists). Both start with one header that records the disk,
// the selection and every volume parameter.
//
// The byte layout is fixed (little-endian, no version, no checksum) so that
// a log written by one version is read by the next. A log is untrusted
// input: the reader checks every count and length against what is left of
// the file before it allocates anything, so memory stays within a small
// multiple of the file size, and any truncated or inconsistent log is
// refused as a whole with "Error in file.".
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/error.h"
#include "entries/found_entries.h"
#include "entries/found_file_system.h"
#include "ntfs/scan_lists.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// The messages of saving and loading a log.
inline constexpr const char* kLogStep4PathMissing = "Please specify Step 4 saving log path.";
inline constexpr const char* kLogStep2CPathMissing = "Please specify Step 2C saving log path.";
inline constexpr const char* kLogCannotCreate = "Unable to open file. Please close if this file is opened.";
inline constexpr const char* kLogPathMissing = "Please specify log path.";
inline constexpr const char* kLogCannotOpen = "Unable to open file.";
inline constexpr const char* kLogWrongDisk = "You Have Selected Wrong Disk.";
inline constexpr const char* kLogErrorInFile = "Error in file.";
inline constexpr const char* kLogOfStoppedSearch =
    "this search log holds a search that was stopped: it may be incomplete";

enum class SearchLogKind {
  Results,    // ".ST4"
  FoundList,  // ".ST2C"
};

// The extension of a kind, upper case, with its dot.
const char* searchLogExtension(SearchLogKind kind);

// The path a log is saved under: the file name upper-cased (ASCII letters),
// and ".ST4" or ".ST2C" appended unless it already ends so. The folder part
// is kept as given: on a case-sensitive file system an upper-cased folder
// would be another folder.
std::string searchLogSavePath(const std::string& path, SearchLogKind kind);

// The kind a path names by its extension, compared without regard to case;
// nothing when it ends neither in ".ST4" nor in ".ST2C".
std::optional<SearchLogKind> searchLogKindOf(const std::string& path);

struct SearchLogHeader {
  std::u16string diskIdentification;  // the model string of the selected disk
  std::uint8_t selectedDrive = 0;
  // Written as the drive again. A log of a search that was stopped before
  // its end holds the drive's bit complement here instead (readers before
  // this mark ignore the byte): see stopped.
  std::uint8_t selectedDriveCopy = 0;
  std::uint8_t partitionIndex = 0;    // 0xFF when no partition of the listing was chosen
  std::string fileSystemType;         // "FAT12", "FAT16", "FAT32", "NTFS", "Unknown", ...
  std::uint64_t partitionStart = 0;
  std::uint64_t partitionEnd = 0;
  // Twelve 32-bit values each in the log; values above 2^32 - 1 do not
  // survive a log (the volume check never gives such values for FAT, and an
  // NTFS search keeps its sectors in the records).
  VolumeParameters volumeParameters;
  VolumeParameters searchVolumeParameters;
  std::string searchFileSystemType;
  std::uint32_t exhaustiveSearch = 0;
  std::uint32_t lostPartitionSearch = 0;
  std::uint32_t lostSearchPass = 0;
  std::uint32_t selectedFoundFileSystem = 0;
  // The search was stopped: the log may be incomplete. Written as the
  // complement of the drive in the copy byte; read back from it, the copy
  // then reads as the drive.
  bool stopped = false;
  bool operator==(const SearchLogHeader&) const = default;
};

// Everything a log holds. Directory and file records are kept as nodes;
// tree node, mark and (for files) the file index are not part of a log.
struct SearchLog {
  SearchLogHeader header;
  FoundFileSystems foundFileSystems;  // present when lostPartitionSearch is set
  bool hasNtfsLists = false;          // ".ST2C" with lostPartitionSearch set
  std::vector<NtfsFolderEntry> ntfsFolders;
  std::vector<NtfsFileEntry> ntfsFiles;
  std::vector<DirectoryNode> directories;
  std::vector<FileNode> files;
};

// The bytes of a log of the kind. The NTFS lists are written only for a
// ".ST2C" log with lostPartitionSearch set, the found file systems only with
// lostPartitionSearch set; the counts are the sizes of the vectors written.
// Names longer than 255 characters (which FAT and NTFS never give) are cut
// to 255.
std::vector<std::byte> encodeSearchLog(const SearchLog& log, SearchLogKind kind);

// Reads a whole log of the kind. Any field, count or name that runs past
// the end, a kind byte other than 'D'/'F', a deleted flag other than 'y'/'n',
// an inverted partition range, or bytes left over after the last record is
// "Error in file." (ErrorKind::Corrupt).
[[nodiscard]] Result<SearchLog> decodeSearchLog(std::span<const std::byte> bytes, SearchLogKind kind);

}  // namespace dravolin
