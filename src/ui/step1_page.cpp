#include "ui/step1_page.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
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
constexpr int kDeviceRole = Qt::UserRole + 1;    // index in devices_, or -1
constexpr int kImagePathRole = Qt::UserRole + 2;  // the image chosen
}  // namespace

DesktopRecovery::DesktopRecovery(MainWindow& window)
    : window_(window), tree_(new QTreeWidget(this)), information_(new QListWidget(this)) {
  setObjectName(QStringLiteral("DesktopRecovery"));
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(QStringLiteral("<b>Step 1 : Desktop Recovery</b>"), this);
  layout->addWidget(heading);
  auto* explanation = new QLabel(
      QStringLiteral("Select the disk, or the image of a disk, that held your lost data, then click Next. "
                     "To recover from an image file choose Select Image."),
      this);
  explanation->setWordWrap(true);
  layout->addWidget(explanation);

  auto* row = new QHBoxLayout;
  auto* picture = new QLabel(this);
  picture->setPixmap(QIcon(dataFile(window_.session(), QStringLiteral("step1.svg"))).pixmap(96, 96));
  picture->setAlignment(Qt::AlignTop);
  row->addWidget(picture);
  tree_->setObjectName(QStringLiteral("driveTree"));
  tree_->setHeaderHidden(true);
  const MessageCatalog& texts = window_.session().messages();
  disksNode_ = new QTreeWidgetItem(tree_, {QString::fromStdString(texts.text(58, "Select Disk"))});
  disksNode_->setData(0, kDeviceRole, -1);
  disksNode_->setIcon(0, QIcon(dataFile(window_.session(), QStringLiteral("disk.svg"))));
  imagesNode_ = new QTreeWidgetItem(tree_, {QString::fromStdString(texts.text(59, "Select Image"))});
  imagesNode_->setData(0, kDeviceRole, -1);
  imagesNode_->setIcon(0, QIcon(dataFile(window_.session(), QStringLiteral("image.svg"))));
  row->addWidget(tree_, 1);
  auto* infoBox = new QGroupBox(QStringLiteral("Device Information"), this);
  auto* infoLayout = new QVBoxLayout(infoBox);
  information_->setObjectName(QStringLiteral("deviceInformation"));
  infoLayout->addWidget(information_);
  row->addWidget(infoBox, 1);
  layout->addLayout(row, 1);

  auto* buttons = new QHBoxLayout;
  auto* help = new QPushButton(QString::fromStdString(texts.text(61, "&Help")), this);
  auto* nextButton = new QPushButton(QString::fromStdString(texts.text(0, "&Next >")), this);
  nextButton->setObjectName(QStringLiteral("next"));
  nextButton->setDefault(true);
  buttons->addWidget(help);
  buttons->addStretch(1);
  buttons->addWidget(nextButton);
  layout->addLayout(buttons);
  connect(help, &QPushButton::clicked, &window_, &MainWindow::openHelp);
  connect(nextButton, &QPushButton::clicked, this, &DesktopRecovery::next);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &DesktopRecovery::selectionChanged);
  connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    if (item == imagesNode_) askForImage();
  });
  setTabOrder(tree_, information_);
  setTabOrder(information_, help);
  setTabOrder(help, nextButton);
}

void DesktopRecovery::entered() {
  window_.session().state.CurrentStep = 1;
  if (!enumerated_) enumerate();
}

void DesktopRecovery::enumerate() {
  enumerated_ = true;
  devices_ = window_.options().devices ? window_.options().devices() : std::vector<DeviceInfo>{};
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    auto* node = new QTreeWidgetItem(disksNode_, {QString::fromStdString(devices_[i].name)});
    node->setData(0, kDeviceRole, static_cast<int>(i));
    node->setIcon(0, QIcon(dataFile(window_.session(), QStringLiteral("disk.svg"))));
  }
  tree_->expandAll();
  tree_->setCurrentItem(disksNode_);
  if (!window_.options().initialImage.empty()) chooseImage(QString::fromStdString(window_.options().initialImage));
}

void DesktopRecovery::askForImage() {
  const QString file = QFileDialog::getOpenFileName(this, QString::fromUtf8(msg::kSelectImageFolderTitle), QString(),
                                                    QStringLiteral("Disk images (*.img *.dd *.raw *.bin);;All files (*)"));
  if (!file.isEmpty()) chooseImage(file);
}

bool DesktopRecovery::openImage(const QString& path) {
  auto opened = openSource(path.toStdString(), devices_, window_.session().deviceAccess);
  if (!opened) {
    information_->clear();
    window_.session().state.selectedDeviceText.clear();
    // An image that is there but could not be read (no permission, say)
    // is named with the reason and how to get access.
    window_.prompter().inform(opened.error().kind == ErrorKind::Io ? opened.error().message
                                                                    : std::string(msg::kImagePathNotFound));
    return false;
  }
  if (window_.options().wrapSource) opened->source = window_.options().wrapSource(std::move(opened->source));
  window_.session().setSource(std::move(opened->source), opened->device);
  return true;
}

bool DesktopRecovery::chooseImage(const QString& path) {
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

void DesktopRecovery::selectionChanged() {
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
}

void DesktopRecovery::next() {
  Session& session = window_.session();
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item || item == disksNode_ || item == imagesNode_ || session.state.selectedDeviceText.empty() ||
      session.state.selectedDeviceText == "Select Disk") {
    window_.prompter().inform(msg::kSelectHardDisk);
    return;
  }
  if (!session.source()) {
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
  commitStep1(session, kDesktopRecovery);
  window_.push(new PartitionInfo(window_));
}

}  // namespace dravolin::ui
