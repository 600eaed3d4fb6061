#include "ui/open_with_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <optional>

#include "ui/wizard_window.h"

namespace dravolin::ui {

namespace {
constexpr int kApplicationRole = Qt::UserRole + 1;  // index in found_, -1 for the default application
constexpr qint64 kLargestDesktopFile = 1 << 20;
}  // namespace

std::optional<DesktopApplication> readDesktopFile(const QString& path) {
  QFile file(path);
  if (file.size() > kLargestDesktopFile || !file.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
  QTextStream in(&file);
  DesktopApplication app;
  app.id = QFileInfo(path).fileName();
  bool inEntry = false, shown = true;
  QString type;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inEntry = line == QStringLiteral("[Desktop Entry]");
      continue;
    }
    if (!inEntry || line.startsWith(QLatin1Char('#'))) continue;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0) continue;
    const QString key = line.left(equals).trimmed();
    const QString value = line.mid(equals + 1).trimmed();
    if (key == QStringLiteral("Name")) app.name = value;
    else if (key == QStringLiteral("Exec")) app.exec = value;
    else if (key == QStringLiteral("Icon")) app.icon = value;
    else if (key == QStringLiteral("Type")) type = value;
    else if (key == QStringLiteral("MimeType")) app.mimeTypes = value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    else if ((key == QStringLiteral("NoDisplay") || key == QStringLiteral("Hidden")) && value == QStringLiteral("true"))
      shown = false;
  }
  if (!shown || type != QStringLiteral("Application") || app.exec.isEmpty()) return std::nullopt;
  if (app.name.isEmpty()) app.name = app.id;
  return app;
}

std::vector<DesktopApplication> applicationsFor(const QStringList& mimeTypes, const QStringList& folders) {
  std::map<QString, DesktopApplication> byId;
  for (const QString& folder : folders) {
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name)) {
      if (byId.count(name)) continue;  // an earlier folder overrides
      auto app = readDesktopFile(dir.filePath(name));
      if (!app) {
        byId[name] = DesktopApplication{};  // a hidden entry hides the later ones too
        continue;
      }
      byId[name] = *app;
    }
  }
  std::vector<DesktopApplication> out;
  for (auto& [id, app] : byId) {
    if (app.exec.isEmpty()) continue;
    const bool handles = std::any_of(mimeTypes.begin(), mimeTypes.end(),
                                     [&](const QString& type) { return app.mimeTypes.contains(type); });
    if (handles) out.push_back(app);
  }
  std::sort(out.begin(), out.end(), [](const DesktopApplication& a, const DesktopApplication& b) {
    return a.name.localeAwareCompare(b.name) < 0;
  });
  return out;
}

QStringList mimeTypesOf(const QString& file) {
  const QMimeType type = QMimeDatabase().mimeTypeForFile(file);
  QStringList types{type.name()};
  types += type.allAncestors();
  return types;
}

QStringList expandExec(const QString& exec, const QString& file) {
  QStringList out;
  bool fileUsed = false;
  for (const QString& argument : QProcess::splitCommand(exec)) {
    if (argument == QStringLiteral("%F") || argument == QStringLiteral("%f")) {
      out << file;
      fileUsed = true;
      continue;
    }
    if (argument == QStringLiteral("%U") || argument == QStringLiteral("%u")) {
      out << QUrl::fromLocalFile(file).toString();
      fileUsed = true;
      continue;
    }
    QString expanded;
    bool dropped = false;
    for (qsizetype i = 0; i < argument.size(); ++i) {
      if (argument[i] != QLatin1Char('%') || i + 1 >= argument.size()) {
        expanded += argument[i];
        continue;
      }
      const QChar code = argument[++i];
      if (code == QLatin1Char('%')) expanded += QLatin1Char('%');
      else if (code == QLatin1Char('f') || code == QLatin1Char('F')) {
        expanded += file;
        fileUsed = true;
      } else if (code == QLatin1Char('u') || code == QLatin1Char('U')) {
        expanded += QUrl::fromLocalFile(file).toString();
        fileUsed = true;
      } else {
        dropped = true;  // %i %c %k and the deprecated codes
      }
    }
    if (!expanded.isEmpty() || !dropped) out << expanded;
  }
  if (out.isEmpty()) return {};
  if (!fileUsed) out << file;
  return out;
}

OpenWith::OpenWith(MainWindow& window, const QString& file)
    : QDialog(&window), window_(window), file_(file), list_(new QListWidget(this)), command_(new QLineEdit(this)) {
  setObjectName(QStringLiteral("OpenWith"));
  setWindowTitle(window_.caption());
  const QStringList types = mimeTypesOf(file_);
  QStringList folders = window_.options().applicationFolders;
  if (folders.isEmpty()) folders = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
  found_ = applicationsFor(types, folders);

  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(QStringLiteral("Choose the program to open %1 with (%2):")
                                 .arg(QFileInfo(file_).fileName(), types.value(0)),
                             this);
  heading->setWordWrap(true);
  layout->addWidget(heading);
  list_->setObjectName(QStringLiteral("applications"));
  auto* standard = new QListWidgetItem(QStringLiteral("Default application"), list_);
  standard->setData(kApplicationRole, -1);
  for (std::size_t i = 0; i < found_.size(); ++i) {
    auto* item = new QListWidgetItem(QIcon::fromTheme(found_[i].icon), found_[i].name, list_);
    item->setData(kApplicationRole, static_cast<int>(i));
    item->setToolTip(found_[i].exec);
  }
  list_->setCurrentRow(0);
  layout->addWidget(list_, 1);
  auto* other = new QLabel(QStringLiteral("Or &another command :"), this);
  other->setBuddy(command_);
  command_->setObjectName(QStringLiteral("command"));
  command_->setPlaceholderText(QStringLiteral("for instance: hexdump -C"));
  layout->addWidget(other);
  layout->addWidget(command_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &OpenWith::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemActivated, this, [this] { accept(); });
  resize(440, 380);
}

void OpenWith::accept() {
  const WizardOptions& options = window_.options();
  QStringList command;
  if (!command_->text().trimmed().isEmpty()) {
    command = expandExec(command_->text().trimmed(), file_);
  } else if (QListWidgetItem* item = list_->currentItem()) {
    const int index = item->data(kApplicationRole).toInt();
    if (index < 0) {
      options.openUrl(QUrl::fromLocalFile(file_));
      QDialog::accept();
      return;
    }
    command = expandExec(found_.at(static_cast<std::size_t>(index)).exec, file_);
  }
  if (command.isEmpty()) return;
  const QString program = command.takeFirst();
  const bool started = options.startProgram ? options.startProgram(program, command)
                                            : QProcess::startDetached(program, command);
  if (!started) {
    window_.prompter().inform((program + QStringLiteral(" could not be started.")).toStdString());
    return;
  }
  QDialog::accept();
}

}  // namespace dravolin::ui
