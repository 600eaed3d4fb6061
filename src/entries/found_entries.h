#pragma once
// What a search found: a flat list of directory nodes and a flat list of file
// nodes, each carrying the identifier of its parent directory. The tree the
// user sees is built from these identifiers. Lists keep insertion order;
// indexes by id keep lookups constant-time for millions of entries.
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "entries/read_losses.h"

namespace dravolin {

// Identifier of the "Lost" node, under which orphaned directories appear.
inline constexpr std::uint32_t kLostId = 0x0FFFFFFF;
// Identifier of the NTFS root directory.
inline constexpr std::uint32_t kNtfsRootId = 5;

// The message shown when an ordinary search (FAT directory tree, NTFS MFT
// walk) found nothing and the exhaustive search takes over.
inline constexpr const char* kSwitchingToExhaustiveText =
    "Switching to Exhaustive Search for Lost files & folders. This will take long time.";

// FAT: last-write date, last-write time, creation date, creation time,
// last-access date, 0. NTFS: three 64-bit times as low/high pairs:
// last-write, creation, last-access.
using EntryTimes = std::array<std::uint32_t, 6>;

struct DirectoryNode {
  std::string narrowName;      // 8-bit text as found (FAT short names); empty when wide is used
  std::u16string wideName;     // UTF-16 (long names, NTFS names)
  char deleted = 'n';          // 'y' or 'n'
  char kind = 'D';
  EntryTimes times{};
  std::uint32_t treeNode = 0;  // for the result browser
  std::uint32_t parentId = 0;
  std::uint32_t ownId = 0;
  std::uint64_t extra = 0;     // NTFS: device sector of the folder's record when it came through the pending lists
  std::uint16_t partition = 0; // index among the file systems of a lost-partition search
  char mark = 'n';             // selection mark
  bool isDeleted() const { return deleted == 'y'; }
};

struct FileNode {
  std::string narrowName;
  std::u16string wideName;
  char deleted = 'n';
  char kind = 'F';
  EntryTimes times{};
  std::uint32_t fileIndex = 0;     // FileCount at insertion
  std::uint64_t size = 0;          // FAT: below 2^32
  std::uint32_t parentId = 0;
  std::uint32_t firstCluster = 0;  // FAT, exFAT: first data cluster; NTFS: record number
  std::uint64_t extra = 0;         // NTFS: device sector of the file's record after a scan; exFAT: ValidDataLength
  char mark = 'n';
  std::uint16_t partition = 0;     // the found file system of a lost-partition search, as for directories
  // exFAT: the stream's clusters follow each other (NoFatChain), with no
  // chain in the FAT.
  bool contiguous = false;
  bool isDeleted() const { return deleted == 'y'; }
};

class FoundEntries {
 public:
  std::vector<DirectoryNode> DirectoryList;
  std::vector<FileNode> FileList;
  std::uint32_t DirectoryCount = 0;  // "Lost" included
  std::uint32_t FileCount = 0;
  std::uint64_t TotalSize = 0;
  // What the search that found these entries could not read.
  ReadLosses Losses;

  // Appends a directory; a node with the same own id (not 0) and partition
  // is kept when it is live or the new one is deleted, and overwritten in
  // place when it is deleted and the new one is live. Returns the index of
  // the node that holds the directory afterwards.
  std::size_t AddDirectoryNode(const std::string& narrowName, const std::u16string& wideName, bool deleted,
                               std::uint32_t parentId, std::uint32_t ownId, std::uint64_t extra,
                               const EntryTimes& times, std::uint16_t partition = 0);

  // Appends a file with the next file index. Files are never merged.
  std::size_t AddFileNode(std::string narrowName, std::u16string wideName, bool deleted,
                          std::uint64_t size, std::uint32_t parentId, std::uint32_t firstCluster,
                          std::uint64_t extra, const EntryTimes& times);

  // Inserts the "Lost" node: narrow name "Lost", parent 0, own id 0x0FFFFFFF.
  void addLostNode();
  // Removes the "Lost" node of partition when nothing lies in it: no folder
  // and no file has it as parent. The other nodes keep their names (a
  // search that numbers its folders counted "Lost" among them) and their
  // list order.
  void removeEmptyLostNode(std::uint16_t partition = 0);

  // Renames a directory in place (narrow when given, else wide) and sets its deleted flag.
  void renameDirectory(std::size_t index, const std::string& narrowName, const std::u16string& wideName,
                       bool deleted);

  // The first directory node with this own id (in any partition), or -1.
  std::ptrdiff_t findDirectory(std::uint32_t ownId) const;
  std::ptrdiff_t findDirectory(std::uint32_t ownId, std::uint16_t partition) const;
  // Directory nodes whose parent id is parentId, in list order.
  const std::vector<std::size_t>& childDirectories(std::uint32_t parentId) const;
  // File nodes whose parent id is parentId, in list order.
  const std::vector<std::size_t>& childFiles(std::uint32_t parentId) const;

  // Changes a directory's parent id (re-attachment of lost directories).
  void setDirectoryParent(std::size_t index, std::uint32_t parentId);
  void setFileParent(std::size_t index, std::uint32_t parentId);

  // Frees both lists and sets the counters to 0.
  void clear();
  // Frees the file list only (between file systems of a lost-partition search).
  void clearFiles();

 private:
  static std::uint64_t key(std::uint32_t id, std::uint16_t partition) {
    return (std::uint64_t{partition} << 32) | id;
  }
  void indexChild(std::unordered_map<std::uint32_t, std::vector<std::size_t>>& map, std::uint32_t parent,
                  std::size_t index);
  void unindexChild(std::unordered_map<std::uint32_t, std::vector<std::size_t>>& map, std::uint32_t parent,
                    std::size_t index);

  std::unordered_map<std::uint64_t, std::size_t> byIdAndPartition_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> firstById_;  // list order per id
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> dirChildren_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> fileChildren_;
};

// The name of a node as UTF-8: the wide name, or the narrow name decoded
// with the given 8-bit code page.
std::string displayName(const std::string& narrowName, const std::u16string& wideName,
                        const std::string& codePage);

}  // namespace dravolin
