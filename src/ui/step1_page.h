#pragma once
// Step 1 of the three disk modes: the drive tree ("Select Disk" with the
// disks of the machine, "Floppy Drive" for each floppy drive, and in Desktop
// Recovery "Select Image" with the images chosen) and the Device Information
// list of the chosen one; Next commits the choice and opens Step 2.
#include <QWidget>
#include <vector>

#include "app/session.h"

class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace dravolin::ui {

class MainWindow;

// The page shared by DesktopRecovery, ImageRecovery and RawRecovery.
class DiskSelectionPage : public QWidget {
  Q_OBJECT
 public:
  DiskSelectionPage(MainWindow& window, RecoveryMode mode);
  RecoveryMode mode() const { return mode_; }
  // The CurrentStep of this page: 1, 6 or 9.
  int step() const;
  void entered();
  // The "Select Image" node (Desktop Recovery only): opens the image (a file,
  // or a folder holding an image set) and adds it to the tree as the chosen
  // row; false after the message.
  bool chooseImage(const QString& path);
  // Next: "Select Hard Disk" without a choice, else Step 2.
  void next();
  QTreeWidget* driveTree() const { return tree_; }
  QListWidget* deviceInformation() const { return information_; }
  // The "Select Disk" node (its children are the disks) and the "Select
  // Image" node (null in the modes without images).
  QTreeWidgetItem* disksNode() const { return disksNode_; }
  QTreeWidgetItem* imagesNode() const { return imagesNode_; }

 private:
  void enumerate();
  void selectionChanged();
  void askForImage();
  bool openImage(const QString& path);

  MainWindow& window_;
  RecoveryMode mode_;
  QTreeWidget* tree_;
  QListWidget* information_;
  QTreeWidgetItem* disksNode_ = nullptr;
  QTreeWidgetItem* imagesNode_ = nullptr;
  std::vector<DeviceInfo> devices_;
  bool enumerated_ = false;
};

class DesktopRecovery : public DiskSelectionPage {
  Q_OBJECT
 public:
  explicit DesktopRecovery(MainWindow& window) : DiskSelectionPage(window, kDesktopRecovery) {}
};

class ImageRecovery : public DiskSelectionPage {
  Q_OBJECT
 public:
  explicit ImageRecovery(MainWindow& window) : DiskSelectionPage(window, kImageRecovery) {}
};

class RawRecovery : public DiskSelectionPage {
  Q_OBJECT
 public:
  explicit RawRecovery(MainWindow& window) : DiskSelectionPage(window, kRawRecovery) {}
};

}  // namespace dravolin::ui
