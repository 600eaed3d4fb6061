#include "ui/name_search_dialog.h"

#include "results/unicode_text.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/wizard_messages.h"
#include "ui/file_display.h"
#include "ui/name_search_model.h"
#include "ui/wizard_window.h"

namespace dravolin::ui {

FileSearchDialog::FileSearchDialog(MainWindow& window, FileDisplay& display)
    : QDialog(&window),
      window_(window),
      display_(display),
      pattern_(new QLineEdit(this)),
      typeBox_(new QCheckBox(QStringLiteral("T&ype"), this)),
      dateBox_(new QCheckBox(QStringLiteral("&Date"), this)),
      sizeBox_(new QCheckBox(QStringLiteral("Si&ze"), this)),
      dateKind_(new QComboBox(this)),
      sizeFrom_(new QLineEdit(this)),
      sizeTo_(new QLineEdit(this)),
      unit_(new QComboBox(this)),
      start_(new QPushButton(QStringLiteral("&Start Search"), this)),
      count_(new QLabel(this)),
      hits_(new QTreeView(this)),
      model_(new NameSearchModel(*display.resultTree(), this)) {
  setObjectName(QStringLiteral("FILE_SEARCH"));
  setWindowTitle(QStringLiteral("Search File(s) "));
  auto* layout = new QVBoxLayout(this);
  auto* patternLabel = new QLabel(QStringLiteral("&Enter Search String "), this);
  patternLabel->setBuddy(pattern_);
  pattern_->setObjectName(QStringLiteral("pattern"));
  auto* top = new QHBoxLayout;
  top->addWidget(patternLabel);
  top->addWidget(pattern_, 1);
  top->addWidget(new QLabel(QStringLiteral("Example - *.doc"), this));
  start_->setObjectName(QStringLiteral("start"));
  start_->setDefault(true);
  top->addWidget(start_);
  layout->addLayout(top);

  auto* filters = new QHBoxLayout;
  auto* typeGroup = new QGroupBox(this);
  auto* tv = new QVBoxLayout(typeGroup);
  tv->addWidget(typeBox_);
  for (const char* label : {"&Include Deleted File(s)", "E&xclude Deleted File(s)", "&Only Deleted File(s)"}) {
    auto* radio = new QRadioButton(QString::fromUtf8(label), typeGroup);
    radio->setEnabled(false);
    deleted_.push_back(radio);
    tv->addWidget(radio);
  }
  filters->addWidget(typeGroup);

  auto* dateGroup = new QGroupBox(this);
  auto* dg = new QGridLayout(dateGroup);
  dg->addWidget(dateBox_, 0, 0);
  dateKind_->addItems({QStringLiteral("Created Date"), QStringLiteral("Modified Date"), QStringLiteral("Accessed Date")});
  dg->addWidget(dateKind_, 0, 1, 1, 3);
  dg->addWidget(new QLabel(QStringLiteral("( DD - MM - YYY)"), dateGroup), 1, 1, 1, 3);
  dg->addWidget(new QLabel(QStringLiteral("From :"), dateGroup), 2, 0);
  dg->addWidget(new QLabel(QStringLiteral("To :"), dateGroup), 3, 0);
  for (int i = 0; i < 6; ++i) {
    auto* box = new QComboBox(dateGroup);
    const int field = i % 3;
    const int count = field == 0 ? 31 : field == 1 ? 12 : 61;
    for (int v = 0; v < count; ++v)
      box->addItem(field == 2 ? QString::number(1970 + v) : QStringLiteral("%1").arg(v + 1, 2, 10, QLatin1Char('0')));
    if (i == 3) box->setCurrentIndex(30);
    if (i == 4) box->setCurrentIndex(11);
    if (i == 5) box->setCurrentIndex(60);
    box->setEnabled(false);
    dates_.push_back(box);
    dg->addWidget(box, 2 + i / 3, 1 + field);
  }
  dateKind_->setEnabled(false);
  filters->addWidget(dateGroup);

  auto* sizeGroup = new QGroupBox(this);
  auto* sg = new QGridLayout(sizeGroup);
  sg->addWidget(sizeBox_, 0, 0, 1, 3);
  sg->addWidget(new QLabel(QStringLiteral("Size between : "), sizeGroup), 1, 0);
  sg->addWidget(sizeFrom_, 1, 1);
  sg->addWidget(sizeTo_, 1, 2);
  unit_->addItems({QStringLiteral("KB"), QStringLiteral("MB"), QStringLiteral("GB")});
  sg->addWidget(unit_, 1, 3);
  for (QWidget* w : std::initializer_list<QWidget*>{sizeFrom_, sizeTo_, unit_}) w->setEnabled(false);
  filters->addWidget(sizeGroup);
  layout->addLayout(filters);

  connect(typeBox_, &QCheckBox::toggled, this, [this](bool on) {
    for (QRadioButton* r : deleted_) r->setEnabled(on);
    if (on) deleted_[0]->setChecked(true);
  });
  connect(dateBox_, &QCheckBox::toggled, this, [this](bool on) {
    dateKind_->setEnabled(on);
    for (QComboBox* b : dates_) b->setEnabled(on);
    if (on) dateKind_->setCurrentIndex(0);
  });
  connect(sizeBox_, &QCheckBox::toggled, this, [this](bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{sizeFrom_, sizeTo_, unit_}) w->setEnabled(on);
    if (on) unit_->setCurrentIndex(0);
  });

  count_->setObjectName(QStringLiteral("count"));
  count_->setText(QStringLiteral("Search String Found Count : 0"));
  layout->addWidget(count_);
  hits_->setObjectName(QStringLiteral("hits"));
  hits_->setRootIsDecorated(false);
  hits_->setUniformRowHeights(true);  // rows are laid out without asking each one's size
  hits_->setModel(model_);
  const int widths[] = {150, 150, 350, 150, 150, 150, 150, 150};
  for (int i = 0; i < NameSearchModel::ColumnCount; ++i) hits_->setColumnWidth(i, widths[i]);
  layout->addWidget(hits_, 1);
  connect(start_, &QPushButton::clicked, this, &FileSearchDialog::startOrStop);
  connect(&timer_, &QTimer::timeout, this, &FileSearchDialog::poll);
  connect(hits_, &QTreeView::doubleClicked, this, &FileSearchDialog::hitActivated);
  // A check on a hit goes through the result browser's rules; a folder's
  // marks are set on a worker and shown when it has finished.
  connect(model_, &NameSearchModel::folderCheckToggled, this, [this](std::size_t directory, bool checked) {
    if (auto folder = display_.resultTree()->itemOfDirectory(directory)) display_.setFolderChecked(*folder, checked);
  });
  connect(model_, &NameSearchModel::fileCheckToggled, &display_, &FileDisplay::setFileChecked);
  connect(&display_, &FileDisplay::checksApplied, model_, &NameSearchModel::refreshChecks);
  // Closing the window gives the hits back at once.
  connect(this, &QDialog::finished, model_, &NameSearchModel::clear);
  resize(900, 520);
}

FileSearchDialog::~FileSearchDialog() {
  if (job_) {
    job_->cancel();
    job_->wait();
  }
}

QString FileSearchDialog::countText() const { return count_->text(); }

NameSearchRequest FileSearchDialog::request() const {
  NameSearchRequest r;
  r.pattern = pattern_->text().toUpper().toStdString();
  if (typeBox_->isChecked()) {
    for (std::size_t i = 0; i < deleted_.size(); ++i)
      if (deleted_[i]->isChecked()) r.deleted = static_cast<DeletedChoice>(i);
  }
  if (dateBox_->isChecked()) {
    NameSearchRequest::DateFilter d;
    static const EntryDateKind kinds[] = {EntryDateKind::Created, EntryDateKind::Modified, EntryDateKind::Accessed};
    d.kind = kinds[std::max(0, dateKind_->currentIndex())];
    d.from = {dates_[0]->currentIndex() + 1, dates_[1]->currentIndex() + 1, dates_[2]->currentIndex() + 1970};
    d.to = {dates_[3]->currentIndex() + 1, dates_[4]->currentIndex() + 1, dates_[5]->currentIndex() + 1970};
    r.date = d;
  }
  if (sizeBox_->isChecked()) {
    NameSearchRequest::SizeFilter s;
    s.from = sizeFrom_->text().toULongLong();
    s.to = sizeTo_->text().toULongLong();
    s.unit = sizeUnitFromText(unit_->currentText().toStdString());
    r.size = s;
  }
  return r;
}

void FileSearchDialog::startOrStop() {
  if (!job_) {
    start_->setText(QStringLiteral("&Stop Search"));
    count_->setText(QStringLiteral("Search String Found Count : 0"));
    model_->clear();
    found_.clear();
    job_ = std::make_unique<WorkerJob>(window_.prompter());
    ResultTree* tree = display_.resultTree();
    job_->start([this, tree, r = request()](Job& job) { found_ = NameSearch(*tree).find(r, job); });
    timer_.start(20);
    return;
  }
  job_->pause();
  if (window_.prompter().askYesNo(msg::kStopSearchingQuestion)) {
    job_->stop();
    return;
  }
  job_->resume();
}

void FileSearchDialog::poll() {
  if (!job_ || !job_->ended() || job_->paused()) return;
  timer_.stop();
  job_->wait();
  job_.reset();
  start_->setText(QStringLiteral("&Start Search"));
  showHits();
  emit searchEnded();
}

void FileSearchDialog::showHits() {
  model_->setMatches(std::move(found_));
  found_ = {};
  count_->setText(QStringLiteral("Search String Found Count : %1").arg(model_->rowCount()));
}

void FileSearchDialog::hitActivated(const QModelIndex& index) {
  if (!index.isValid()) return;
  const NameSearchMatch m = model_->match(index.row());
  if (m.kind == RowKind::Folder) {
    if (auto folder = display_.resultTree()->itemOfDirectory(m.index)) {
      display_.showFolder(*folder);
      accept();
    }
  } else {
    display_.preview(m.index);
  }
}

}  // namespace dravolin::ui
