#include "ui/partition_pages.h"

#include <algorithm>

#include "app/lost_partition_operation.h"
#include "app/search_log_operations.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/wizard_messages.h"
#include "app/wizard_steps.h"
#include "common/format.h"
#include "ui/image_creation_page.h"
#include "ui/raw_extension_page.h"
#include "ui/search_progress.h"

namespace dravolin::ui {

namespace {

constexpr int kPartitionRole = Qt::UserRole + 1;  // index in the listing, -1 for the disk

QLabel* stepPicture(MainWindow& window, const char* file, QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setPixmap(QIcon(dataFile(window.session(), QString::fromUtf8(file))).pixmap(96, 96));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  return picture;
}

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromUtf8(name));
  return b;
}

}  // namespace

// ---- PieChart

PieChart::PieChart(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pieChart"));
  setMinimumSize(180, 170);
}

void PieChart::setSlices(const std::vector<int>& percents) {
  slices_ = percents;
  update();
}

void PieChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics metrics(font());
  painter.drawText(QRect(0, 0, width(), metrics.height()), Qt::AlignHCenter, QStringLiteral("Partitions"));
  const int legend = static_cast<int>(slices_.size()) * metrics.height();
  const int side = std::max(40, std::min(width() - 10, height() - metrics.height() * 2 - legend - 10));
  const QRect circle((width() - side) / 2, metrics.height() + 4, side, side);
  static const QColor colours[] = {QColor(0x3b, 0x7d, 0xd8), QColor(0xe0, 0x8a, 0x1e), QColor(0x4c, 0xa8, 0x5a),
                                   QColor(0xc9, 0x3c, 0x3c), QColor(0x8e, 0x5b, 0xc4), QColor(0x2a, 0xa1, 0xa8)};
  int angle = 90 * 16;
  int y = circle.bottom() + 6;
  for (std::size_t i = 0; i < slices_.size(); ++i) {
    const QColor colour = colours[i % std::size(colours)];
    const int span = -slices_[i] * 360 * 16 / 100;
    painter.setBrush(colour);
    painter.setPen(palette().color(QPalette::Window));
    painter.drawPie(circle, angle, span);
    angle += span;
    painter.fillRect(QRect(4, y + 2, metrics.height() - 4, metrics.height() - 4), colour);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QPoint(metrics.height() + 4, y + metrics.ascent()),
                     QStringLiteral("Partition%1 : %2%").arg(i + 1).arg(slices_[i]));
    y += metrics.height();
  }
}

// ---- PartitionInfo

PartitionInfo::PartitionInfo(MainWindow& window)
    : WizardPage(window, 2),
      tree_(new QTreeWidget(this)),
      header_(new QLabel(this)),
      pie_(new PieChart(this)),
      searchExhaustive_(new QCheckBox(QStringLiteral("Search E&xhaustive"), this)) {
  setObjectName(QStringLiteral("PartitionInfo"));
  Session& session = window_.session();
  const MessageCatalog& texts = session.messages();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("<b>Step 2 : Select Partition</b>"), this));
  auto* explanation = new QLabel(
      QStringLiteral("Select the partition in which your data existed and click Next > to search it (Step 3). "
                     "To change your disk go back <. Tick Search Exhaustive to look for lost partitions."),
      this);
  explanation->setObjectName(QStringLiteral("explanation"));
  explanation->setWordWrap(true);
  // Raw recovery and imaging go on to Step 2 (a) with the whole disk or a partition.
  if (session.state.RecoveryMode == kRawRecovery)
    explanation->setText(QStringLiteral(
        "Select    the     entire disk/ partition in which your data exist.  Click next > for step 2A. To change "
        "your disk go back     <.   If you   have   saved   log   earlier, load log by select load log option."));
  else if (session.state.RecoveryMode == kImageRecovery)
    explanation->setText(QStringLiteral(
        "Select partition, of which image to be taken.    Click  next for step 2A.     To   change   your   disk   "
        "go   back.    If    you  have  saved  log earlier,    load  log  by select load log option. "));
  layout->addWidget(explanation);

  auto* row = new QHBoxLayout;
  row->addWidget(stepPicture(window_, "step2.svg", this));
  tree_->setObjectName(QStringLiteral("partitionTree"));
  tree_->setHeaderHidden(true);
  row->addWidget(tree_, 1);
  auto* properties = new QVBoxLayout;
  header_->setObjectName(QStringLiteral("header"));
  header_->setWordWrap(true);
  properties->addWidget(header_);
  // Four rows of properties; GPT partitions add their name and type GUID.
  QGridLayout* grid = propertyGrid(6, labels_, values_);
  properties->addLayout(grid);
  properties->addWidget(pie_, 1);
  row->addLayout(properties, 1);
  layout->addLayout(row, 1);

  searchExhaustive_->setObjectName(QStringLiteral("searchExhaustive"));
  layout->addWidget(searchExhaustive_);
  const bool rawOrImaging =
      session.state.RecoveryMode == kRawRecovery || session.state.RecoveryMode == kImageRecovery;
  searchExhaustive_->setVisible(!rawOrImaging);
  auto* buttons = new QHBoxLayout;
  auto* help = button(QString::fromStdString(texts.text(61, "&Help")), "help", this);
  auto* loadLog = button(QStringLiteral("L&oad Log"), "loadLog", this);
  auto* backButton = button(QString::fromStdString(texts.text(1, "< &Back")), "back", this);
  auto* nextButton = button(QString::fromStdString(texts.text(0, "&Next >")), "next", this);
  nextButton->setDefault(true);
  buttons->addWidget(help);
  buttons->addWidget(loadLog);
  buttons->addStretch(1);
  buttons->addWidget(backButton);
  buttons->addWidget(nextButton);
  layout->addLayout(buttons);
  connect(help, &QPushButton::clicked, &window_, &MainWindow::openHelp);
  connect(backButton, &QPushButton::clicked, this, &PartitionInfo::back);
  connect(loadLog, &QPushButton::clicked, this, &PartitionInfo::loadLog);
  connect(nextButton, &QPushButton::clicked, this, &PartitionInfo::next);
  connect(tree_, &QTreeWidget::currentItemChanged, this, &PartitionInfo::showSelection);
  setTabOrder(tree_, searchExhaustive_);
  setTabOrder(searchExhaustive_, help);
  setTabOrder(help, backButton);
  setTabOrder(backButton, nextButton);

  // The disk node and its partitions, read through the sector reader.
  listSourcePartitions(session);
  auto* disk = new QTreeWidgetItem(tree_, {QString::fromStdString(session.device().name)});
  disk->setData(0, kPartitionRole, -1);
  disk->setIcon(0, QIcon(dataFile(session, QStringLiteral("disk.svg"))));
  const auto& partitions = session.listing().partitions;
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    auto* node = new QTreeWidgetItem(disk, {QString::fromStdString(partitions[i].label())});
    node->setData(0, kPartitionRole, static_cast<int>(i));
    node->setIcon(0, QIcon(dataFile(session, QStringLiteral("partition.svg"))));
  }
  disk->setExpanded(true);
  pie_->setSlices(partitionPieSlices(partitions, session.device().sizeBytes));
  tree_->setCurrentItem(disk);
}

void PartitionInfo::entered() {
  WizardPage::entered();
  tree_->setFocus();
}

void PartitionInfo::updateMenu(WizardMenu& menu) {
  WizardPage::updateMenu(menu);
  menu.exhaustiveRecovery->setEnabled(highlightedPartition() >= 0);
  menu.loadLog->setEnabled(true);
}

int PartitionInfo::highlightedPartition() const {
  QTreeWidgetItem* item = tree_->currentItem();
  return item ? item->data(0, kPartitionRole).toInt() : -1;
}

void PartitionInfo::loadLog() {
  const QString path = askSearchLogToLoad();
  if (path.isEmpty()) return;  // cancelled
  loadLogFrom(path);
}

void PartitionInfo::loadLogFrom(const QString& path) {
  Session& session = window_.session();
  auto loaded = loadSearchLog(session, path.toStdString());
  if (!loaded) {
    // A name that is not a log's is ignored without a message.
    if (!loaded.error().message.empty()) window_.prompter().inform(loaded.error().message);
    return;
  }
  if (!loaded->acceptedNote.empty()) window_.prompter().inform(loaded->acceptedNote);
  if (loaded->stopped) {
    std::string note = kLogOfStoppedSearch;
    note[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(note[0])));
    window_.prompter().inform(note + ".");
  }
  // The log of a search for lost partitions goes through Step 2 (a), which
  // shows its range, on to the reload and the list of Step 2 (c).
  if (session.state.LostPartitionSearch) {
    searchExhaustive_->setChecked(true);
    window_.push(new PartitionRange(window_));
  } else {
    window_.push(new SearchProgress(window_));
  }
}

bool PartitionInfo::selectPartition(int ordinal) {
  QTreeWidgetItem* disk = tree_->topLevelItem(0);
  for (int i = 0; disk && i < disk->childCount(); ++i) {
    const int index = disk->child(i)->data(0, kPartitionRole).toInt();
    if (window_.session().listing().partitions.at(static_cast<std::size_t>(index)).ordinal == ordinal) {
      tree_->setCurrentItem(disk->child(i));
      return true;
    }
  }
  return false;
}

QString PartitionInfo::header() const { return header_->text(); }

QStringList PartitionInfo::propertyTexts() const {
  QStringList out;
  for (std::size_t i = 0; i < labels_.size(); ++i)
    if (!labels_[i]->text().isEmpty()) out << labels_[i]->text() + QLatin1Char(' ') + values_[i]->text().remove(QChar(0x200B));
  return out;
}

void PartitionInfo::showSelection() {
  // The exhaustive search works on a partition of the listing: greyed out
  // while the disk node (or nothing) is highlighted.
  if (window_.currentPage() == this) window_.menu().exhaustiveRecovery->setEnabled(highlightedPartition() >= 0);
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item) return;
  Session& session = window_.session();
  const int index = item->data(0, kPartitionRole).toInt();
  header_->setText(QStringLiteral("You have selected %1 with following properties :").arg(item->text(0)));
  QStringList labels, values;
  if (index < 0) {
    const DeviceInfo& d = session.device();
    labels = {QStringLiteral("Model Number :"), QStringLiteral("Media Type :"), QStringLiteral("Disk Size :")};
    // A long image path may break after any '/'.
    QString model = QString::fromStdString(d.model);
    model.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    values = {model, QString::fromStdString(d.mediaType), QString::number(d.sizeBytes)};
    // A disk with larger logical sectors says so (its table counts in them).
    if (const std::uint32_t sectorSize = session.listing().logicalSectorSize; sectorSize != kSectorSize) {
      labels << QStringLiteral("Sector Size :");
      values << QStringLiteral("%1 bytes").arg(sectorSize);
    }
  } else {
    const PartitionEntry& p = session.listing().partitions.at(static_cast<std::size_t>(index));
    labels = {QStringLiteral("Partition Type:"), QStringLiteral("Partition Size:"), QStringLiteral("Start Sector:"),
              QStringLiteral("End Sector:")};
    values = {QString::fromStdString(p.typeText()),
              QString::fromStdString(formatPartitionSize((p.end - p.start) * kSectorSize)),
              QString::number(p.start), QString::number(p.end)};
    if (p.gpt) {
      labels << QStringLiteral("Partition Name:") << QStringLiteral("Type GUID:");
      values << QString::fromStdString(p.gptName)
             << QString::fromStdString(p.typeGuid + " (" + p.typeName + ")");
    }
  }
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    labels_[i]->setText(i < static_cast<std::size_t>(labels.size()) ? labels[static_cast<int>(i)] : QString());
    values_[i]->setText(i < static_cast<std::size_t>(values.size()) ? values[static_cast<int>(i)] : QString());
  }
}

void PartitionInfo::back() { window_.pop(); }

void PartitionInfo::next() {
  Session& session = window_.session();
  QTreeWidgetItem* item = tree_->currentItem();
  const int index = item ? item->data(0, kPartitionRole).toInt() : -1;
  const bool rawOrImaging =
      session.state.RecoveryMode == kRawRecovery || session.state.RecoveryMode == kImageRecovery;
  const bool exhaustive = !rawOrImaging && searchExhaustive_->isChecked();
  if (index >= 0) {
    // A volume check that rejects is not reported: Step 3 runs with the
    // parameters as they were. An entry that cannot be committed at all
    // (its end not after its start) is said, and the page stays.
    auto committed =
        commitPartition(session, session.listing().partitions.at(static_cast<std::size_t>(index)), exhaustive);
    if (!committed) {
      window_.prompter().inform(committed.error().message);
      return;
    }
  } else {
    auto committed = commitWholeDisk(session, exhaustive);
    if (!committed) {
      window_.prompter().inform(committed.error().message);
      return;
    }
  }
  if (rawOrImaging || session.state.LostPartitionSearch) window_.push(new PartitionRange(window_));
  else window_.push(new SearchProgress(window_));
}

void PartitionInfo::exhaustiveRecovery() {
  // The highlighted partition is committed as Next commits it, so that the
  // search covers it and not the selection an earlier search left.
  const int index = highlightedPartition();
  if (index < 0) return;
  Session& session = window_.session();
  if (!window_.prompter().askYesNo(msg::kExhaustiveQuestion)) return;
  auto committed = commitPartition(session, session.listing().partitions.at(static_cast<std::size_t>(index)));
  if (!committed) {
    window_.prompter().inform(committed.error().message);
    return;
  }
  session.state.ExhaustiveSearch = true;
  window_.push(new SearchProgress(window_));
}

// ---- PartitionRange

PartitionRange::PartitionRange(MainWindow& window)
    : WizardPage(window, 5),
      start_(new QLineEdit(this)),
      end_(new QLineEdit(this)),
      fileSystem_(new QComboBox(this)),
      tree_(new QTreeWidget(this)) {
  setObjectName(QStringLiteral("PartitionRange"));
  Session& session = window_.session();
  const MessageCatalog& texts = session.messages();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("<b>Step 2 (a) : Partition Range</b>"), this));
  auto* explanation = new QLabel(
      QStringLiteral("Enter the range of sectors to search for lost partitions and the file system they held, "
                     "then click Next >."),
      this);
  explanation->setObjectName(QStringLiteral("explanation"));
  explanation->setWordWrap(true);
  if (session.state.RecoveryMode == kRawRecovery)
    explanation->setText(QStringLiteral(
        "Select the relevant file system  from which   your   data    got     lost    or choose unknown if  "
        "partition  is  not known. Click  next > to proceed  to Step 2B."));
  else if (session.state.RecoveryMode == kImageRecovery)
    explanation->setText(QStringLiteral(
        "Enter the range of sectors to copy into the image and their file system (or UNKNOWN), then click Next > "
        "to choose where the image goes (Step 2B)."));
  layout->addWidget(explanation);
  auto* row = new QHBoxLayout;
  row->addWidget(stepPicture(window_, "step2.svg", this));
  tree_->setHeaderHidden(true);
  tree_->setObjectName(QStringLiteral("rangeTree"));
  const std::string node =
      session.state.selectedNodeText.empty() ? session.device().name : session.state.selectedNodeText;
  new QTreeWidgetItem(tree_, {QString::fromStdString(node)});
  row->addWidget(tree_, 1);
  auto* box = new QGroupBox(QStringLiteral("Enter Range to search for more Partitions"), this);
  auto* form = new QFormLayout(box);
  start_->setObjectName(QStringLiteral("start"));
  end_->setObjectName(QStringLiteral("end"));
  fileSystem_->setObjectName(QStringLiteral("fileSystem"));
  for (FsType type : kRangeFileSystems) fileSystem_->addItem(QString::fromStdString(toString(type)));
  auto* startLabel = new QLabel(QStringLiteral("&Starting Range :"), box);
  auto* endLabel = new QLabel(QStringLiteral("&Ending Range :"), box);
  auto* typeLabel = new QLabel(QStringLiteral("&File System     :"), box);
  startLabel->setBuddy(start_);
  endLabel->setBuddy(end_);
  typeLabel->setBuddy(fileSystem_);
  form->addRow(startLabel, start_);
  form->addRow(endLabel, end_);
  form->addRow(typeLabel, fileSystem_);
  row->addWidget(box, 1);
  layout->addLayout(row, 1);
  auto* buttons = new QHBoxLayout;
  auto* backButton = button(QString::fromStdString(texts.text(1, "< &Back")), "back", this);
  auto* nextButton = button(QString::fromStdString(texts.text(0, "&Next >")), "next", this);
  nextButton->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(backButton);
  buttons->addWidget(nextButton);
  layout->addLayout(buttons);
  connect(backButton, &QPushButton::clicked, &window_, &MainWindow::pop);
  connect(nextButton, &QPushButton::clicked, this, &PartitionRange::next);

  // Prefilled with the committed selection, or the range of a loaded log.
  const auto& s = session.state;
  followLoadedLog_ = s.LoadFromLog && s.LostPartitionSearch;
  std::uint64_t start = s.PartitionStart, end = static_cast<std::uint64_t>(s.PartitionEnd);
  if (!followLoadedLog_ && s.selectedPartitionIndex >= 0 &&
      static_cast<std::size_t>(s.selectedPartitionIndex) < session.listing().partitions.size() &&
      s.FileSystemType != FsType::Unknown) {
    const auto& p = session.listing().partitions[static_cast<std::size_t>(s.selectedPartitionIndex)];
    start = p.start;
    end = p.end;
  }
  start_->setText(QString::number(start));
  end_->setText(QString::number(end));
  // The committed type when the list holds it (FAT12 does not), else UNKNOWN.
  int type = 3;
  for (int i = 0; i < static_cast<int>(std::size(kRangeFileSystems)); ++i)
    if (kRangeFileSystems[i] == s.FileSystemType) type = i;
  fileSystem_->setCurrentIndex(type);
}

void PartitionRange::entered() {
  WizardPage::entered();
  if (!followLoadedLog_) return;
  followLoadedLog_ = false;
  QTimer::singleShot(0, this, [this] {
    Session& session = window_.session();
    if (!session.state.LoadFromLog) return;
    writePartitionRangeBlock(session, start_->text().toStdString(), end_->text().toStdString());
    window_.push(new SearchProgress(window_));
  });
}

void PartitionRange::next() {
  Session& session = window_.session();
  const std::string startText = start_->text().trimmed().toStdString();
  const std::string endText = end_->text().trimmed().toStdString();
  const FsType type = kRangeFileSystems[std::clamp(fileSystem_->currentIndex(), 0, static_cast<int>(std::size(kRangeFileSystems)) - 1)];
  // With "Search Exhaustive" ticked in Step 2 the range is searched for lost partitions.
  const bool lost = session.state.LostPartitionSearch && session.state.RecoveryMode == kDesktopRecovery;
  auto committed = lost ? commitLostSearchRange(session, startText, endText, type)
                        : commitManualRange(session, startText, endText, type);
  if (!committed) {
    window_.prompter().inform(committed.error().message);
    return;
  }
  if (QTreeWidgetItem* node = tree_->topLevelItem(0)) node->setText(0, QString::fromStdString(session.state.selectedNodeText));
  if (session.state.RecoveryMode == kRawRecovery) window_.push(new RawDefaultExtension(window_));
  else if (session.state.RecoveryMode == kImageRecovery) window_.push(new ImageCreation(window_));
  else window_.push(new SearchProgress(window_));
}

}  // namespace dravolin::ui
