#include "ui/log_path_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

#include "app/log_operations.h"
#include "ui/wizard_window.h"

namespace dravolin::ui {

LogPath::LogPath(MainWindow& window, LogKind kind)
    : QDialog(&window), window_(window), kind_(kind), folder_(new QLineEdit(this)) {
  setObjectName(QStringLiteral("LogPath"));
  setWindowTitle(window_.caption());
  Session& session = window_.session();
  const LogFile& log = kind == LogKind::Activity ? session.activityLog() : session.recoveryLog();
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("&Folder of the %1 :").arg(QString::fromStdString(logDisplayName(kind))), this);
  label->setBuddy(folder_);
  layout->addWidget(label);
  auto* row = new QHBoxLayout;
  folder_->setObjectName(QStringLiteral("folder"));
  folder_->setText(QString::fromStdString(log.folder().string()));
  folder_->setMinimumWidth(360);
  row->addWidget(folder_, 1);
  auto* browse = new QPushButton(QStringLiteral("B&rowse..."), this);
  row->addWidget(browse);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &LogPath::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString folder = QFileDialog::getExistingDirectory(this, windowTitle(), folder_->text());
    if (!folder.isEmpty()) folder_->setText(folder);
  });
}

void LogPath::accept() {
  const std::filesystem::path folder = folder_->text().trimmed().toStdString();
  std::error_code error;
  if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
    window_.prompter().inform("The folder " + folder.string() + " does not exist.");
    return;
  }
  // The log moves at once; a settings file that cannot be written is said.
  if (auto changed = window_.session().changeLogFolder(kind_, folder); !changed)
    window_.prompter().inform(changed.error().message);
  QDialog::accept();
}

}  // namespace dravolin::ui
