#pragma once
// The result browser's Open With: the applications whose desktop files say
// they handle the file's MIME type (or one of the types it derives from),
// the default application, or a command typed by the user.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

class QLineEdit;
class QListWidget;

namespace dravolin::ui {

class MainWindow;

// One application from a desktop file.
struct DesktopApplication {
  QString id;    // the desktop file's name, "org.gnome.TextEditor.desktop"
  QString name;  // Name=
  QString exec;  // Exec=
  QString icon;  // Icon=
  QStringList mimeTypes;
};

// Reads a desktop file's [Desktop Entry] group; nothing for a file that is
// not a shown application (Type other than Application, NoDisplay, Hidden,
// no Exec).
std::optional<DesktopApplication> readDesktopFile(const QString& path);

// The applications of these folders (the first folder wins for a desktop
// file id found twice) that handle one of the MIME types, sorted by name.
std::vector<DesktopApplication> applicationsFor(const QStringList& mimeTypes, const QStringList& folders);

// The MIME type of a file and those it derives from, most specific first.
QStringList mimeTypesOf(const QString& file);

// The program and its arguments for an Exec line on a file: %f %F %u %U
// become the file (a URL for %u %U), %i %c %k and the deprecated codes are
// dropped, %% is a percent sign; without a file code the file is appended.
// Empty when the line has no program.
QStringList expandExec(const QString& exec, const QString& file);

class OpenWith : public QDialog {
  Q_OBJECT
 public:
  OpenWith(MainWindow& window, const QString& file);
  QListWidget* applications() const { return list_; }
  QLineEdit* command() const { return command_; }
  void accept() override;

 private:
  MainWindow& window_;
  QString file_;
  std::vector<DesktopApplication> found_;
  QListWidget* list_;
  QLineEdit* command_;
};

}  // namespace dravolin::ui
