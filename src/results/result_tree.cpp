#include "results/result_tree.h"

#include <algorithm>
#include <unordered_set>

#include "common/text_encoding.h"
#include "results/unicode_text.h"

namespace dravolin {
namespace {

constexpr std::size_t kNarrowNameLimit = 200;

int percentOf(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total));
}

std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t at = 0;
  while (at <= path.size()) {
    std::size_t next = path.find('/', at);
    if (next == std::string_view::npos) next = path.size();
    if (next > at) parts.push_back(path.substr(at, next - at));
    at = next + 1;
  }
  return parts;
}

int compareText(const std::string& a, const std::string& b) {
  // Unsigned code units, a shorter prefix first.
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

template <typename T>
int compareValues(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

ResultTree::ResultTree(FoundEntries& entries, FsType fileSystemType, std::string codePage,
                       std::uint16_t partition)
    : entries_(entries),
      fileSystemType_(fileSystemType),
      codePage_(std::move(codePage)),
      partition_(partition),
      fat_(dravolin::isFat(fileSystemType_)) {}

void ResultTree::build(Job* job) {
  items_.clear();
  itemByDirectory_.clear();
  itemById_.clear();
  TreeItem top;
  top.id = rootId();
  top.name = "Root (" + (fileSystemType_ == FsType::Unknown ? std::string("Unknown") : toString(fileSystemType_)) + ")";
  items_.push_back(std::move(top));
  itemById_.emplace(rootId(), kTopItem);

  // Depth first with an explicit stack, so that a deep chain of folders
  // cannot exhaust the call stack. A folder is expanded only when its id is
  // not already the id of one of its ancestors: a directory that names
  // itself or a parent cycle ends there instead of repeating forever.
  std::vector<bool> inserted(entries_.DirectoryList.size(), false);
  struct Pending {
    std::size_t item;
    std::size_t next;  // position in the children list of the item's id
  };
  std::vector<Pending> stack{{kTopItem, 0}};
  std::unordered_set<std::uint32_t> onPath{rootId()};
  std::uint64_t done = 0;
  const std::uint64_t total = entries_.DirectoryCount;
  while (!stack.empty()) {
    Pending& top_of_stack = stack.back();
    const std::uint32_t id = items_[top_of_stack.item].id;
    const auto& children = entries_.childDirectories(id);
    if (top_of_stack.next >= children.size()) {
      if (stack.size() > 1) onPath.erase(id);
      stack.pop_back();
      continue;
    }
    const std::size_t directory = children[top_of_stack.next++];
    const std::size_t parentItem = top_of_stack.item;
    if (directory >= inserted.size() || inserted[directory]) continue;
    DirectoryNode& node = entries_.DirectoryList[directory];
    if (!folderVisible(node)) continue;
    inserted[directory] = true;
    TreeItem child;
    child.directory = static_cast<std::ptrdiff_t>(directory);
    child.parent = parentItem;
    child.id = node.ownId;
    child.checked = node.mark == 'y';
    child.name = entryName(node.narrowName, node.wideName, codePage_);
    const std::size_t childItem = items_.size();
    items_.push_back(std::move(child));
    items_[parentItem].children.push_back(childItem);
    node.treeNode = static_cast<std::uint32_t>(childItem);
    itemByDirectory_.emplace(directory, childItem);
    itemById_.emplace(node.ownId, childItem);
    ++done;
    if (job) job->setPercent(percentOf(done, total));
    if (!onPath.contains(node.ownId)) {
      onPath.insert(node.ownId);
      stack.push_back({childItem, 0});
    }
  }
}

std::optional<std::size_t> ResultTree::itemOfDirectory(std::size_t directoryIndex) const {
  auto it = itemByDirectory_.find(directoryIndex);
  if (it == itemByDirectory_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::size_t> ResultTree::itemOfId(std::uint32_t id) const {
  auto it = itemById_.find(id);
  if (it == itemById_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> ResultTree::pathComponents(std::size_t item) const {
  std::vector<std::string> parts;
  // Bounded by the number of items: parents always have lower indexes.
  for (std::size_t at = item; at != kTopItem && at < items_.size(); at = items_[at].parent) {
    parts.push_back(items_[at].name);
    if (items_[at].parent >= at) break;
  }
  std::reverse(parts.begin(), parts.end());
  return parts;
}

std::string ResultTree::pathText(std::size_t item) const {
  std::string out;
  for (const auto& part : pathComponents(item)) out += "/" + part;
  return out.empty() ? "/" : out;
}

std::optional<std::size_t> ResultTree::findFolder(std::string_view path) const {
  if (items_.empty()) return std::nullopt;
  std::size_t at = kTopItem;
  for (std::string_view part : splitPath(path)) {
    std::optional<std::size_t> next;
    for (std::size_t child : items_[at].children)
      if (items_[child].name == part) {
        next = child;
        break;
      }
    if (!next) return std::nullopt;
    at = *next;
  }
  return at;
}

std::optional<ResultTree::FileLocation> ResultTree::findFile(std::string_view path) const {
  const std::size_t slash = path.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash);
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  auto item = findFolder(folder);
  if (!item || name.empty()) return std::nullopt;
  for (std::size_t file : entries_.childFiles(items_[*item].id))
    if (fileName(file) == name) return FileLocation{*item, file};
  return std::nullopt;
}

std::string ResultTree::directoryName(std::size_t directoryIndex) const {
  const DirectoryNode& node = entries_.DirectoryList.at(directoryIndex);
  return entryName(node.narrowName, node.wideName, codePage_);
}

std::string ResultTree::fileName(std::size_t fileIndex) const {
  std::string name;
  appendFileName(name, fileIndex);
  return name;
}

void ResultTree::appendFileName(std::string& out, std::size_t fileIndex) const {
  const FileNode& node = entries_.FileList.at(fileIndex);
  appendEntryName(out, node.narrowName, node.wideName, codePage_);
}

ResultRow ResultTree::folderRow(std::size_t directoryIndex) const {
  const DirectoryNode& node = entries_.DirectoryList.at(directoryIndex);
  ResultRow row;
  row.kind = RowKind::Folder;
  row.index = directoryIndex;
  row.name = entryName(node.narrowName, node.wideName, codePage_);
  row.type = typeText(true, node.isDeleted());
  row.dates = entryDateTexts(node.times, fat_);
  row.times = node.times;
  row.id = node.treeNode;
  row.checked = node.mark == 'y';
  row.deleted = node.isDeleted();
  return row;
}

ResultRow ResultTree::fileRow(std::size_t fileIndex) const {
  const FileNode& node = entries_.FileList.at(fileIndex);
  ResultRow row;
  row.kind = RowKind::File;
  row.index = fileIndex;
  row.name = entryName(node.narrowName, node.wideName, codePage_);
  row.type = typeText(false, node.isDeleted());
  row.size = node.size;
  row.dates = entryDateTexts(node.times, fat_);
  row.times = node.times;
  row.id = node.fileIndex;
  row.checked = node.mark == 'y';
  row.deleted = node.isDeleted();
  return row;
}

std::vector<ResultRow> ResultTree::listFolder(std::size_t item, Job* job) const {
  std::vector<ResultRow> rows;
  if (item >= items_.size()) return rows;
  const std::uint32_t id = items_[item].id;
  const auto& folders = entries_.childDirectories(id);
  const auto& files = entries_.childFiles(id);
  const std::uint64_t total = folders.size() + files.size();
  rows.reserve(total);
  std::uint64_t done = 0;
  for (std::size_t directory : folders) {
    ++done;
    if (!folderVisible(entries_.DirectoryList[directory])) continue;
    rows.push_back(folderRow(directory));
    if (job) job->setPercent(percentOf(done, total));
  }
  for (std::size_t file : files) {
    ++done;
    rows.push_back(fileRow(file));
    if (job) job->setPercent(percentOf(done, total));
  }
  return rows;
}

void ResultTree::markSubtree(std::size_t item, char mark, bool checked, Job* job, const char* status) {
  if (job) job->setStatus(status);
  // The subtree in item order: children always follow their parent.
  std::vector<std::size_t> pending{item};
  std::vector<std::size_t> subtree;
  while (!pending.empty()) {
    std::size_t at = pending.back();
    pending.pop_back();
    subtree.push_back(at);
    for (std::size_t child : items_[at].children) pending.push_back(child);
  }
  std::uint64_t done = 0;
  for (std::size_t at : subtree) {
    TreeItem& node = items_[at];
    node.checked = checked;
    if (node.directory >= 0) entries_.DirectoryList[static_cast<std::size_t>(node.directory)].mark = mark;
    for (std::size_t file : entries_.childFiles(node.id)) entries_.FileList[file].mark = mark;
    ++done;
    if (job) {
      job->setPercent(percentOf(done, subtree.size()));
      job->checkpoint();
    }
  }
}

void ResultTree::checkFolder(std::size_t item, Job* job) {
  if (item >= items_.size()) return;
  if (item == kTopItem) {
    // The top node marks everything at once.
    for (auto& node : entries_.DirectoryList)
      if (folderVisible(node)) node.mark = 'y';
    for (auto& node : entries_.FileList) node.mark = 'y';
    for (auto& node : items_) node.checked = true;
    return;
  }
  markSubtree(item, 'y', true, job, "      Please Wait - Selecting Files/Folders ");
}

bool ResultTree::holdsCheckedEntry(std::size_t item) const {
  const TreeItem& node = items_.at(item);
  for (std::size_t child : node.children)
    if (items_[child].checked) return true;
  for (std::size_t file : entries_.childFiles(node.id))
    if (entries_.FileList[file].mark == 'y') return true;
  return false;
}

void ResultTree::uncheckFolder(std::size_t item, Job* job) {
  if (item >= items_.size()) return;
  markSubtree(item, 'n', false, job, "      Please Wait - UnSelecting Files/Folders ");
  if (item == kTopItem) return;
  // Walk up: each ancestor that holds nothing checked directly is unchecked;
  // the first one that still holds something ends the walk.
  std::size_t at = items_[item].parent;
  for (std::size_t steps = 0; steps < items_.size(); ++steps) {
    if (holdsCheckedEntry(at)) break;
    TreeItem& ancestor = items_[at];
    ancestor.checked = false;
    if (ancestor.directory >= 0) entries_.DirectoryList[static_cast<std::size_t>(ancestor.directory)].mark = 'n';
    if (at == kTopItem) break;
    at = ancestor.parent;
  }
}

void ResultTree::setFileChecked(std::size_t fileIndex, bool checked) {
  if (fileIndex < entries_.FileList.size()) entries_.FileList[fileIndex].mark = checked ? 'y' : 'n';
}

void ResultTree::checkPathTo(std::size_t item) {
  if (item >= items_.size()) return;
  std::size_t at = item;
  for (std::size_t steps = 0; steps <= items_.size(); ++steps) {
    TreeItem& node = items_[at];
    node.checked = true;
    if (node.directory >= 0) entries_.DirectoryList[static_cast<std::size_t>(node.directory)].mark = 'y';
    if (at == kTopItem) break;
    at = node.parent;
  }
}

// A new name keeps the encoding of the old one: 8-bit text in the code page
// (cut to the limit of a narrow name) or UTF-16.
void ResultTree::storeName(std::string& narrowName, std::u16string& wideName, const std::string& text) const {
  if (!narrowName.empty()) {
    narrowName = utf8ToCodePage(text, codePage_);
    if (narrowName.size() > kNarrowNameLimit) narrowName.resize(kNarrowNameLimit);
  } else {
    wideName = utf8ToUtf16(text);
  }
}

bool ResultTree::renameFile(std::size_t fileIndex, const std::string& text) {
  if (text.empty() || fileIndex >= entries_.FileList.size()) return false;
  if (text == fileName(fileIndex)) return false;
  FileNode& node = entries_.FileList[fileIndex];
  storeName(node.narrowName, node.wideName, text);
  return true;
}

bool ResultTree::renameFolder(std::size_t item, const std::string& text) {
  if (text.empty() || item >= items_.size() || items_[item].directory < 0) return false;
  const auto directory = static_cast<std::size_t>(items_[item].directory);
  if (text == directoryName(directory)) return false;
  DirectoryNode& node = entries_.DirectoryList[directory];
  storeName(node.narrowName, node.wideName, text);
  items_[item].name = directoryName(directory);
  return true;
}

std::string ResultTree::summary() const {
  return summaryText(entries_.TotalSize, entries_.DirectoryCount, entries_.FileCount);
}

// ---- sorting

int RowSorter::compare(const ResultRow& a, const ResultRow& b, ResultColumn column) const {
  switch (column) {
    case ResultColumn::Name:
      return compareText(a.name, b.name);
    case ResultColumn::Type:
      return compareText(a.type, b.type);
    case ResultColumn::Size:
      return compareValues(a.kind == RowKind::Folder ? 0 : a.size, b.kind == RowKind::Folder ? 0 : b.size);
    case ResultColumn::Modified:
    case ResultColumn::Created:
    case ResultColumn::Accessed: {
      const std::size_t slot = (static_cast<std::size_t>(column) - 3) * 2;
      if (fat_) {
        if (int c = compareValues(a.times[slot], b.times[slot])) return c;
        return compareValues(a.times[slot + 1], b.times[slot + 1]);
      }
      auto fileTime = [slot](const EntryTimes& t) {
        return static_cast<std::uint64_t>(t[slot]) | (static_cast<std::uint64_t>(t[slot + 1]) << 32);
      };
      return compareValues(fileTime(a.times), fileTime(b.times));
    }
    case ResultColumn::Id:
      return compareValues(a.id, b.id);
  }
  return 0;
}

void RowSorter::sortByColumn(std::vector<ResultRow>& rows, ResultColumn column) {
  direction_ = !direction_;
  const bool ascending = direction_;
  std::stable_sort(rows.begin(), rows.end(), [&](const ResultRow& a, const ResultRow& b) {
    const int c = compare(a, b, column);
    return ascending ? c < 0 : c > 0;
  });
}

}  // namespace dravolin
