#include "entries/found_entries.h"

#include <algorithm>

#include "common/text_encoding.h"

namespace dravolin {

namespace {
const std::vector<std::size_t> kNone;
}

void FoundEntries::indexChild(std::unordered_map<std::uint32_t, std::vector<std::size_t>>& map,
                              std::uint32_t parent, std::size_t index) {
  auto& v = map[parent];
  // Keep list order even when an index is re-inserted after a parent change.
  v.insert(std::upper_bound(v.begin(), v.end(), index), index);
}

void FoundEntries::unindexChild(std::unordered_map<std::uint32_t, std::vector<std::size_t>>& map,
                                std::uint32_t parent, std::size_t index) {
  auto it = map.find(parent);
  if (it == map.end()) return;
  auto& v = it->second;
  auto pos = std::lower_bound(v.begin(), v.end(), index);
  if (pos != v.end() && *pos == index) v.erase(pos);
}

std::size_t FoundEntries::AddDirectoryNode(const std::string& narrowName, const std::u16string& wideName,
                                           bool deleted, std::uint32_t parentId, std::uint32_t ownId,
                                           std::uint64_t extra, const EntryTimes& times,
                                           std::uint16_t partition) {
  if (ownId != 0) {
    auto it = byIdAndPartition_.find(key(ownId, partition));
    if (it != byIdAndPartition_.end()) {
      DirectoryNode& existing = DirectoryList[it->second];
      if (!existing.isDeleted() || deleted) return it->second;
      // A live directory wins over a deleted one with the same identifier.
      unindexChild(dirChildren_, existing.parentId, it->second);
      existing.narrowName = narrowName;
      existing.wideName = narrowName.empty() ? wideName : std::u16string{};
      existing.deleted = 'n';
      existing.parentId = parentId;
      existing.extra = extra;
      existing.times = times;
      existing.kind = 'D';
      existing.mark = 'n';
      indexChild(dirChildren_, parentId, it->second);
      return it->second;
    }
  }
  DirectoryNode node;
  node.narrowName = narrowName;
  if (narrowName.empty()) node.wideName = wideName;
  node.deleted = deleted ? 'y' : 'n';
  node.times = times;
  node.parentId = parentId;
  node.ownId = ownId;
  node.extra = extra;
  node.partition = partition;
  const std::size_t index = DirectoryList.size();
  DirectoryList.push_back(std::move(node));
  if (ownId != 0) byIdAndPartition_.emplace(key(ownId, partition), index);
  firstById_[ownId].push_back(index);
  indexChild(dirChildren_, parentId, index);
  ++DirectoryCount;
  return index;
}

std::size_t FoundEntries::AddFileNode(std::string narrowName, std::u16string wideName, bool deleted, std::uint64_t size, std::uint32_t parentId,
                                      std::uint32_t firstCluster, std::uint64_t extra, const EntryTimes& times) {
  FileNode node;
  if (narrowName.empty()) node.wideName = std::move(wideName);
  node.narrowName = std::move(narrowName);
  node.deleted = deleted ? 'y' : 'n';
  node.times = times;
  node.fileIndex = FileCount;
  node.size = size;
  node.parentId = parentId;
  node.firstCluster = firstCluster;
  node.extra = extra;
  const std::size_t index = FileList.size();
  FileList.push_back(std::move(node));
  indexChild(fileChildren_, parentId, index);
  ++FileCount;
  return index;
}

void FoundEntries::addLostNode() { AddDirectoryNode("Lost", u"", false, 0, kLostId, 0, EntryTimes{}, 0); }

void FoundEntries::removeEmptyLostNode(std::uint16_t partition) {
  const std::ptrdiff_t found = findDirectory(kLostId, partition);
  if (found < 0 || !childDirectories(kLostId).empty() || !childFiles(kLostId).empty()) return;
  DirectoryList.erase(DirectoryList.begin() + found);
  --DirectoryCount;
  // The folder indexes after it moved down by one: the maps are made again.
  byIdAndPartition_.clear();
  firstById_.clear();
  dirChildren_.clear();
  for (std::size_t i = 0; i < DirectoryList.size(); ++i) {
    const DirectoryNode& node = DirectoryList[i];
    if (node.ownId != 0) byIdAndPartition_.emplace(key(node.ownId, node.partition), i);
    firstById_[node.ownId].push_back(i);
    dirChildren_[node.parentId].push_back(i);
  }
}

void FoundEntries::renameDirectory(std::size_t index, const std::string& narrowName,
                                   const std::u16string& wideName, bool deleted) {
  if (index >= DirectoryList.size()) return;
  DirectoryNode& node = DirectoryList[index];
  node.narrowName = narrowName;
  node.wideName = narrowName.empty() ? wideName : std::u16string{};
  node.deleted = deleted ? 'y' : 'n';
}

std::ptrdiff_t FoundEntries::findDirectory(std::uint32_t ownId) const {
  auto it = firstById_.find(ownId);
  if (it == firstById_.end() || it->second.empty()) return -1;
  return static_cast<std::ptrdiff_t>(it->second.front());
}

std::ptrdiff_t FoundEntries::findDirectory(std::uint32_t ownId, std::uint16_t partition) const {
  auto it = byIdAndPartition_.find(key(ownId, partition));
  return it == byIdAndPartition_.end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
}

const std::vector<std::size_t>& FoundEntries::childDirectories(std::uint32_t parentId) const {
  auto it = dirChildren_.find(parentId);
  return it == dirChildren_.end() ? kNone : it->second;
}

const std::vector<std::size_t>& FoundEntries::childFiles(std::uint32_t parentId) const {
  auto it = fileChildren_.find(parentId);
  return it == fileChildren_.end() ? kNone : it->second;
}

void FoundEntries::setDirectoryParent(std::size_t index, std::uint32_t parentId) {
  if (index >= DirectoryList.size()) return;
  unindexChild(dirChildren_, DirectoryList[index].parentId, index);
  DirectoryList[index].parentId = parentId;
  indexChild(dirChildren_, parentId, index);
}

void FoundEntries::setFileParent(std::size_t index, std::uint32_t parentId) {
  if (index >= FileList.size()) return;
  unindexChild(fileChildren_, FileList[index].parentId, index);
  FileList[index].parentId = parentId;
  indexChild(fileChildren_, parentId, index);
}

void FoundEntries::clear() {
  DirectoryList.clear();
  FileList.clear();
  DirectoryCount = 0;
  FileCount = 0;
  TotalSize = 0;
  Losses.clear();
  byIdAndPartition_.clear();
  firstById_.clear();
  dirChildren_.clear();
  fileChildren_.clear();
}

void FoundEntries::clearFiles() {
  FileList.clear();
  FileCount = 0;
  fileChildren_.clear();
}

std::string displayName(const std::string& narrowName, const std::u16string& wideName,
                        const std::string& codePage) {
  if (!narrowName.empty()) return codePageToUtf8(narrowName, codePage);
  return utf16ToUtf8(wideName);
}

}  // namespace dravolin
