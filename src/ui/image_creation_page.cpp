#include "ui/image_creation_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/saving_dialogs.h"
#include "ui/search_progress.h"

namespace dravolin::ui {

namespace {
constexpr const char* kDestinationImage = "Destination Image :";
constexpr const char* kDestinationDisk = "Destination Disk : ";
}  // namespace

ImageCreation::ImageCreation(MainWindow& window)
    : WizardPage(window, 7),
      core_(window.session()),
      type_(new QComboBox(this)),
      destinationLabel_(new QLabel(QStringLiteral("Destination Disk :"), this)),
      destination_(new QLineEdit(this)),
      browse_(new QPushButton(QStringLiteral("B&rowse..."), this)),
      multiFile_(new QCheckBox(QStringLiteral("&Multifile"), this)),
      resumeLabel_(new QLabel(QStringLiteral("Resume &file :"), this)),
      resumeFile_(new QLineEdit(this)),
      target_(new QComboBox(this)) {
  setObjectName(QStringLiteral("ImageCreation"));
  auto* layout = new QVBoxLayout(this);
  addPageHeading(layout, QStringLiteral("Step 2 (b) : Image Creation"),
                 QStringLiteral("Choose where the copy of the selected sectors goes: an image file (with Multifile, "
                                "pieces of 650 MB each), or another disk, whose data will all be lost. Then click "
                                "Next >."));

  auto* row = new QHBoxLayout;
  row->addWidget(pagePicture(QStringLiteral("step2b.svg")));
  auto* box = new QGroupBox(QStringLiteral("Image Creation Type"), this);
  auto* grid = new QGridLayout(box);
  auto* typeLabel = new QLabel(QStringLiteral("&Type :"), box);
  typeLabel->setBuddy(type_);
  type_->setObjectName(QStringLiteral("type"));
  type_->addItems({QStringLiteral("Image"), QStringLiteral("Disk")});
  grid->addWidget(typeLabel, 0, 0);
  grid->addWidget(type_, 0, 1, 1, 2);
  destinationLabel_->setObjectName(QStringLiteral("destinationLabel"));
  destination_->setObjectName(QStringLiteral("destination"));
  destination_->setMinimumWidth(320);
  browse_->setObjectName(QStringLiteral("browse"));
  multiFile_->setObjectName(QStringLiteral("multiFile"));
  target_->setObjectName(QStringLiteral("targetDisk"));
  grid->addWidget(destinationLabel_, 1, 0);
  grid->addWidget(destination_, 1, 1);
  grid->addWidget(browse_, 1, 2);
  grid->addWidget(multiFile_, 2, 1);
  grid->addWidget(target_, 3, 1, 1, 2);
  diskWidgets_.push_back(target_);
  const char* const labels[] = {"Model Number       :", "Total Heads           :", "Sector Per Cluster  :",
                                "Disk Size                :"};
  for (int i = 0; i < 4; ++i) {
    auto* label = new QLabel(QString::fromUtf8(labels[i]), box);
    auto* value = new QLabel(box);
    value->setObjectName(QStringLiteral("field%1").arg(i));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setWordWrap(true);
    grid->addWidget(label, 4 + i, 0);
    grid->addWidget(value, 4 + i, 1, 1, 2);
    diskWidgets_.push_back(label);
    diskWidgets_.push_back(value);
    fields_.push_back(value);
  }
  // A rescue of a failing disk: the mapfile (GNU ddrescue's format) records
  // what was read, so the copy can stop and continue, also with ddrescue.
  resumeLabel_->setBuddy(resumeFile_);
  resumeFile_->setObjectName(QStringLiteral("resumeFile"));
  resumeFile_->setToolTip(QStringLiteral("Optional: a mapfile (GNU ddrescue format). The copy reads the easy areas "
                                         "first, keeps what it read in this file, and continues from it when run "
                                         "again."));
  grid->addWidget(resumeLabel_, 8, 0);
  grid->addWidget(resumeFile_, 8, 1, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(9, 1);
  row->addWidget(box, 1);
  layout->addLayout(row, 1);

  const ButtonRow buttons = addButtonRow(layout);
  QPushButton* help = buttons.help;
  QPushButton* backButton = buttons.back;
  QPushButton* nextButton = buttons.next;
  connect(backButton, &QPushButton::clicked, this, &ImageCreation::back);
  connect(nextButton, &QPushButton::clicked, this, &ImageCreation::next);
  connect(browse_, &QPushButton::clicked, this, &ImageCreation::browse);
  connect(type_, &QComboBox::currentIndexChanged, this, &ImageCreation::typeChanged);
  connect(target_, &QComboBox::currentIndexChanged, this, &ImageCreation::targetChanged);
  setTabOrder(type_, destination_);
  setTabOrder(destination_, browse_);
  setTabOrder(browse_, multiFile_);
  setTabOrder(multiFile_, resumeFile_);
  setTabOrder(resumeFile_, target_);
  setTabOrder(target_, help);
  setTabOrder(help, backButton);
  setTabOrder(backButton, nextButton);

  // The disks of the machine that a copy may go to; the first that may be
  // written is chosen (the others say why not when chosen).
  const std::vector<DeviceInfo> devices = window_.options().devices ? window_.options().devices()
                                                                      : std::vector<DeviceInfo>{};
  targets_ = core_.targetDisks(devices);
  for (const TargetDisk& t : targets_) {
    // Named by what identifies the disk, not only by its changing number.
    QString text = QString::fromStdString(t.device.name + " - " + describeDiskIdentity(t.device));
    target_->addItem(text);
    if (!t.refusal.empty()) target_->setItemData(target_->count() - 1, QString::fromStdString(t.refusal), Qt::ToolTipRole);
  }
  const auto usable = std::find_if(targets_.begin(), targets_.end(), [](const TargetDisk& t) { return t.refusal.empty(); });
  if (!targets_.empty()) target_->setCurrentIndex(usable == targets_.end() ? 0 : static_cast<int>(usable - targets_.begin()));
  typeChanged();
  targetChanged();
}

void ImageCreation::entered() {
  WizardPage::entered();
  type_->setFocus();
}

QString ImageCreation::destinationLabel() const { return destinationLabel_->text(); }

QStringList ImageCreation::diskFields() const {
  QStringList out;
  for (QLabel* f : fields_) out << f->text();
  return out;
}

void ImageCreation::typeChanged() {
  const bool disk = type_->currentIndex() == 1;
  destinationLabel_->setText(QString::fromUtf8(disk ? kDestinationDisk : kDestinationImage));
  for (QWidget* w : diskWidgets_) w->setVisible(disk);
  for (QWidget* w : std::initializer_list<QWidget*>{destination_, browse_, multiFile_, resumeLabel_, resumeFile_})
    w->setVisible(!disk);
}

void ImageCreation::targetChanged() {
  const int index = target_->currentIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= targets_.size()) {
    for (QLabel* f : fields_) f->clear();
    return;
  }
  const DeviceInfo& d = targets_[static_cast<std::size_t>(index)].device;
  fields_[0]->setText(QString::fromStdString(d.model));
  fields_[1]->setText(QString::number(d.heads));
  fields_[2]->setText(QString::number(d.sectorsPerTrack));
  fields_[3]->setText(QStringLiteral("%1 MB").arg(d.sizeBytes / 1048576));
}

void ImageCreation::browse() {
  QString folder = QFileDialog::getExistingDirectory(this, window_.caption());
  if (folder.isEmpty()) return;
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  destination_->setText(folder + QStringLiteral("Image.img"));
}

void ImageCreation::back() { window_.pop(); }

void ImageCreation::next() {
  if (type_->currentIndex() == 1) {
    const int index = target_->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= targets_.size()) {
      window_.prompter().inform("There is no other disk to copy onto.");
      return;
    }
    auto chosen = core_.nextDisk(targets_[static_cast<std::size_t>(index)], window_.prompter());
    if (!chosen) {
      if (chosen.error().kind != ErrorKind::Cancelled) window_.prompter().inform(chosen.error().message);
      return;
    }
  } else {
    FreeSpaceQuery freeSpace = queryFreeSpace;
    if (auto query = window_.options().freeSpace) {
      freeSpace = [query](const std::filesystem::path& folder) -> Result<std::uint64_t> {
        if (auto bytes = query(folder)) return *bytes;
        return makeError(ErrorKind::Io, folder.string() + ": the free space is not known");
      };
    }
    const std::filesystem::path path = destination_->text().trimmed().toStdString();
    std::error_code ec;
    if (!path.empty() && !confirmDestinationOffSource(window_, std::filesystem::absolute(path, ec).parent_path()))
      return;
    const std::string resume = resumeFile_->text().trimmed().toStdString();
    if (!resume.empty() && multiFile_->isChecked()) {
      window_.prompter().inform("A resume file rescues into one image file. Clear Multifile.");
      return;
    }
    window_.session().state.imaging.mapfile = resume;
    auto chosen = core_.nextImage(path, multiFile_->isChecked(),
                                  /*overwrite=*/false, freeSpace);
    if (!chosen) {
      window_.prompter().inform(chosen.error().message);
      return;
    }
  }
  if (auto opened = core_.openTarget(); !opened) {
    window_.prompter().inform(opened.error().message);
    return;
  }
  result_ = std::make_shared<ImagingResult>();
  StepThreeJob job;
  job.worker = [this, result = result_](SearchController& controller) -> Result<SearchController::Worker> {
    if (!window_.session().reader()) return makeError(ErrorKind::InvalidArgument, "No disk is open.");
    return core_.worker(controller, *result);
  };
  window_.push(new SearchProgress(window_, std::move(job)));
}

}  // namespace dravolin::ui
