#pragma once
// Step 2 (PartitionInfo: the disk and its partitions, their properties and
// the pie chart of the disk) and Step 2 (a) (PartitionRange: a sector range
// and file system typed by hand).
#include <QWidget>
#include <vector>

#include "ui/wizard_window.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;

namespace dravolin::ui {

// The partitions of the disk as slices, titled "Partitions".
class PieChart : public QWidget {
  Q_OBJECT
 public:
  explicit PieChart(QWidget* parent = nullptr);
  void setSlices(const std::vector<int>& percents);
  const std::vector<int>& slices() const { return slices_; }
  QSize sizeHint() const override { return {220, 200}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<int> slices_;
};

class PartitionInfo : public WizardPage {
  Q_OBJECT
 public:
  explicit PartitionInfo(MainWindow& window);
  void entered() override;
  void updateMenu(WizardMenu& menu) override;
  void exhaustiveRecovery() override;
  // Load Log: asks for a ".ST4" log, then loadLogFrom.
  void loadLog() override;
  // Reads the log at path and, when it belongs to this disk, runs the
  // search from it (no sector read); a refusal is shown with its message.
  void loadLogFrom(const QString& path);
  void next();
  void back();
  QTreeWidget* tree() const { return tree_; }
  QCheckBox* searchExhaustive() const { return searchExhaustive_; }
  // Selects the partition with this ordinal (1, 2, ...); false when absent.
  bool selectPartition(int ordinal);
  QString header() const;
  QStringList propertyTexts() const;

 private:
  void showSelection();
  // The listing index of the highlighted partition; -1 for the disk node or nothing.
  int highlightedPartition() const;

  QTreeWidget* tree_;
  QLabel* header_;
  std::vector<QLabel*> labels_;
  std::vector<QLabel*> values_;
  PieChart* pie_;
  QCheckBox* searchExhaustive_;
};

class PartitionRange : public WizardPage {
  Q_OBJECT
 public:
  explicit PartitionRange(MainWindow& window);
  // After a search log of a search for lost partitions was loaded, the page
  // does not wait: it shows the logged range and goes on to Step 3 (the
  // reload) and Step 2 (c) once, when it first shows.
  void entered() override;
  void next();
  QLineEdit* startEdit() const { return start_; }
  QLineEdit* endEdit() const { return end_; }
  QComboBox* fileSystem() const { return fileSystem_; }

 private:
  QLineEdit* start_;
  QLineEdit* end_;
  QComboBox* fileSystem_;
  QTreeWidget* tree_;
  bool followLoadedLog_ = false;
};

}  // namespace dravolin::ui
