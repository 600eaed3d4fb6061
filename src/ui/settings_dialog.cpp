#include "ui/settings_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/wizard_window.h"

namespace dravolin::ui {

Settings::Settings(MainWindow& window)
    : QDialog(&window),
      window_(window),
      model_(window.session().savingSettings),
      extension_(new QLineEdit(this)),
      list_(new QListWidget(this)),
      kind_(new QComboBox(this)) {
  setObjectName(QStringLiteral("Settings"));
  setWindowTitle(window_.caption());
  const MessageCatalog& texts = window_.session().messages();
  auto text = [&texts](int number, const char* fallback) {
    return QString::fromStdString(texts.text(number, fallback));
  };
  SavingSettings& settings = window_.session().savingSettings;
  auto* layout = new QGridLayout(this);

  auto radios = [this](const QString& title, const std::vector<QString>& labels, int current,
                       const std::function<void(int)>& set) {
    auto* box = new QGroupBox(title, this);
    auto* v = new QVBoxLayout(box);
    auto* group = new QButtonGroup(box);
    for (std::size_t i = 0; i < labels.size(); ++i) {
      auto* radio = new QRadioButton(labels[i], box);
      group->addButton(radio, static_cast<int>(i));
      v->addWidget(radio);
      if (static_cast<int>(i) == current) radio->setChecked(true);
    }
    connect(group, &QButtonGroup::idClicked, this, set);
    return box;
  };
  layout->addWidget(radios(QStringLiteral("Deleted Files"),
                           {text(76, "Include Deleted Files"), text(77, "Exclude  Deleted File(s)"),
                            text(78, "Save Deleted Files Only")},
                           settings.SaveDeletedFilter, [this](int v) { model_.setDeletedFilter(v); }),
                    0, 0);
  layout->addWidget(radios(QStringLiteral("Selection"),
                           {text(93, "Save Selected File(s)"), text(94, "Save All File(s)"),
                            text(95, "Invert Selection")},
                           settings.SaveSelectionMode, [this](int v) { model_.setSelectionMode(v); }),
                    1, 0);
  layout->addWidget(radios(QStringLiteral("FAT Copy"),
                           {text(79, "Auto"), text(80, "FAT1"), text(81, "FAT2"), text(84, "Contiguous")},
                           settings.FatCopySource, [this](int v) { model_.setFatCopySource(v); }),
                    2, 0);

  auto* extensions = new QGroupBox(text(91, "Extensions"), this);
  auto* ev = new QVBoxLayout(extensions);
  auto* addRow = new QHBoxLayout;
  extension_->setObjectName(QStringLiteral("extension"));
  extension_->setMaxLength(40);
  auto* add = new QPushButton(text(89, "&Add"), extensions);
  add->setObjectName(QStringLiteral("add"));
  add->setAutoDefault(false);
  remove_ = new QPushButton(text(90, "&Remove"), extensions);
  remove_->setObjectName(QStringLiteral("remove"));
  remove_->setAutoDefault(false);
  addRow->addWidget(extension_, 1);
  addRow->addWidget(add);
  addRow->addWidget(remove_);
  ev->addLayout(addRow);
  list_->setObjectName(QStringLiteral("extensions"));
  ev->addWidget(list_);
  layout->addWidget(extensions, 0, 1, 2, 1);

  auto* dates = new QGroupBox(text(92, "Date"), this);
  auto* dg = new QGridLayout(dates);
  kind_->addItems({QStringLiteral("Modified Date"), QStringLiteral("Created Date"), QStringLiteral("Accessed Date")});
  dg->addWidget(kind_, 0, 0, 1, 4);
  dg->addWidget(new QLabel(text(82, "DD"), dates), 1, 1);
  dg->addWidget(new QLabel(text(87, "MM"), dates), 1, 2);
  dg->addWidget(new QLabel(text(88, "YYYY"), dates), 1, 3);
  dg->addWidget(new QLabel(text(85, "Earlier : "), dates), 2, 0);
  dg->addWidget(new QLabel(text(86, "After   : "), dates), 3, 0);
  for (int i = 0; i < 6; ++i) {
    auto* box = new QComboBox(dates);
    const int field = i % 3;  // day, month, year
    const int count = field == 0 ? 31 : field == 1 ? 12 : 61;
    for (int v = 0; v < count; ++v)
      box->addItem(field == 2 ? QString::number(1970 + v) : QStringLiteral("%1").arg(v + 1, 2, 10, QLatin1Char('0')));
    dates_[static_cast<std::size_t>(i)] = box;
    dg->addWidget(box, 2 + i / 3, 1 + field);
    connect(box, &QComboBox::currentIndexChanged, this, &Settings::datesChanged);
  }
  layout->addWidget(dates, 2, 1);

  auto* buttons = new QDialogButtonBox(this);
  auto* apply = buttons->addButton(text(96, "&Apply"), QDialogButtonBox::AcceptRole);
  apply->setObjectName(QStringLiteral("apply"));
  buttons->addButton(QDialogButtonBox::Cancel);
  layout->addWidget(buttons, 3, 0, 1, 2);
  connect(buttons, &QDialogButtonBox::accepted, this, &Settings::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &Settings::reject);
  connect(add, &QPushButton::clicked, this, &Settings::addExtension);
  connect(remove_, &QPushButton::clicked, this, &Settings::removeExtension);
  connect(extension_, &QLineEdit::returnPressed, this, &Settings::addExtension);
  connect(kind_, &QComboBox::currentIndexChanged, this, [this](int index) {
    model_.selectKind(static_cast<DateKind>(index));
    showKind();
  });

  for (const std::string& e : model_.listBox()) list_->addItem(QString::fromStdString(e));
  remove_->setEnabled(model_.removeEnabled());
  if (list_->count() > 0) list_->setCurrentRow(0);
  showKind();
}

void Settings::showKind() {
  loading_ = true;
  const DatePositions& p = model_.datePositions();
  const int values[] = {p.earlierDay, p.earlierMonth, p.earlierYear, p.afterDay, p.afterMonth, p.afterYear};
  for (int i = 0; i < 6; ++i) dates_[static_cast<std::size_t>(i)]->setCurrentIndex(values[i]);
  loading_ = false;
}

void Settings::datesChanged() {
  if (loading_) return;
  model_.setDatePositions({dates_[0]->currentIndex(), dates_[1]->currentIndex(), dates_[2]->currentIndex(),
                           dates_[3]->currentIndex(), dates_[4]->currentIndex(), dates_[5]->currentIndex()});
}

void Settings::addExtension() {
  if (auto refusal = model_.add(extension_->text().toStdString())) {
    window_.prompter().inform(*refusal);
    return;
  }
  if (extension_->text().isEmpty()) return;
  list_->clear();
  for (const std::string& e : model_.listBox()) list_->addItem(QString::fromStdString(e));
  extension_->clear();
  extension_->setFocus();
  remove_->setEnabled(true);
  list_->setCurrentRow(0);
  model_.selectRow(0);
}

void Settings::removeExtension() {
  model_.selectRow(list_->currentRow());
  model_.remove();
  list_->clear();
  for (const std::string& e : model_.listBox()) list_->addItem(QString::fromStdString(e));
  remove_->setEnabled(model_.removeEnabled());
  if (list_->count() > 0) {
    list_->setCurrentRow(0);
    model_.selectRow(0);
  }
}

void Settings::accept() {
  model_.apply();
  QDialog::accept();
}

void Settings::reject() {
  model_.cancel();
  QDialog::reject();
}

}  // namespace dravolin::ui
