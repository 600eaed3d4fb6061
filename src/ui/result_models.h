#pragma once
// Qt models over the result tree of results/: the folder tree (a folder's
// children are asked for only when it is expanded) and the list of one
// folder (a row's texts are made when the view first shows it, so a folder
// of 100,000 files opens at once). Check boxes and renames go to the
// result tree; the page that owns the models applies the check rules.
#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <QIcon>
#include <optional>
#include <vector>

#include "results/result_tree.h"

namespace dravolin::ui {

class FolderTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  FolderTreeModel(ResultTree& tree, QObject* parent = nullptr);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  std::size_t itemOf(const QModelIndex& index) const { return static_cast<std::size_t>(index.internalId()); }
  QModelIndex indexOfItem(std::size_t item) const;
  // The check marks or names changed behind the model's back.
  void refresh();

 signals:
  void checkToggled(std::size_t item, bool checked);
  void folderRenamed(std::size_t item);

 private:
  ResultTree& tree_;
  std::vector<int> rowInParent_;
  QIcon folder_, deletedFolder_, top_;
};

class FolderListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  FolderListModel(ResultTree& tree, QObject* parent = nullptr);

  // Lists a folder of the tree: its sub-folders, then its files, in list order.
  void setFolder(std::size_t item);
  std::size_t folder() const { return folder_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // A click on a column: flips the direction and sorts by that column.
  void sortColumn(int column);
  bool sortDirection() const { return sorter_.direction(); }

  const ResultRow& row(int at) const;
  int rowOfFile(std::size_t fileIndex) const;
  int rowOfFolder(std::size_t directoryIndex) const;
  // Check marks or names changed: the rows are made again when shown.
  void refresh();

  // Headings, from the message texts 61 to 66 where the language file has them.
  void setHeadings(const QStringList& headings) { headings_ = headings; }

 signals:
  void folderCheckToggled(std::size_t directoryIndex, bool checked);
  void fileCheckToggled(std::size_t fileIndex, bool checked);
  void renamed(RowKind kind, std::size_t index);

 private:
  struct Ref {
    RowKind kind;
    std::size_t index;
  };
  ResultTree& tree_;
  std::size_t folder_ = ResultTree::kTopItem;
  std::vector<Ref> refs_;
  mutable std::vector<std::optional<ResultRow>> cache_;
  RowSorter sorter_;
  QStringList headings_;
  QIcon folderIcon_, deletedFolderIcon_, fileIcon_, deletedFileIcon_;
};

}  // namespace dravolin::ui
