#pragma once
// What the sector scan of an NTFS volume collects before the result tree is
// built, and the steps that work on those lists without reading the disk:
// folder numbers from index entries, numbers by position, the check and the
// inference of the volume layout from where index buffers lie, and the
// assembly of the lists into the found entries.
//
// Every list keeps disk order. Lookups that pick "the first entry whose ..."
// go through hash maps whose buckets keep list order, so that a million
// records stay linear while the choice stays the first match in the list.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/job.h"
#include "disk/sector_source.h"
#include "entries/found_entries.h"
#include "ntfs/file_name.h"
#include "ntfs/index_entry.h"
#include "ntfs/mft_record.h"

namespace dravolin {

// No index buffer of the folder's own was found where any layout puts it.
inline constexpr std::uint32_t kNtfsNoFileSystem = 0xFFFFFFFF;

struct NtfsTimes {
  std::uint64_t modification = 0;
  std::uint64_t creation = 0;  // folders: matched against index entries
  std::uint64_t access = 0;
};

// One "FILE" record of a folder (flags byte 2 or 3).
struct NtfsFolderEntry {
  std::u16string name;                  // may be empty
  bool deleted = false;                 // flags byte 2
  NtfsTimes times;
  FileReference parent;                 // zero when the record has no name
  std::uint64_t ownNumber = 0;          // valid when numberKnown
  bool numberKnown = false;
  std::uint16_t sequenceNumber = 0;     // the record's own
  SectorNumber recordSector = 0;
  std::uint64_t indexAllocationCluster = 0;  // first cluster of its $I30 allocation, 0: none
  std::uint32_t fileSystem = 0;         // 0: not yet assigned
};

// One "FILE" base record of anything else.
struct NtfsFileEntry {
  std::u16string name;
  bool deleted = false;                 // flags byte 0
  NtfsTimes times;
  std::uint64_t size = 0;               // unnamed $DATA
  bool hasData = false;                 // the base record holds the unnamed $DATA that starts at VCN 0
  FileReference parent;
  std::uint64_t ownNumber = 0;
  bool numberKnown = false;
  std::uint16_t sequenceNumber = 0;
  SectorNumber recordSector = 0;
  std::uint32_t fileSystem = 0;         // search for lost partitions: the found file system, 0: none
};

// A record that takes a place in the MFT but is not listed (an extension
// record, or one without name and data); numbering by position counts it.
struct NtfsUnlistedRecord {
  SectorNumber recordSector = 0;
  std::optional<std::uint64_t> ownNumber;
};

// One "INDX" buffer whose first entry names an owning folder.
struct IndexBufferEntry {
  SectorNumber sector = 0;
  std::uint64_t owner = 0;   // parent number of the first entry: the folder
  std::uint64_t vcn = 0;
  bool claimed = false;      // confirmed as a folder's first buffer by a layout check
};

struct NtfsScanLists {
  std::vector<NtfsFolderEntry> folders;
  std::vector<NtfsFileEntry> files;
  std::vector<NtfsUnlistedRecord> unlisted;
  std::vector<IndexBufferEntry> indexBuffers;
  // Size of the unnamed $DATA by base record number, from the extension
  // record whose extent starts at VCN 0 (files whose data lives elsewhere).
  std::unordered_map<std::uint64_t, std::uint64_t> extentSizes;
  // Names held in extension records (a file with many names, or whose
  // attribute list moved its name out), by base record number.
  struct ExtentName {
    std::uint16_t baseSequence = 0;  // of the base record the extension names
    FileName name;
  };
  std::unordered_map<std::uint64_t, std::vector<ExtentName>> extentNames;
  std::uint64_t tornRecords = 0;
};

// A volume layout the search for lost partitions confirmed: from a boot
// sector (its end is the boot sector + total sectors) or inferred from index
// buffers (its end is the end of the range searched).
struct NtfsFoundLayout {
  SectorNumber start = 0;
  std::uint64_t sectorsPerCluster = 0;
  SectorNumber end = 0;
  bool inferred = false;
  friend bool operator==(const NtfsFoundLayout&, const NtfsFoundLayout&) = default;
};

// What the NTFS scan hands over in the search for lost partitions: the
// layouts in the order confirmed, and the lists, whose folders carry the
// 1-based position of their layout (0 or kNtfsNoFileSystem: none).
struct NtfsLostResult {
  std::vector<NtfsFoundLayout> layouts;
  NtfsScanLists lists;
};

// The number of a system file from its name, for records that do not carry
// their own number.
std::optional<std::uint64_t> systemFileNumber(std::u16string_view name);

// Gives folders whose number is unknown the record number of the index
// entry that names them: the first such folder, in list order, whose
// creation time, name (exact) and parent number equal the entry's.
class FolderNumbersFromIndex {
 public:
  explicit FolderNumbersFromIndex(std::vector<NtfsFolderEntry>& folders);
  // Whether some folder still waits for a number.
  bool empty() const { return waiting_ == 0; }
  // Uses the folder entries of one index node; file entries are ignored.
  void apply(const IndexEntries& node);

 private:
  struct Key {
    std::uint64_t creation;
    std::uint64_t parent;
    std::u16string name;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const;
  };
  struct Bucket {
    std::vector<std::size_t> folders;  // list order
    std::size_t next = 0;
  };
  std::vector<NtfsFolderEntry>& folders_;
  std::unordered_map<Key, Bucket, KeyHash> byKey_;
  std::size_t waiting_ = 0;
};

// Numbers every record whose number is still unknown by its position: the
// records in disk order, a running number from 1; a record without a number
// takes running + 1, and the running number becomes each record's number.
void numberByPosition(NtfsScanLists& lists, Job* job = nullptr);

// Folders and files whose base record holds no name take the best name that
// an extension record of theirs holds (same number and sequence number).
void takeNamesFromExtensions(NtfsScanLists& lists);

// The first index buffer of each folder (VCN 0), in disk order.
std::vector<IndexBufferEntry> firstIndexBuffers(const std::vector<IndexBufferEntry>& buffers);

// A volume layout: the sector of cluster 0 and the sectors per cluster.
struct NtfsLayout {
  SectorNumber start = 0;
  std::uint64_t sectorsPerCluster = 0;
  friend bool operator==(const NtfsLayout&, const NtfsLayout&) = default;
};

// The layout two folders imply: folder 1 has its first index buffer at
// sector h and its index allocation at cluster t, folder 2 at sector o and
// cluster m. Nothing when the clusters are equal, o is 0 or equals h, the
// buffers lie in the opposite order of their clusters, the sectors per
// cluster is not one of 1, 2, 4, ..., 128, the sector distance is not an
// exact multiple of the cluster distance, or the start would lie before
// sector 0.
std::optional<NtfsLayout> guessNtfsLayout(SectorNumber h, std::uint64_t t, SectorNumber o, std::uint64_t m);

// Tells whether the sector begins with "INDX".
using IndexBufferProbe = std::function<bool(SectorNumber)>;

// Decides which folders belong to which volume layout: a folder belongs to a
// layout when its index allocation cluster, placed by that layout, holds an
// index buffer.
class NtfsLayoutAnalysis {
 public:
  NtfsLayoutAnalysis(std::vector<NtfsFolderEntry>& folders, std::vector<IndexBufferEntry> firstBuffers,
                     IndexBufferProbe probe, Job* job = nullptr);

  // Gives every folder not yet assigned whose record lies in (start, end)
  // and whose index allocation cluster, at start + cluster * sectorsPerCluster,
  // holds an index buffer the next file-system number, and claims the first
  // buffer found there. True when at least one folder was confirmed.
  bool CheckNtfsLayout(SectorNumber start, std::uint64_t sectorsPerCluster, SectorNumber end);

  // The volume's own layout; counted as a file system when confirmed.
  void checkKnownLayout(SectorNumber start, std::uint64_t sectorsPerCluster, SectorNumber end);
  // Layouts guessed from pairs of folders whose first buffers were found. A
  // guess counts only when a folder other than the one that made it is
  // confirmed by it.
  void inferLayouts(SectorNumber end);
  // Folders left without a file system take the one of the folder before them.
  void close();

  const std::vector<NtfsLayout>& fileSystems() const { return fileSystems_; }
  const std::vector<IndexBufferEntry>& firstBuffers() const { return firstBuffers_; }

 private:
  std::optional<std::size_t> firstUnclaimedBuffer(std::uint64_t owner);
  void statusCounting();

  std::vector<NtfsFolderEntry>& folders_;
  std::vector<IndexBufferEntry> firstBuffers_;
  IndexBufferProbe probe_;
  Job* job_;
  std::unordered_map<SectorNumber, std::size_t> bufferBySector_;
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> buffersByOwner_;
  std::unordered_map<std::uint64_t, std::size_t> ownerCursor_;
  std::vector<NtfsLayout> fileSystems_;
  std::set<std::pair<SectorNumber, std::uint64_t>> triedGuesses_;
  // What the last CheckNtfsLayout assigned, so that a guess confirmed only
  // by the folder that made it can be taken back.
  std::vector<std::size_t> lastConfirmed_;
  std::vector<std::size_t> lastClaimed_;
};

// Turns the lists into directory and file nodes of the partition: MFT
// numbers as ids, the record sector as extra, the root (5) not listed.
// Folders and files whose parent was not found, or whose parent record was
// reused since (its sequence number no longer matches the reference), go
// under "Lost"; exact copies of a file record (the $MFTMirr copies) are
// listed once. Then directories whose parent is missing are re-attached.
// Empties the lists.
void assembleNtfsResults(FoundEntries& entries, NtfsScanLists& lists, std::uint16_t partition, Job* job = nullptr);

}  // namespace dravolin
