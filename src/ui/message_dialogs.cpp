#include "ui/message_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/wizard_messages.h"
#include "results/saving.h"

namespace dravolin::ui {

QString fromWizardText(const std::string& text) {
  QString out = QString::fromStdString(text);
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return out;
}

namespace {

// The icon on the left, the text on the right, the buttons below.
QHBoxLayout* iconAndText(QDialog* dialog, QStyle::StandardPixmap icon, QLabel* text) {
  auto* row = new QHBoxLayout;
  auto* picture = new QLabel(dialog);
  const int size = dialog->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, dialog);
  picture->setPixmap(dialog->style()->standardIcon(icon, nullptr, dialog).pixmap(size, size));
  picture->setAlignment(Qt::AlignTop);
  row->addWidget(picture);
  text->setWordWrap(true);
  text->setTextFormat(Qt::PlainText);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text->setMinimumWidth(320);
  text->setObjectName(QStringLiteral("text"));  // control 1044
  row->addWidget(text, 1);
  return row;
}

}  // namespace

MessagesInfo::MessagesInfo(const QString& caption, const QString& text, bool offerViewReport, QWidget* parent)
    : QDialog(parent), text_(new QLabel(text, this)), viewReport_(new QCheckBox(QStringLiteral("View Report"), this)) {
  setObjectName(QStringLiteral("MessagesInfo"));
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(iconAndText(this, QStyle::SP_MessageBoxInformation, text_));
  viewReport_->setObjectName(QStringLiteral("viewReport"));
  viewReport_->setVisible(offerViewReport);
  layout->addWidget(viewReport_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

bool MessagesInfo::viewReport() const { return viewReport_->isVisible() && viewReport_->isChecked(); }
QString MessagesInfo::text() const { return text_->text(); }

QuestionMessage::QuestionMessage(const QString& caption, const QString& text, QWidget* parent)
    : QDialog(parent), text_(new QLabel(text, this)) {
  setObjectName(QStringLiteral("QuestionMessage"));
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(iconAndText(this, QStyle::SP_MessageBoxQuestion, text_));
  auto* buttons = new QDialogButtonBox(this);
  auto* yes = buttons->addButton(QStringLiteral("&Yes"), QDialogButtonBox::YesRole);
  auto* no = buttons->addButton(QStringLiteral("&No"), QDialogButtonBox::NoRole);
  yes->setObjectName(QStringLiteral("yes"));
  no->setObjectName(QStringLiteral("no"));
  yes->setDefault(true);
  connect(yes, &QPushButton::clicked, this, &QDialog::accept);
  connect(no, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(buttons);
}

QString QuestionMessage::text() const { return text_->text(); }

BadSectors::BadSectors(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("BadSectors"));
  setWindowTitle(QString::fromUtf8(msg::kBadSectorsTitle));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(iconAndText(this, QStyle::SP_MessageBoxWarning, new QLabel(QString::fromUtf8(msg::kBadSectorsText), this)));
  auto* buttons = new QHBoxLayout;
  const std::pair<const char*, BadSectorAnswer> choices[] = {{"&Retry", BadSectorAnswer::Retry},
                                                            {"&Skip", BadSectorAnswer::Skip},
                                                            {"R&etry All", BadSectorAnswer::RetryAll},
                                                            {"Skip &All", BadSectorAnswer::SkipAll}};
  for (const auto& [label, value] : choices) {
    auto* button = new QPushButton(QString::fromUtf8(label), this);
    button->setAutoDefault(false);
    if (value == BadSectorAnswer::Retry) button->setDefault(true);
    connect(button, &QPushButton::clicked, this, [this, answer = value] {
      answer_ = answer;
      accept();
    });
    buttons->addWidget(button);
  }
  layout->addLayout(buttons);
}

ReplaceFile::ReplaceFile(const QString& caption, const QString& path, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ReplaceFile"));
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(iconAndText(this, QStyle::SP_MessageBoxQuestion,
                                new QLabel(QString::fromUtf8(kReplaceQuestion), this)));
  auto* where = new QLabel(path, this);
  where->setObjectName(QStringLiteral("path"));
  where->setTextFormat(Qt::PlainText);
  where->setWordWrap(true);
  layout->addWidget(where);
  auto* buttons = new QHBoxLayout;
  const std::pair<const char*, ReplaceAnswer> choices[] = {
      {"&Yes", ReplaceAnswer::Yes},          {"&No", ReplaceAnswer::No},
      {"Yes to &All", ReplaceAnswer::YesToAll}, {"No to A&ll", ReplaceAnswer::NoToAll},
      {"&Rename", ReplaceAnswer::Rename},    {"Rena&me All", ReplaceAnswer::RenameAll}};
  for (const auto& [label, value] : choices) {
    auto* button = new QPushButton(QString::fromUtf8(label), this);
    button->setAutoDefault(false);
    if (value == ReplaceAnswer::Yes) button->setDefault(true);
    connect(button, &QPushButton::clicked, this, [this, answer = value] {
      answer_ = answer;
      accept();
    });
    buttons->addWidget(button);
  }
  layout->addLayout(buttons);
}

FileCreation::FileCreation(const QString& text, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FileCreation"));
  setWindowTitle(QString::fromUtf8(kFileCreationTitle));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(iconAndText(this, QStyle::SP_MessageBoxCritical, new QLabel(text, this)));
  auto* buttons = new QDialogButtonBox(this);
  auto* abort = buttons->addButton(QStringLiteral("&Abort"), QDialogButtonBox::RejectRole);
  auto* skip = buttons->addButton(QStringLiteral("&Skip"), QDialogButtonBox::AcceptRole);
  skip->setDefault(true);
  connect(abort, &QPushButton::clicked, this, [this] {
    aborted_ = true;
    accept();
  });
  connect(skip, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(buttons);
}

}  // namespace dravolin::ui
