#pragma once
// The search for lost partitions: finds the FAT and NTFS file systems of a
// sector range that no partition table describes any more, and afterwards
// builds the tree of the one the user chose.
//
// The scan pass reads the range once. FAT: every sector that is a FAT boot
// sector with a valid BPB becomes a boot candidate, every sector that begins
// with the "." and ".." entries becomes a directory-start record. A candidate
// is a file system when a directory lies exactly where its geometry puts one
// (or, for a volume with files only in its root, when its two FATs are
// identical and start with the media byte and FF FF); pairs of directories
// that agree on one cluster size and one data origin reveal FAT volumes whose
// boot sector is gone. NTFS: the NTFS scan in its lost-partition mode (boot
// sectors, layouts inferred from index buffers). The found file systems are
// appended in the order found: FAT first, then NTFS.
//
// What the second pass needs (directory-start records, the NTFS scan lists)
// stays in a LostSearchRecords, plain data that a search log can hold; the
// tree of a chosen file system is rebuilt from it without reading the disk.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/byte_reader.h"
#include "common/file_system_type.h"
#include "common/job.h"
#include "disk/sector_reader.h"
#include "entries/found_entries.h"
#include "entries/found_file_system.h"
#include "ntfs/scan_lists.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// A FAT boot sector seen by the scan, with the geometry it gives. Sectors
// are absolute.
struct FatBootCandidate {
  SectorNumber bootSector = 0;
  std::uint32_t sectorsPerFat = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t rootDirSectors = 0;   // FAT12/16: root entries / 16; FAT32: 0
  std::uint32_t reservedSectors = 0;
  std::uint32_t rootStart = 0;        // FAT12/16: sectors from the boot sector to the root; FAT32: root cluster
  SectorNumber clusterBase = 0;       // sector of the virtual cluster 0
  SectorNumber firstFat = 0;
  SectorNumber secondFat = 0;         // 0 on a volume with one FAT
  SectorNumber endSector = 0;         // boot sector + total sectors
  std::uint8_t mediaDescriptor = 0;
  std::uint16_t backupBootSector = 0; // FAT32: distance to the backup copy, 0 when none
  std::string name;                   // "FAT12", "FAT16" or "FAT32"
  bool fromBackup = false;            // placed at the primary's position by a backup copy
  bool operator==(const FatBootCandidate&) const = default;

  // The found-list entry of a confirmed candidate.
  FoundFileSystem toFoundFileSystem() const;
};

// The candidate a FAT boot sector at sector `at` gives. Nothing when the
// sector lacks the 0x55 0xAA signature, is an NTFS boot sector, or its BPB is
// not valid: 512 bytes per sector (or the disk's own diskSectorBytes, for a
// boot sector on a boundary of those sectors; its counts are then taken in
// 512-byte sectors), 1..128 sectors per cluster in powers of
// two, at least one reserved sector, one or two FATs, a media byte of F0 or
// F8..FF, a non-zero FAT size and total, a data area inside the volume.
// FAT32 is the BPB form without a 16-bit FAT size; FAT12 and FAT16 are told
// apart by the cluster count (below 4,085 is FAT12).
std::optional<FatBootCandidate> readFatBootCandidate(ByteSpan sector, SectorNumber at,
                                                     std::uint32_t diskSectorBytes = kSectorSize);

// The candidate of the primary boot sector whose backup copy is `backup`
// (FAT32: the primary lies backupBootSector sectors before it). Nothing when
// the distance is 0 or would lie before sector 0.
std::optional<FatBootCandidate> primaryOfBackup(const FatBootCandidate& backup);

// An inferred volume's directories matched nothing.
inline constexpr std::int32_t kUnmatchedDirectory = -1;

// One sector that begins with the "." and ".." entries of a FAT directory.
struct DirectoryStartRecord {
  std::uint32_t ownCluster = 0;       // from the "." entry
  std::uint32_t parentCluster = 0;    // from the ".." entry
  SectorNumber sector = 0;            // absolute
  std::uint32_t size = 0;             // of the "." entry
  EntryTimes times{};                 // of the "." entry
  // 0: not yet assigned; n: found file system n; -1: examined by the
  // inference and matched nothing.
  std::int32_t fileSystem = 0;
  bool operator==(const DirectoryStartRecord&) const = default;
};

// True when the sector begins with "." + blank and, at 32, ".." + blank.
bool beginsDirectoryStart(ByteSpan sector);
DirectoryStartRecord readDirectoryStart(ByteSpan sector, SectorNumber at);

// Reads both FATs of a candidate: true when their first sectors are identical
// and begin with the media byte and FF FF. The worker reads the disk; tests
// answer from a table.
using FatPairProbe = std::function<bool(const FatBootCandidate&)>;

// Boot candidates confirmed by directories: for each candidate in scan order,
// every unassigned record at exactly cluster base + own cluster x cluster
// size, inside the candidate's range, belongs to it; the first one appends
// the candidate to the found list. A candidate that no directory confirms
// is listed when fatPair confirms its FATs (files only in its root) and its
// boot sector is not one of a volume already found. Records are looked up
// by (cluster size, cluster base): no scan of every pair.
void confirmBootCandidates(const std::vector<FatBootCandidate>& candidates,
                           std::vector<DirectoryStartRecord>& records, FoundFileSystems& found,
                           const FatPairProbe& fatPair, Job* job = nullptr);

// FAT volumes inferred from pairs of unassigned directories: P (own cluster
// o, sector t) and the first later unassigned Q (v, u) with v > o, u > t,
// v < u, v < t and t - k*o = u - k*v > 0 for k one of 1, 2, 4, ..., 128. The
// volume (start and end 0, cluster size k, cluster base t - k*o) is
// appended, P, Q and every unassigned record at that base and cluster size
// take its number; its name is "FAT32" when the largest cluster seen exceeds
// what FAT16 addresses, else "FAT16" (the FATs, once located, decide). A P
// without a partner is marked -1.
void inferFatFileSystems(std::vector<DirectoryStartRecord>& records, FoundFileSystems& found, Job* job = nullptr);

// Reads sectors for locateFats: the sector at an absolute number.
using SectorProbe = std::function<std::optional<SectorBuffer>(SectorNumber)>;
// Hands the sectors [first, end) to the visitor in order, each with its
// number (what cannot be read comes as zeros): locateFats's sweep of a window
// below the data area in large reads. Without one, the window is read
// sector by sector through the probe.
using SectorSweep = std::function<void(SectorNumber first, SectorNumber end,
                                       const std::function<void(SectorNumber, ByteSpan)>& visit)>;

// Looks for the two FATs of an inferred FAT volume below its cluster base:
// two sectors that begin with a media byte and FF FF, the distance between
// them the FAT size, the two copies identical over their first sectors, and
// the pair fitting the cluster base (FAT32: cluster 2 right after the second
// FAT; FAT12/16: a root directory of 1..4,096 sectors between). The pair
// nearest the cluster base wins. Fills the FAT fields, the root and the name
// (FAT12 for a FAT of at most 12 sectors, FAT32 for a FAT32 first entry of a
// FAT of at least 512 sectors, else FAT16). False, leaving the entry as it
// is, when no pair fits: the FATs are not located.
// Only the 4,096 FAT-like sectors nearest the cluster base are kept while the
// window is swept.
bool locateFats(FoundFileSystem& entry, std::uint32_t largestCluster, const SectorProbe& read,
                const SectorSweep& sweep = {});

// "FAT not located" for an inferred FAT volume whose FATs were not found.
inline constexpr const char* kFatNotLocatedText = "FAT not located";
bool fatNotLocated(const FoundFileSystem& entry);
bool isInferred(const FoundFileSystem& entry);
bool isFatName(const std::string& name);

// What the second pass of the search needs, kept between the passes.
struct LostSearchRecords {
  SectorNumber rangeStart = 0;
  SectorNumber rangeEnd = 0;
  std::vector<DirectoryStartRecord> directoryStarts;
  // The NTFS folders and files with the found file system each belongs to.
  NtfsScanLists ntfs;
  // False when the records came back from a ".ST2C" log, which holds the
  // found list and the NTFS lists but no FAT directory-start records: the
  // FAT second pass then finds them again on the disk
  // (rescanFatDirectoryStarts).
  bool directoryStartsKept = true;
  void clear() { *this = LostSearchRecords{}; }
};

// Which file systems the scan looks for.
enum class LostSearchScope { Fat, Ntfs, All };

struct LostSearchContext {
  SectorReader& reader;
  SectorNumber rangeStart = 0;
  SectorNumber rangeEnd = 0;      // exclusive
  LostSearchScope scope = LostSearchScope::All;
  FoundFileSystems& found;
  LostSearchRecords& records;
  // Lines for the activity report (FATs not located).
  std::vector<std::string> notes = {};
};

// The scan pass: clears found and records, scans the range, confirms and
// infers the file systems and ends with job.complete(LostPassDone).
void runLostPartitionSearch(Job& job, LostSearchContext& context);

// The layout a found file system gives the search and the saving.
struct LostChoice {
  FsType fileSystemType = FsType::Unknown;
  VolumeParameters parameters;
  SectorNumber start = 0;  // an inferred volume starts at its cluster base
  SectorNumber end = 0;    // an inferred volume ends at the range end
};
LostChoice applyFoundFileSystem(const FoundFileSystem& entry, SectorNumber rangeEnd);

// The second pass without the disk: the directory nodes (FAT: numbered "Dir"
// nodes from the directory-start records, NTFS: the folders and files of the
// scan lists) of found file system `ordinal`, with one "Lost" node and the
// re-attachment of directories whose parent is missing. Clears the entries
// first. Every node carries the ordinal as its partition.
void buildLostFileSystemTree(FoundEntries& entries, const LostSearchRecords& records, const FoundFileSystems& found,
                             std::uint32_t ordinal, Job* job = nullptr);

// Gives every NTFS file the number of the found NTFS file system whose range
// holds its record (0 when none does). A ".ST2C" log keeps that number for
// folders but not for files: a reload sets it again this way.
void assignNtfsFilesToVolumes(NtfsScanLists& lists, const FoundFileSystems& found);

// Whether the directory start at `record` lies where found FAT file system
// `entry` puts a directory: at cluster base + own cluster x cluster size,
// for a volume found by its boot sector also inside [cluster base, end] and
// in cluster 2 or above, as the two analyses of the scan assign them.
bool fatGeometryHolds(const FoundFileSystem& entry, const DirectoryStartRecord& record);

// Finds the directory-start records of found FAT file system `ordinal`
// again by reading the disk, and assigns them as the scan did. A volume
// found by its boot sector: its sectors from the cluster base to its end
// (inside [rangeStart, rangeEnd)); every sector that begins a directory where
// its geometry puts one belongs to it unless an earlier volume of the list
// claims it. An inferred volume: from the lowest cluster base of the
// inferred volumes up to it to the range end; the boot-sector volumes'
// claims, then the inference over the directories where those volumes put
// one, give the chosen volume the directories the scan gave it (when the
// inference finds those volumes again; else the geometry alone decides).
// The records of `ordinal` already in `records` are replaced; the new ones
// keep disk order. Reports progress and polls the stop request per chunk; a
// stop keeps what was found so far.
void rescanFatDirectoryStarts(Job& job, SectorReader& reader, const FoundFileSystems& found, std::uint32_t ordinal,
                              LostSearchRecords& records);

// "File System N - TYPE" as the list of found file systems shows it.
std::string foundFileSystemLabel(const FoundFileSystems& found, std::size_t index);

}  // namespace dravolin
