#include "ui/step1_page.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/source_resolver.h"
#include "app/wizard_messages.h"
#include "app/wizard_steps.h"
#include "ui/partition_pages.h"
#include "ui/wizard_window.h"

namespace dravolin::ui {

namespace {
constexpr int kDeviceRole = Qt::UserRole + 1;     // index in devices_, or -1
constexpr int kImagePathRole = Qt::UserRole + 2;  // the image chosen

struct ModeTexts {
  const char* object;
  const char* heading;
  const char* explanation;
};

ModeTexts modeTexts(RecoveryMode mode) {
  switch (mode) {
    case kImageRecovery:
      return {"ImageRecovery", "Step 1 : Image Recovery",
              "Select the disk of which an image is to be made, then click Next. The image can be one file, a "
              "series of 650 MB pieces, or a copy onto another disk."};
    case kRawRecovery:
      return {"RawRecovery", "Step 1 : Raw Recovery",
              "Select the disk on which your files were, then click Next. Raw recovery finds files of chosen types "
              "by their contents alone, without a file system."};
    default:
      return {"DesktopRecovery", "Step 1 : Desktop Recovery",
              "Select the disk, or the image of a disk, that held your lost data, then click Next. "
              "To recover from an image file or a folder of image pieces choose Select Image."};
  }
}
}  // namespace

DiskSelectionPage::DiskSelectionPage(MainWindow& window, RecoveryMode mode)
    : window_(window), mode_(mode), tree_(new QTreeWidget(this)), information_(new QListWidget(this)) {
  const ModeTexts texts = modeTexts(mode_);
  setObjectName(QString::fromUtf8(texts.object));
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(QStringLiteral("<b>%1</b>").arg(QString::fromUtf8(texts.heading)), this);
  layout->addWidget(heading);
  auto* explanation = new QLabel(QString::fromUtf8(texts.explanation), this);
  explanation->setWordWrap(true);
  layout->addWidget(explanation);

  auto* row = new QHBoxLayout;
  auto* picture = new QLabel(this);
  picture->setPixmap(QIcon(dataFile(window_.session(), QStringLiteral("step1.svg"))).pixmap(96, 96));
  picture->setAlignment(Qt::AlignTop);
  row->addWidget(picture);
  tree_->setObjectName(QStringLiteral("driveTree"));
  tree_->setHeaderHidden(true);
  const MessageCatalog& catalog = window_.session().messages();
  disksNode_ = new QTreeWidgetItem(tree_, {QString::fromStdString(catalog.text(58, "Select Disk"))});
  disksNode_->setData(0, kDeviceRole, -1);
  disksNode_->setIcon(0, QIcon(dataFile(window_.session(), QStringLiteral("disk.svg"))));
  if (mode_ == kDesktopRecovery) {
    imagesNode_ = new QTreeWidgetItem(tree_, {QString::fromStdString(catalog.text(59, "Select Image"))});
    imagesNode_->setData(0, kDeviceRole, -1);
    imagesNode_->setIcon(0, QIcon(dataFile(window_.session(), QStringLiteral("image.svg"))));
    imagesNode_->setToolTip(0, QStringLiteral("Double-click to open an image file or a folder of image pieces"));
  }
  row->addWidget(tree_, 1);
  auto* infoBox = new QGroupBox(QStringLiteral("Device Information"), this);
  auto* infoLayout = new QVBoxLayout(infoBox);
  information_->setObjectName(QStringLiteral("deviceInformation"));
  infoLayout->addWidget(information_);
  row->addWidget(infoBox, 1);
  layout->addLayout(row, 1);

  auto* buttons = new QHBoxLayout;
  auto* help = new QPushButton(QString::fromStdString(catalog.text(61, "&Help")), this);
  auto* nextButton = new QPushButton(QString::fromStdString(catalog.text(0, "&Next >")), this);
  nextButton->setObjectName(QStringLiteral("next"));
  nextButton->setDefault(true);
  buttons->addWidget(help);
  buttons->addStretch(1);
  buttons->addWidget(nextButton);
  layout->addLayout(buttons);
  connect(help, &QPushButton::clicked, &window_, &MainWindow::openHelp);
  connect(nextButton, &QPushButton::clicked, this, &DiskSelectionPage::next);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &DiskSelectionPage::selectionChanged);
  connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    if (item && item == imagesNode_) askForImage();
  });
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(tree_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (imagesNode_ && tree_->itemAt(at) == imagesNode_) askForImage();
  });
  setTabOrder(tree_, information_);
  setTabOrder(information_, help);
  setTabOrder(help, nextButton);
}

int DiskSelectionPage::step() const { return mode_ == kDesktopRecovery ? 1 : static_cast<int>(mode_); }

void DiskSelectionPage::entered() {
  window_.session().state.CurrentStep = step();
  if (!enumerated_) enumerate();
}

void DiskSelectionPage::enumerate() {
  enumerated_ = true;
  devices_ = window_.options().devices ? window_.options().devices() : std::vector<DeviceInfo>{};
  const QString floppyText = QString::fromStdString(window_.session().messages().text(60, "Floppy Drive"));
  const auto floppies = std::count_if(devices_.begin(), devices_.end(), [](const DeviceInfo& d) { return d.floppy; });
  int floppyRow = 0;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const DeviceInfo& device = devices_[i];
    QTreeWidgetItem* node = nullptr;
    if (device.floppy) {
      // A floppy drive is a node of its own beside "Select Disk"; its text
      // begins with "Floppy", which selects the floppy as the source.
      QString text = floppyText;
      if (floppies > 1) text += QStringLiteral(" (%1)").arg(QString::fromStdString(device.devicePath));
      node = new QTreeWidgetItem({text});
      tree_->insertTopLevelItem(1 + floppyRow++, node);
      node->setIcon(0, QIcon(dataFile(window_.session(), QStringLiteral("floppy.svg"))));
    } else {
      node = new QTreeWidgetItem(disksNode_, {QString::fromStdString(device.name)});
      // The number changes as loop devices come and go: the path, model,
      // size, serial and by-id link say which disk it is.
      node->setToolTip(0, QString::fromStdString(describeDiskIdentity(device)));
      node->setIcon(0, QIcon(dataFile(window_.session(), QStringLiteral("disk.svg"))));
    }
    node->setData(0, kDeviceRole, static_cast<int>(i));
  }
  tree_->expandAll();
  tree_->setCurrentItem(disksNode_);
  if (mode_ == kDesktopRecovery && !window_.options().initialImage.empty())
    chooseImage(QString::fromStdString(window_.options().initialImage));
}

void DiskSelectionPage::askForImage() {
  // An image is one file, or a folder holding an image set (Image0.img, or
  // image0.img, image1.img, ...): both can be chosen.
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("selectImageMenu"));
  QAction* file = menu.addAction(QStringLiteral("Image &File..."));
  QAction* folder = menu.addAction(QStringLiteral("Image F&older (image set)..."));
  const QRect rect = tree_->visualItemRect(imagesNode_);
  QAction* chosen = menu.exec(tree_->viewport()->mapToGlobal(rect.bottomLeft()));
  QString path;
  if (chosen == file) {
    path = QFileDialog::getOpenFileName(this, QString::fromUtf8(msg::kSelectImageFolderTitle), QString(),
                                        QStringLiteral("Disk images (*.img *.dd *.raw *.bin *.iso *.000 *.001 *.aa *.E01 *.Ex01 "
                                                       "*.qcow2 *.vmdk *.vhd *.vhdx);;All files (*)"));
  } else if (chosen == folder) {
    path = QFileDialog::getExistingDirectory(this, QString::fromUtf8(msg::kSelectImageFolderTitle));
  }
  if (!path.isEmpty()) chooseImage(path);
}

bool DiskSelectionPage::openImage(const QString& path) {
  auto opened = openSource(path.toStdString(), devices_, window_.session().deviceAccess);
  if (!opened) {
    information_->clear();
    window_.session().state.selectedDeviceText.clear();
    // An image that is there but could not be read (no permission, say)
    // is named with the reason and how to get access.
    // So is a split image with a missing or cut piece and a container that
    // cannot be read (the message names the piece or the container).
    const ErrorKind kind = opened.error().kind;
    window_.prompter().inform(kind == ErrorKind::Io || kind == ErrorKind::Corrupt ? opened.error().message
                                                                                  : std::string(msg::kImagePathNotFound));
    return false;
  }
  if (window_.options().wrapSource) opened->source = window_.options().wrapSource(std::move(opened->source));
  window_.session().setSource(std::move(opened->source), opened->device);
  return true;
}

bool DiskSelectionPage::chooseImage(const QString& path) {
  if (!imagesNode_) return false;
  if (!openImage(path)) return false;
  const DeviceInfo& device = window_.session().device();
  auto* node = new QTreeWidgetItem(imagesNode_, {QString::fromStdString(device.devicePath)});
  node->setData(0, kDeviceRole, -1);
  node->setData(0, kImagePathRole, path);
  node->setIcon(0, QIcon(dataFile(window_.session(), QStringLiteral("image.svg"))));
  imagesNode_->setExpanded(true);
  tree_->setCurrentItem(node);
  return true;
}

void DiskSelectionPage::selectionChanged() {
  information_->clear();
  QTreeWidgetItem* item = tree_->currentItem();
  Session& session = window_.session();
  if (!item || item == disksNode_ || item == imagesNode_) {
    session.state.selectedDeviceText = "Select Disk";
    return;
  }
  const int device = item->data(0, kDeviceRole).toInt();
  if (device >= 0) {
    // A disk of the machine is opened only when Next commits it.
    session.setSource(nullptr, devices_[static_cast<std::size_t>(device)]);
  } else if (session.device().devicePath != item->text(0).toStdString() || !session.source()) {
    if (!openImage(item->data(0, kImagePathRole).toString())) return;
  }
  session.state.selectedDeviceText = session.device().name;
  for (const std::string& line : deviceInformationRows(session.device()))
    information_->addItem(QString::fromStdString(line));
  for (const std::string& line : diskIdentityRows(session.device())) information_->addItem(QString::fromStdString(line));
}

void DiskSelectionPage::next() {
  Session& session = window_.session();
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item || item == disksNode_ || item == imagesNode_ || session.state.selectedDeviceText.empty() ||
      session.state.selectedDeviceText == "Select Disk") {
    window_.prompter().inform(msg::kSelectHardDisk);
    return;
  }
  // The page on show decides which device its selection names: the tabs
  // share one session.
  const int index = item->data(0, kDeviceRole).toInt();
  if (index >= 0 && session.device().devicePath != devices_[static_cast<std::size_t>(index)].devicePath)
    session.setSource(nullptr, devices_[static_cast<std::size_t>(index)]);
  else if (index < 0 && (session.device().devicePath != item->text(0).toStdString() || !session.source()) &&
           !openImage(item->data(0, kImagePathRole).toString()))
    return;
  if (!session.source()) {
    // A disk or a floppy drive by its device.
    auto opened = openSource(session.device().devicePath, devices_, session.deviceAccess);
    if (!opened) {
      window_.prompter().inform(opened.error().message);
      return;
    }
    if (window_.options().wrapSource) opened->source = window_.options().wrapSource(std::move(opened->source));
    session.setSource(std::move(opened->source), opened->device);
  }
  session.reader()->setPrompter(&window_.prompter());
  if (session.device().image) {
    cacheDevice(session.config(), session.device());
    if (auto saved = session.config().save(); !saved) window_.prompter().inform(saved.error().message);
  }
  commitStep1(session, mode_);
  window_.push(new PartitionInfo(window_));
}

}  // namespace dravolin::ui
