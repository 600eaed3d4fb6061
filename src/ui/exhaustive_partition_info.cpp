#include "ui/exhaustive_partition_info.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/lost_partition_operation.h"
#include "app/wizard_messages.h"
#include "common/format.h"
#include "ui/search_progress.h"

namespace dravolin::ui {

namespace {
constexpr int kOrdinalRole = Qt::UserRole + 1;  // 1-based position in the found list; 0 for the root node
constexpr int kPropertyRows = 5;
}  // namespace

ExhaustivePartitionInfo::ExhaustivePartitionInfo(MainWindow& window, bool afterLoadedLog)
    : WizardPage(window, 8), tree_(new QTreeWidget(this)), header_(new QLabel(this)) {
  setObjectName(QStringLiteral("ExhaustivePartitionInfo"));
  Session& session = window_.session();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("<b>Step 2 (c) : Select File System</b>"), this));
  auto* explanation = new QLabel(
      QStringLiteral("These file systems were found in the range you searched. Select the one in which your data "
                     "existed and click Next > to list its folders and files (Step 3). To search another range go "
                     "back <."),
      this);
  explanation->setObjectName(QStringLiteral("explanation"));
  explanation->setWordWrap(true);
  layout->addWidget(explanation);

  auto* row = new QHBoxLayout;
  auto* picture = new QLabel(this);
  picture->setPixmap(QIcon(dataFile(session, QStringLiteral("step2.svg"))).pixmap(96, 96));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  row->addWidget(picture);
  tree_->setObjectName(QStringLiteral("fileSystemTree"));
  tree_->setHeaderHidden(true);
  row->addWidget(tree_, 1);
  auto* properties = new QVBoxLayout;
  header_->setObjectName(QStringLiteral("header"));
  header_->setWordWrap(true);
  properties->addWidget(header_);
  QGridLayout* grid = propertyGrid(kPropertyRows, labels_, values_);
  properties->addLayout(grid);
  properties->addStretch(1);
  row->addLayout(properties, 1);
  layout->addLayout(row, 1);

  const ButtonRow buttons = addButtonRow(layout);
  next_ = buttons.next;
  connect(buttons.back, &QPushButton::clicked, &window_, &MainWindow::pop);
  connect(next_, &QPushButton::clicked, this, &ExhaustivePartitionInfo::next);
  connect(tree_, &QTreeWidget::currentItemChanged, this, &ExhaustivePartitionInfo::showSelection);

  auto* root = new QTreeWidgetItem(tree_, {QStringLiteral("File System")});
  root->setData(0, kOrdinalRole, 0);
  root->setIcon(0, QIcon(dataFile(session, QStringLiteral("disk.svg"))));
  const FoundFileSystems& found = session.foundFileSystems;
  if (found.empty()) {
    // Nothing to choose: only Back is offered, and the next search starts over.
    session.state.LostSearchPass = 0;
    nothingFound_ = true;
    explanation->setText(
        QStringLiteral("No file system was found in the range you searched. Go back < to search another range."));
    next_->hide();
    tree_->setCurrentItem(root);
    return;
  }
  writeFoundFileSystemsBlock(session);
  for (std::size_t i = 0; i < found.size(); ++i) {
    auto* node = new QTreeWidgetItem(root, {QString::fromStdString(foundFileSystemLabel(found, i))});
    node->setData(0, kOrdinalRole, static_cast<int>(i + 1));
    node->setIcon(0, QIcon(dataFile(session, QStringLiteral("partition.svg"))));
  }
  root->setExpanded(true);
  // The file system chosen last (a loaded log keeps it), else the first.
  const std::uint32_t chosen = session.state.SelectedFoundFileSystem;
  if (chosen == 0 || chosen > found.size() || !selectFileSystem(static_cast<int>(chosen))) selectFileSystem(1);
  nextAtOnce_ = afterLoadedLog;
}

void ExhaustivePartitionInfo::entered() {
  WizardPage::entered();
  tree_->setFocus();
  if (nothingFound_ && !toldNothingFound_) {
    toldNothingFound_ = true;
    QTimer::singleShot(0, this, [this] { window_.prompter().inform(kNoFileSystemsText); });
  }
  if (nextAtOnce_) {
    nextAtOnce_ = false;
    QTimer::singleShot(0, this, &ExhaustivePartitionInfo::next);
  }
}

void ExhaustivePartitionInfo::updateMenu(WizardMenu& menu) {
  WizardPage::updateMenu(menu);
  menu.saveLog->setEnabled(!nothingFound_);
}

bool ExhaustivePartitionInfo::confirmExit() {
  return window_.prompter().askYesNo(msg::kExitDravolinQuestion);
}

bool ExhaustivePartitionInfo::selectFileSystem(int ordinal) {
  QTreeWidgetItem* root = tree_->topLevelItem(0);
  for (int i = 0; root && i < root->childCount(); ++i) {
    if (root->child(i)->data(0, kOrdinalRole).toInt() == ordinal) {
      tree_->setCurrentItem(root->child(i));
      return true;
    }
  }
  return false;
}

QStringList ExhaustivePartitionInfo::nodeTexts() const {
  QStringList texts;
  QTreeWidgetItem* root = tree_->topLevelItem(0);
  for (int i = 0; root && i < root->childCount(); ++i) texts << root->child(i)->text(0);
  return texts;
}

QString ExhaustivePartitionInfo::header() const { return header_->text(); }

QStringList ExhaustivePartitionInfo::propertyTexts() const {
  QStringList out;
  for (std::size_t i = 0; i < labels_.size(); ++i)
    if (!labels_[i]->text().isEmpty()) out << labels_[i]->text() + QLatin1Char(' ') + values_[i]->text();
  return out;
}

void ExhaustivePartitionInfo::showSelection() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item) return;
  Session& session = window_.session();
  QStringList labels, values;
  const int ordinal = item->data(0, kOrdinalRole).toInt();
  header_->clear();
  if (ordinal > 0) {
    header_->setText(QStringLiteral("You have selected %1 with following properties :").arg(item->text(0)));
    auto selected = selectFoundFileSystem(session, static_cast<std::uint32_t>(ordinal));
    if (selected) {
      const FoundFileSystem& entry = session.foundFileSystems.at(static_cast<std::size_t>(ordinal - 1));
      const std::uint64_t sectors = selected->end > selected->start ? selected->end - selected->start : 0;
      labels = {QStringLiteral("Partition Type:"), QStringLiteral("Partition Size:"), QStringLiteral("Start Sector:"),
                QStringLiteral("End Sector:")};
      values = {QString::fromStdString(entry.name), QString::fromStdString(formatPartitionSize(sectors * kSectorSize)),
                QString::number(selected->start), QString::number(selected->end)};
      if (fatNotLocated(entry)) {
        labels << QStringLiteral("Note:");
        values << QString::fromUtf8(kFatNotLocatedText);
      }
    }
  }
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    labels_[i]->setText(i < static_cast<std::size_t>(labels.size()) ? labels[static_cast<int>(i)] : QString());
    values_[i]->setText(i < static_cast<std::size_t>(values.size()) ? values[static_cast<int>(i)] : QString());
  }
}

void ExhaustivePartitionInfo::next() {
  QTreeWidgetItem* item = tree_->currentItem();
  const int ordinal = item ? item->data(0, kOrdinalRole).toInt() : 0;
  // The root node stands for no file system: the first one is meant.
  auto chosen = chooseFoundFileSystem(window_.session(), static_cast<std::uint32_t>(ordinal > 0 ? ordinal : 1));
  if (!chosen) {
    window_.prompter().inform(chosen.error().message);
    return;
  }
  window_.push(new SearchProgress(window_));
}

void ExhaustivePartitionInfo::saveLog() { saveSearchLogAs(SearchLogKind::FoundList); }

void ExhaustivePartitionInfo::saveLogTo(const QString& path) { writeSearchLog(path, SearchLogKind::FoundList); }

}  // namespace dravolin::ui
