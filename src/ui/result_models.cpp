#include "ui/result_models.h"

#include "results/unicode_text.h"

#include <QApplication>
#include <QStyle>
#include <algorithm>
#include <numeric>

namespace dravolin::ui {

namespace {

QIcon dimmed(const QIcon& icon) {
  QIcon out;
  for (int size : {16, 24, 32}) out.addPixmap(icon.pixmap(size, size, QIcon::Disabled), QIcon::Normal);
  return out;
}

}  // namespace

// ---- FolderTreeModel

FolderTreeModel::FolderTreeModel(ResultTree& tree, QObject* parent) : QAbstractItemModel(parent), tree_(tree) {
  rowInParent_.assign(tree_.itemCount(), 0);
  for (std::size_t i = 0; i < tree_.itemCount(); ++i) {
    const auto& children = tree_.item(i).children;
    for (std::size_t row = 0; row < children.size(); ++row) rowInParent_[children[row]] = static_cast<int>(row);
  }
  QStyle* style = QApplication::style();
  folder_ = style->standardIcon(QStyle::SP_DirIcon);
  deletedFolder_ = dimmed(folder_);
  top_ = style->standardIcon(QStyle::SP_DriveHDIcon);
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 ? createIndex(0, 0, quintptr{ResultTree::kTopItem}) : QModelIndex();
  const auto& children = tree_.item(itemOf(parent)).children;
  if (static_cast<std::size_t>(row) >= children.size()) return {};
  return createIndex(row, 0, quintptr{children[static_cast<std::size_t>(row)]});
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  const std::size_t item = itemOf(child);
  if (item == ResultTree::kTopItem) return {};
  const std::size_t parentItem = tree_.item(item).parent;
  return indexOfItem(parentItem);
}

QModelIndex FolderTreeModel::indexOfItem(std::size_t item) const {
  if (item >= tree_.itemCount()) return {};
  if (item == ResultTree::kTopItem) return createIndex(0, 0, quintptr{ResultTree::kTopItem});
  return createIndex(rowInParent_[item], 0, quintptr{item});
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return tree_.itemCount() > 0 ? 1 : 0;
  if (parent.column() != 0) return 0;
  return static_cast<int>(tree_.item(itemOf(parent)).children.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::size_t item = itemOf(index);
  const TreeItem& node = tree_.item(item);
  switch (role) {
    case Qt::DisplayRole:  // control characters shown escaped; renaming edits the name itself
      return QString::fromStdString(shownText(node.name));
    case Qt::EditRole:
      return QString::fromStdString(node.name);
    case Qt::CheckStateRole:
      return node.checked ? Qt::Checked : Qt::Unchecked;
    case Qt::DecorationRole:
      if (item == ResultTree::kTopItem) return top_;
      return tree_.entries().DirectoryList[static_cast<std::size_t>(node.directory)].isDeleted() ? deletedFolder_
                                                                                              : folder_;
    default:
      return {};
  }
}

bool FolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid()) return false;
  const std::size_t item = itemOf(index);
  if (role == Qt::CheckStateRole) {
    emit checkToggled(item, value.toInt() == Qt::Checked);
    return true;
  }
  if (role == Qt::EditRole) {
    if (!tree_.renameFolder(item, value.toString().toStdString())) return false;
    emit dataChanged(index, index);
    emit folderRenamed(item);
    return true;
  }
  return false;
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
  if (itemOf(index) != ResultTree::kTopItem) f |= Qt::ItemIsEditable;
  return f;
}

void FolderTreeModel::refresh() {
  // Names and marks are read from the tree on every paint; one signal over
  // the top node lets the views repaint.
  const QModelIndex top = index(0, 0);
  emit dataChanged(top, top);
}

// ---- FolderListModel

FolderListModel::FolderListModel(ResultTree& tree, QObject* parent)
    : QAbstractTableModel(parent), tree_(tree), sorter_(tree.isFat()) {
  headings_ = {QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Size"), QStringLiteral("Modified Date"),
               QStringLiteral("Created Date"), QStringLiteral("Accessed Date"), QStringLiteral("ID")};
  QStyle* style = QApplication::style();
  folderIcon_ = style->standardIcon(QStyle::SP_DirIcon);
  deletedFolderIcon_ = dimmed(folderIcon_);
  fileIcon_ = style->standardIcon(QStyle::SP_FileIcon);
  deletedFileIcon_ = dimmed(fileIcon_);
}

void FolderListModel::setFolder(std::size_t item) {
  beginResetModel();
  folder_ = item;
  refs_.clear();
  cache_.clear();
  if (item < tree_.itemCount()) {
    const FoundEntries& entries = tree_.entries();
    const std::uint32_t id = tree_.item(item).id;
    const auto& folders = entries.childDirectories(id);
    const auto& files = entries.childFiles(id);
    refs_.reserve(folders.size() + files.size());
    for (std::size_t d : folders)
      if (entries.DirectoryList[d].partition == tree_.partition()) refs_.push_back({RowKind::Folder, d});
    for (std::size_t f : files) refs_.push_back({RowKind::File, f});
  }
  cache_.resize(refs_.size());
  endResetModel();
}

const ResultRow& FolderListModel::row(int at) const {
  auto& slot = cache_.at(static_cast<std::size_t>(at));
  if (!slot) {
    const Ref& ref = refs_[static_cast<std::size_t>(at)];
    slot = ref.kind == RowKind::Folder ? tree_.folderRow(ref.index) : tree_.fileRow(ref.index);
  }
  return *slot;
}

int FolderListModel::rowOfFile(std::size_t fileIndex) const {
  for (std::size_t i = 0; i < refs_.size(); ++i)
    if (refs_[i].kind == RowKind::File && refs_[i].index == fileIndex) return static_cast<int>(i);
  return -1;
}

int FolderListModel::rowOfFolder(std::size_t directoryIndex) const {
  for (std::size_t i = 0; i < refs_.size(); ++i)
    if (refs_[i].kind == RowKind::Folder && refs_[i].index == directoryIndex) return static_cast<int>(i);
  return -1;
}

int FolderListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(refs_.size());
}

int FolderListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 7; }

QVariant FolderListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const ResultRow& r = row(index.row());
  const auto column = static_cast<ResultColumn>(index.column());
  if (role == Qt::DisplayRole || (role == Qt::EditRole && column == ResultColumn::Name)) {
    switch (column) {
      case ResultColumn::Name: return QString::fromStdString(role == Qt::DisplayRole ? shownText(r.name) : r.name);
      case ResultColumn::Type: return QString::fromStdString(r.type);
      case ResultColumn::Size: return QString::number(r.kind == RowKind::Folder ? 0 : r.size);
      case ResultColumn::Modified: return QString::fromStdString(r.dates.modified);
      case ResultColumn::Created: return QString::fromStdString(r.dates.created);
      case ResultColumn::Accessed: return QString::fromStdString(r.dates.accessed);
      case ResultColumn::Id: return QString::number(r.id);
    }
  }
  if (column == ResultColumn::Name && role == Qt::CheckStateRole) return r.checked ? Qt::Checked : Qt::Unchecked;
  if (column == ResultColumn::Name && role == Qt::DecorationRole) {
    if (r.kind == RowKind::Folder) return r.deleted ? deletedFolderIcon_ : folderIcon_;
    return r.deleted ? deletedFileIcon_ : fileIcon_;
  }
  if (column == ResultColumn::Size && role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant FolderListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headings_.size())
    return headings_[section];
  return {};
}

bool FolderListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0) return false;
  const Ref ref = refs_[static_cast<std::size_t>(index.row())];
  if (role == Qt::CheckStateRole) {
    const bool checked = value.toInt() == Qt::Checked;
    if (ref.kind == RowKind::Folder) emit folderCheckToggled(ref.index, checked);
    else emit fileCheckToggled(ref.index, checked);
    return true;
  }
  if (role == Qt::EditRole) {
    const std::string text = value.toString().toStdString();
    bool changed = false;
    if (ref.kind == RowKind::File) {
      changed = tree_.renameFile(ref.index, text);
    } else if (auto item = tree_.itemOfDirectory(ref.index)) {
      changed = tree_.renameFolder(*item, text);
    }
    // A cancelled or empty edit puts the node's name back.
    cache_[static_cast<std::size_t>(index.row())].reset();
    emit dataChanged(index, index);
    if (changed) emit renamed(ref.kind, ref.index);
    return changed;
  }
  return false;
}

Qt::ItemFlags FolderListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0) {
    f |= Qt::ItemIsUserCheckable;
    // A folder that the tree could not hold (a cycle) cannot be renamed.
    const Ref& ref = refs_[static_cast<std::size_t>(index.row())];
    if (ref.kind == RowKind::File || tree_.itemOfDirectory(ref.index)) f |= Qt::ItemIsEditable;
  }
  return f;
}

void FolderListModel::sortColumn(int column) {
  if (column < 0 || column > 6) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<ResultRow> rows;
  rows.reserve(refs_.size());
  for (int i = 0; i < static_cast<int>(refs_.size()); ++i) rows.push_back(row(i));
  sorter_.sortByColumn(rows, static_cast<ResultColumn>(column));
  for (std::size_t at = 0; at < rows.size(); ++at) {
    refs_[at] = {rows[at].kind, rows[at].index};
    cache_[at] = std::move(rows[at]);
  }
  // The selection does not follow the rows it was on.
  const QModelIndexList before = persistentIndexList();
  changePersistentIndexList(before, QModelIndexList(before.size()));
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FolderListModel::refresh() {
  for (auto& slot : cache_) slot.reset();
  if (!refs_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

}  // namespace dravolin::ui
