#pragma once
// The main window of the wizard: the four mode tabs on the first page and a
// stack of step pages above it. Next pushes a page, Back pops it; a page
// below keeps its widgets, so its choices are intact when it shows again.
// The step pages from Step 2 on share one menu, each greying what does not
// apply to it.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QVBoxLayout>
#include <QPointer>
#include <QUrl>
#include <QStringList>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <memory>
#include <vector>

#include "app/session.h"
#include "ui/gui_prompter.h"

class QAction;
class QMenu;
class QStackedWidget;
class QTabWidget;

namespace dravolin::ui {

class DesktopRecovery;
class DiskSelectionPage;
class ImageRecovery;
class MainWindow;
class RawRecovery;

// The common menu of the step windows.
struct WizardMenu {
  QAction* exhaustiveRecovery = nullptr;
  QAction* recoverSelected = nullptr;
  QAction* searchFiles = nullptr;
  QAction* rename = nullptr;
  QAction* exit = nullptr;
  QAction* saveLog = nullptr;
  QAction* loadLog = nullptr;
  QAction* activityReport = nullptr;
  QAction* recoveryHistory = nullptr;
  QAction* clearActivityReport = nullptr;
  QAction* clearRecoveryHistory = nullptr;
  QAction* activityReportPath = nullptr;
  QAction* recoveryHistoryPath = nullptr;
  QAction* savingUsingFilter = nullptr;
  QAction* largeIcons = nullptr;
  QAction* details = nullptr;
  QAction* smallIcons = nullptr;
  QAction* online = nullptr;
  QAction* forums = nullptr;
  QAction* help = nullptr;
  QAction* aboutUs = nullptr;
  std::vector<QAction*> all() const;
};

// The second menu, carried by the image creation page.
struct ImagingMenu {
  std::vector<QMenu*> menus;
  QAction* recoverSelected = nullptr;
  QAction* recoverDeleted = nullptr;
  QAction* exit = nullptr;
  QAction* saveLog = nullptr;
  QAction* loadLog = nullptr;
  QAction* activityReport = nullptr;
  QAction* recoveryHistory = nullptr;
  QAction* clearActivityReport = nullptr;
  QAction* clearRecoveryHistory = nullptr;
  QAction* retryBadSector = nullptr;
  QAction* readGroupOfSectors = nullptr;
  QAction* activityReportPath = nullptr;
  QAction* recoveryHistoryPath = nullptr;
  QAction* saving = nullptr;
  QAction* toolbar = nullptr;
  QAction* largeIcons = nullptr;
  QAction* details = nullptr;
  QAction* smallIcons = nullptr;
  QAction* language = nullptr;
  QAction* toolTip = nullptr;
  QAction* online = nullptr;
  QAction* forums = nullptr;
  QAction* help = nullptr;
  QAction* aboutUs = nullptr;
};

// A step of the wizard shown in the page stack.
class WizardPage : public QWidget {
  Q_OBJECT
 public:
  WizardPage(MainWindow& window, int step);
  int step() const { return step_; }
  // Called each time the page comes on show (first show and after Back).
  virtual void entered();
  // Which items of the common menu this page offers; none for Step 1.
  virtual bool hasMenu() const { return true; }
  // The image creation page carries the second menu instead of the common one.
  virtual bool hasImagingMenu() const { return false; }
  virtual void updateMenu(WizardMenu& menu);
  // Menu commands that depend on the page.
  virtual void exhaustiveRecovery() {}
  virtual void recoverSelected() {}
  virtual void searchFiles() {}
  virtual void renameEntry() {}
  // Log menu: write the results to a search log, load one.
  virtual void saveLog() {}
  virtual void loadLog() {}
  virtual void savingUsingFilter();
  // The close box: true when the wizard may end.
  virtual bool confirmExit();

 protected:
  // The row of Help, Back and Next at the foot of a page ("back" and "next"
  // by object name); Help opens the help page. Back is left out when
  // withBack is false.
  struct ButtonRow {
    QHBoxLayout* layout;
    QPushButton* help;
    QPushButton* back;
    QPushButton* next;
  };
  ButtonRow addButtonRow(QVBoxLayout* pageLayout, bool withBack = true);
  // The head of a page: its title in bold, then the explanation, wrapped.
  // Returns the explanation's label.
  QLabel* addPageHeading(QVBoxLayout* pageLayout, const QString& title, const QString& explanation);
  // The picture of a page from the data folder, 96 by 96 at the top of its cell.
  QLabel* pagePicture(const QString& file);
  // A grid of `rows` property rows, a label and a selectable, wrapped value
  // ("value0", "value1", ... by object name), added to labels and values.
  QGridLayout* propertyGrid(int rows, std::vector<QLabel*>& labels, std::vector<QLabel*>& values);
  // The Log menu's file dialogs, shared by the pages that save or load a
  // search log. saveSearchLogAs asks where the log of the kind goes (".ST4":
  // the results; ".ST2C": the found file systems) and writes it with
  // writeSearchLog, which shows a refusal or a failed write with its
  // message. askSearchLogToLoad asks for a log of either kind; it returns an
  // empty path when the user cancels.
  void saveSearchLogAs(SearchLogKind kind);
  void writeSearchLog(const QString& path, SearchLogKind kind);
  QString askSearchLogToLoad();

  MainWindow& window_;
  int step_;
};

struct WizardOptions {
  // The disks offered in Step 1; tests give none so that no disk of the
  // machine is ever touched.
  std::function<std::vector<DeviceInfo>()> devices;
  std::string initialImage;  // an image chosen at start (make run)
  std::string codePage = "CP850";
  // Opens a document or web page (help, reports, previews); by default
  // QDesktopServices. Tests record the URLs instead.
  std::function<void(const QUrl&)> openUrl;
  // Wraps each source Step 1 opens (tests put a gate in front of a fixture).
  std::function<std::unique_ptr<SectorSource>(std::unique_ptr<SectorSource>)> wrapSource;
  // Free bytes on the volume holding a folder, for the raw saving path and
  // the image destination; by default the file system is asked. Tests make
  // a destination look full.
  std::function<std::optional<std::uint64_t>(const std::filesystem::path&)> freeSpace;
  // Starts a program on a file (the result browser's Open With); by default
  // QProcess::startDetached. Tests record the command instead.
  std::function<bool(const QString& program, const QStringList& arguments)> startProgram;
  // Where the applications' desktop files are looked up (Open With); by
  // default the XDG data folders.
  QStringList applicationFolders;
};

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  MainWindow(Session& session, WizardOptions options, QWidget* parent = nullptr);
  ~MainWindow() override;

  Session& session() { return session_; }
  GuiPrompter& prompter() { return *prompter_; }
  const WizardOptions& options() const { return options_; }
  QTabWidget* tabs() const { return tabs_; }
  DesktopRecovery* desktopPage() const { return desktop_; }
  ImageRecovery* imagePage() const { return image_; }
  RawRecovery* rawPage() const { return raw_; }
  WizardMenu& menu() { return menu_; }
  ImagingMenu& imagingMenu() { return imagingMenu_; }

  // Page stack.
  void push(WizardPage* page);
  void pop();
  // Pops pages until the page on top has this step.
  void popTo(int step);
  // Replaces the page on top by another.
  void replaceTop(WizardPage* page);
  WizardPage* currentPage() const;
  // Whether a page of this step is in the stack.
  bool hasPage(int step) const;
  int depth() const;

  // The caption with its mode suffix on every window.
  void setModeCaption(const QString& suffix);
  QString caption() const;

  // Menu commands that any page offers.
  void viewReport(LogKind kind);
  void clearReport(LogKind kind);
  void changeReportPath(LogKind kind);
  void openSettings();
  void openHelp();
  void showAbout();
  void openSupport(const QString& what);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenu();
  void buildImagingMenu();
  DiskSelectionPage* tabPage(int index) const;
  void tabChanged(int index);
  void pageShown();

  Session& session_;
  WizardOptions options_;
  GuiPrompter* prompter_;
  QStackedWidget* stack_;
  QTabWidget* tabs_;
  DesktopRecovery* desktop_;
  ImageRecovery* image_;
  RawRecovery* raw_;
  WizardMenu menu_;
  std::vector<QMenu*> commonMenus_;
  ImagingMenu imagingMenu_;
  QMenu* systemMenu_ = nullptr;
};

// The data folder's file as a URL (help, artwork).
QString dataFile(const Session& session, const QString& name);

}  // namespace dravolin::ui
