#pragma once
// The result browser's model without windows: the folder tree built from
// the parent ids of the directory nodes, the rows of a listed folder, the
// sort comparisons, the check marks with their subtree and ancestor rules,
// renaming, and the summary. The command line uses it now; the Qt wizard
// shows it later. It reads and changes the nodes of FoundEntries (their
// marks, names and tree-node fields) and never reads the disk.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/file_system_type.h"
#include "common/job.h"
#include "entries/found_entries.h"
#include "results/browser_texts.h"

namespace dravolin {

inline constexpr std::string_view kDefaultNameCodePage = "CP850";

// One node of the folder tree. Item 0 is the top node (the file system).
struct TreeItem {
  std::ptrdiff_t directory = -1;  // index in DirectoryList; -1 for the top node
  std::size_t parent = 0;         // the top node is its own parent
  std::vector<std::size_t> children;
  std::uint32_t id = 0;           // own id of the directory (the root id for the top node)
  bool checked = false;
  std::string name;               // as shown (UTF-8)
};

enum class RowKind { Folder, File };

// One row of the list of a folder.
struct ResultRow {
  RowKind kind = RowKind::File;
  std::size_t index = 0;     // index in DirectoryList or FileList
  std::string name;
  std::string type;          // "Folder", "Deleted Folder", "File", "Deleted File"
  std::uint64_t size = 0;    // 0 for folders
  EntryDateTexts dates;
  EntryTimes times{};        // the raw time fields, for sorting
  std::uint64_t id = 0;      // folders: tree-node handle; files: file index
  bool checked = false;
  bool deleted = false;
};

// Columns of the list, in order.
enum class ResultColumn { Name = 0, Type = 1, Size = 2, Modified = 3, Created = 4, Accessed = 5, Id = 6 };

class ResultTree {
 public:
  static constexpr std::size_t kTopItem = 0;

  // fileSystemType (FAT12, FAT16, FAT32 or NTFS) picks the root id
  // and the time encoding; codePage decodes narrow (short) names;
  // partition is the file system on display (0 outside the lost-partition mode).
  ResultTree(FoundEntries& entries, FsType fileSystemType, std::string codePage = std::string(kDefaultNameCodePage),
             std::uint16_t partition = 0);

  // Fills the tree from the root id, depth first in list order, and stores
  // each folder's item in its node's tree-node field. Reports progress as
  // folders inserted × 100 / DirectoryCount when a job is given.
  void build(Job* job = nullptr);

  bool isFat() const { return fat_; }
  // FAT and exFAT name folders by their first cluster, the root 0; NTFS by
  // record number, the root 5.
  std::uint32_t rootId() const { return fat_ || fileSystemType_ == FsType::ExFat ? 0u : kNtfsRootId; }
  const std::string& codePage() const { return codePage_; }
  std::uint16_t partition() const { return partition_; }
  FoundEntries& entries() { return entries_; }
  const FoundEntries& entries() const { return entries_; }

  std::size_t itemCount() const { return items_.size(); }
  const TreeItem& item(std::size_t index) const { return items_.at(index); }
  // The item of a directory node, if the tree holds it.
  std::optional<std::size_t> itemOfDirectory(std::size_t directoryIndex) const;
  // The first item whose id is this identifier (the top node for the root id).
  std::optional<std::size_t> itemOfId(std::uint32_t id) const;
  // Names from below the top node down to the item.
  std::vector<std::string> pathComponents(std::size_t item) const;
  // "/" for the top node, "/Documents/Work" below it.
  std::string pathText(std::size_t item) const;
  // The item at a path like "/Documents/Work" (components compared exactly).
  std::optional<std::size_t> findFolder(std::string_view path) const;
  // The file node at a path like "/Documents/a.txt", with its folder's item.
  struct FileLocation {
    std::size_t item;
    std::size_t file;
  };
  std::optional<FileLocation> findFile(std::string_view path) const;

  // Names as shown.
  std::string directoryName(std::size_t directoryIndex) const;
  std::string fileName(std::size_t fileIndex) const;
  // The same name appended to out.
  void appendFileName(std::string& out, std::size_t fileIndex) const;

  // The rows of a folder: its sub-folders, then its files, in list order.
  // Progress is entries done × 100 / all entries.
  std::vector<ResultRow> listFolder(std::size_t item, Job* job = nullptr) const;
  ResultRow fileRow(std::size_t fileIndex) const;
  ResultRow folderRow(std::size_t directoryIndex) const;

  // Check marks. Checking a folder marks it, its sub-folders and every file
  // of its subtree; checking the top node marks every node at once.
  // Unchecking clears the same and then walks up from the folder's parent,
  // unchecking each ancestor that holds no checked folder or file directly.
  void checkFolder(std::size_t item, Job* job = nullptr);
  void uncheckFolder(std::size_t item, Job* job = nullptr);
  void setFileChecked(std::size_t fileIndex, bool checked);
  // Checks the item and its ancestors up to the top node without marking
  // their files, so that a saving of the checked items walks down to it.
  void checkPathTo(std::size_t item);
  bool isChecked(std::size_t item) const { return items_.at(item).checked; }
  // Whether the item holds a checked folder or file directly.
  bool holdsCheckedEntry(std::size_t item) const;

  // Renaming: the new name replaces the node's name in the encoding the
  // node held it in (narrow names are encoded back into the code page, at
  // most 200 bytes). An empty text is a cancelled edit and changes nothing.
  // Returns whether the name changed.
  bool renameFile(std::size_t fileIndex, const std::string& text);
  bool renameFolder(std::size_t item, const std::string& text);

  // "%.3f MB size in %d Directories %d Files" of the lists.
  std::string summary() const;

 private:
  void markSubtree(std::size_t item, char mark, bool checked, Job* job, const char* status);
  bool folderVisible(const DirectoryNode& node) const { return node.partition == partition_; }
  void storeName(std::string& narrowName, std::u16string& wideName, const std::string& text) const;

  FoundEntries& entries_;
  FsType fileSystemType_;
  std::string codePage_;
  std::uint16_t partition_;
  bool fat_;
  std::vector<TreeItem> items_;
  std::unordered_map<std::size_t, std::size_t> itemByDirectory_;
  std::unordered_map<std::uint32_t, std::size_t> itemById_;
};

// Sorting the rows of a list: each click on a column flips the direction
// and sorts by that column.
class RowSorter {
 public:
  explicit RowSorter(bool fat) : fat_(fat) {}
  // <0, 0, >0 in the ascending order of the column.
  int compare(const ResultRow& a, const ResultRow& b, ResultColumn column) const;
  void sortByColumn(std::vector<ResultRow>& rows, ResultColumn column);
  bool direction() const { return direction_; }

 private:
  bool fat_;
  bool direction_ = false;
};

}  // namespace dravolin
