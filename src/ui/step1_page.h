#pragma once
// Step 1 of Desktop Recovery: the drive tree ("Select Disk" with the disks of
// the machine, "Select Image" with the images chosen) and the Device
// Information list of the chosen one; Next commits the choice and opens Step 2.
#include <QWidget>
#include <vector>

#include "app/session.h"

class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace dravolin::ui {

class MainWindow;

class DesktopRecovery : public QWidget {
  Q_OBJECT
 public:
  explicit DesktopRecovery(MainWindow& window);
  void entered();
  // The "Select Image" node: opens the image (a file or a folder of pieces)
  // and adds it to the tree as the chosen row; false after the message.
  bool chooseImage(const QString& path);
  // Next: "Select Hard Disk" without a choice, else Step 2.
  void next();
  QTreeWidget* driveTree() const { return tree_; }
  QListWidget* deviceInformation() const { return information_; }

 private:
  void enumerate();
  void selectionChanged();
  void askForImage();
  bool openImage(const QString& path);

  MainWindow& window_;
  QTreeWidget* tree_;
  QListWidget* information_;
  QTreeWidgetItem* disksNode_ = nullptr;
  QTreeWidgetItem* imagesNode_ = nullptr;
  std::vector<DeviceInfo> devices_;
  bool enumerated_ = false;
};

}  // namespace dravolin::ui
