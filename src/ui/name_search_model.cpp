#include "ui/name_search_model.h"

#include <QApplication>
#include <QStyle>

#include "results/unicode_text.h"

namespace dravolin::ui {

NameSearchModel::NameSearchModel(const ResultTree& tree, QObject* parent)
    : QAbstractTableModel(parent),
      tree_(tree),
      search_(tree),
      headings_({QStringLiteral("File Name"), QStringLiteral("Type"), QStringLiteral("Path"),
                 QStringLiteral("File Size"), QStringLiteral("Created Date"), QStringLiteral("Modified Date"),
                 QStringLiteral("Last Accessed"), QStringLiteral("ID")}) {
  QStyle* style = QApplication::style();
  folderIcon_ = style->standardIcon(QStyle::SP_DirIcon);
  fileIcon_ = style->standardIcon(QStyle::SP_FileIcon);
}

void NameSearchModel::setMatches(std::vector<NameSearchMatch> matches) {
  beginResetModel();
  matches_ = std::move(matches);
  lastHit_.reset();
  lastRow_ = -1;
  endResetModel();
}

void NameSearchModel::clear() { setMatches({}); }

void NameSearchModel::refreshChecks() {
  if (!matches_.empty()) emit dataChanged(index(0, Name), index(rowCount() - 1, Name), {Qt::CheckStateRole});
}

int NameSearchModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(matches_.size());
}

int NameSearchModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

const NameSearchHit& NameSearchModel::hitOf(int row) const {
  if (row != lastRow_ || !lastHit_) {
    lastHit_ = search_.hitOf(match(row));
    lastRow_ = row;
  }
  return *lastHit_;
}

bool NameSearchModel::checked(const NameSearchMatch& m) const {
  const FoundEntries& entries = tree_.entries();
  return m.kind == RowKind::Folder ? entries.DirectoryList.at(m.index).mark == 'y'
                                   : entries.FileList.at(m.index).mark == 'y';
}

QVariant NameSearchModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const NameSearchMatch& m = match(index.row());
  if (index.column() == Name) {
    if (role == Qt::CheckStateRole) return checked(m) ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::DecorationRole) return m.kind == RowKind::Folder ? folderIcon_ : fileIcon_;
  }
  if (role != Qt::DisplayRole) return {};
  const NameSearchHit& h = hitOf(index.row());
  switch (index.column()) {
    case Name: return QString::fromStdString(shownText(h.name));
    case Type: return QString::fromStdString(h.type);
    case Path: return QString::fromStdString(shownText(h.folderPath));
    case Size: return QString::number(h.size);
    case Created: return QString::fromStdString(h.dates.created);
    case Modified: return QString::fromStdString(h.dates.modified);
    case Accessed: return QString::fromStdString(h.dates.accessed);
    case Id: return QString::number(h.id);
    default: return {};
  }
}

QVariant NameSearchModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headings_.size())
    return headings_[section];
  return {};
}

bool NameSearchModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != Name || role != Qt::CheckStateRole) return false;
  const NameSearchMatch m = match(index.row());
  const bool on = value.toInt() == Qt::Checked;
  if (m.kind == RowKind::Folder) emit folderCheckToggled(m.index, on);
  else emit fileCheckToggled(m.index, on);
  // The marks are set by the result browser's rules (a folder's on a
  // worker); the rows show them as they are.
  refreshChecks();
  return true;
}

Qt::ItemFlags NameSearchModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == Name) f |= Qt::ItemIsUserCheckable;
  return f;
}

}  // namespace dravolin::ui
