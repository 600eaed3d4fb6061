#pragma once
// The hit list of the name search window as a Qt model. It keeps only which
// node each hit is (a NameSearchMatch, 16 bytes) and makes a row's texts
// from the result tree when the view shows it; every row shares one folder
// and one file icon. Names and paths are shown with their control
// characters escaped. Check boxes read the nodes' marks; a click is passed
// on for the result browser to apply its check rules.
#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>
#include <optional>
#include <vector>

#include "results/name_search.h"

namespace dravolin::ui {

class NameSearchModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // The columns, in order.
  enum Column { Name, Type, Path, Size, Created, Modified, Accessed, Id, ColumnCount };

  explicit NameSearchModel(const ResultTree& tree, QObject* parent = nullptr);

  // Lists these hits (in their order), replacing the ones shown.
  void setMatches(std::vector<NameSearchMatch> matches);
  // Lists nothing and gives the hits' memory back.
  void clear();
  const NameSearchMatch& match(int row) const { return matches_.at(static_cast<std::size_t>(row)); }
  // The check marks changed behind the model's back.
  void refreshChecks();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  void folderCheckToggled(std::size_t directoryIndex, bool checked);
  void fileCheckToggled(std::size_t fileIndex, bool checked);

 private:
  // The texts of a row; the last row asked for is kept, since a view asks
  // for every column and role of a row in turn.
  const NameSearchHit& hitOf(int row) const;
  bool checked(const NameSearchMatch& match) const;

  const ResultTree& tree_;
  NameSearch search_;
  std::vector<NameSearchMatch> matches_;
  mutable std::optional<NameSearchHit> lastHit_;
  mutable int lastRow_ = -1;
  QStringList headings_;
  QIcon folderIcon_, fileIcon_;
};

}  // namespace dravolin::ui
