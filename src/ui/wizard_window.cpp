#include "ui/wizard_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/log_operations.h"
#include "app/search_log_operations.h"
#include "app/wizard_messages.h"
#include "ui/log_path_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/step1_page.h"

namespace dravolin::ui {

std::vector<QAction*> WizardMenu::all() const {
  return {exhaustiveRecovery, recoverSelected, searchFiles, rename, exit, saveLog, loadLog,
          activityReport, recoveryHistory, clearActivityReport, clearRecoveryHistory, activityReportPath,
          recoveryHistoryPath, savingUsingFilter, largeIcons, details, smallIcons, online, forums, help, aboutUs};
}

QString dataFile(const Session& session, const QString& name) {
  return QString::fromStdString((session.dataFolder() / name.toStdString()).string());
}

// ---- WizardPage

WizardPage::WizardPage(MainWindow& window, int step) : window_(window), step_(step) {}

WizardPage::ButtonRow WizardPage::addButtonRow(QVBoxLayout* pageLayout, bool withBack) {
  const MessageCatalog& texts = window_.session().messages();
  auto* buttons = new QHBoxLayout;
  auto* help = new QPushButton(QString::fromStdString(texts.text(61, "&Help")), this);
  QPushButton* backButton = nullptr;
  auto* nextButton = new QPushButton(QString::fromStdString(texts.text(0, "&Next >")), this);
  nextButton->setObjectName(QStringLiteral("next"));
  nextButton->setDefault(true);
  buttons->addWidget(help);
  buttons->addStretch(1);
  if (withBack) {
    backButton = new QPushButton(QString::fromStdString(texts.text(1, "< &Back")), this);
    backButton->setObjectName(QStringLiteral("back"));
    buttons->addWidget(backButton);
  }
  buttons->addWidget(nextButton);
  pageLayout->addLayout(buttons);
  connect(help, &QPushButton::clicked, &window_, &MainWindow::openHelp);
  return {buttons, help, backButton, nextButton};
}

QLabel* WizardPage::addPageHeading(QVBoxLayout* pageLayout, const QString& title, const QString& explanation) {
  pageLayout->addWidget(new QLabel(QStringLiteral("<b>%1</b>").arg(title), this));
  auto* label = new QLabel(explanation, this);
  label->setWordWrap(true);
  pageLayout->addWidget(label);
  return label;
}

QLabel* WizardPage::pagePicture(const QString& file) {
  auto* picture = new QLabel(this);
  picture->setPixmap(QIcon(dataFile(window_.session(), file)).pixmap(96, 96));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  return picture;
}

void WizardPage::saveSearchLogAs(SearchLogKind kind) {
  const QString filter =
      kind == SearchLogKind::Results ? QStringLiteral("Search logs (*.St4)") : QStringLiteral("Search logs (*.St2c)");
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Log"), QString(), filter);
  if (path.isNull()) return;  // cancelled
  writeSearchLog(path, kind);
}

void WizardPage::writeSearchLog(const QString& path, SearchLogKind kind) {
  auto saved = saveSearchLog(window_.session(), path.toStdString(), kind);
  if (!saved) window_.prompter().inform(saved.error().message);
}

QString WizardPage::askSearchLogToLoad() {
  return QFileDialog::getOpenFileName(this, QStringLiteral("Load Log"), QString(),
                                      QStringLiteral("Search logs (*.St4 *.St2c)"));
}

QGridLayout* WizardPage::propertyGrid(int rows, std::vector<QLabel*>& labels, std::vector<QLabel*>& values) {
  auto* grid = new QGridLayout;
  for (int i = 0; i < rows; ++i) {
    auto* label = new QLabel(this);
    auto* value = new QLabel(this);
    value->setObjectName(QStringLiteral("value%1").arg(i));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setWordWrap(true);
    grid->addWidget(label, i, 0);
    grid->addWidget(value, i, 1);
    labels.push_back(label);
    values.push_back(value);
  }
  grid->setColumnStretch(1, 1);
  return grid;
}

void WizardPage::entered() { window_.session().state.CurrentStep = step_; }

void WizardPage::updateMenu(WizardMenu& menu) {
  for (QAction* action : menu.all()) action->setEnabled(true);
  menu.exhaustiveRecovery->setEnabled(false);
  menu.recoverSelected->setEnabled(false);
  menu.searchFiles->setEnabled(false);
  menu.rename->setEnabled(false);
  menu.saveLog->setEnabled(false);
  menu.loadLog->setEnabled(false);  // Step 2 loads logs, Step 4 saves them
}

void WizardPage::savingUsingFilter() { window_.openSettings(); }

bool WizardPage::confirmExit() { return window_.prompter().askYesNo(msg::kExitQuestion); }

// ---- pages of the other modes

namespace {

class ModePage : public QWidget {
 public:
  ModePage(const QString& text, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("notAvailable"));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
  }
};

}  // namespace

// ---- MainWindow

MainWindow::MainWindow(Session& session, WizardOptions options, QWidget* parent)
    : QMainWindow(parent),
      session_(session),
      options_(std::move(options)),
      prompter_(new GuiPrompter(this)),
      stack_(new QStackedWidget(this)),
      tabs_(new QTabWidget(this)) {
  setObjectName(QStringLiteral("MainWindow"));
  if (!options_.openUrl) options_.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  setWindowIcon(QIcon(dataFile(session_, QStringLiteral("dravolin.svg"))));
  buildMenu();

  desktop_ = new DesktopRecovery(*this);
  tabs_->setObjectName(QStringLiteral("modeTabs"));
  tabs_->addTab(desktop_, QStringLiteral("&Desktop Recovery"));
  image_ = new ImageRecovery(*this);
  raw_ = new RawRecovery(*this);
  tabs_->addTab(image_, QStringLiteral("&Image Recovery"));
  tabs_->addTab(new ModePage(QStringLiteral("Remote Recovery is not available on this system."), tabs_),
                QStringLiteral("R&emote Recovery"));
  tabs_->addTab(raw_, QStringLiteral("Ra&w Recovery"));
  auto* about = new QPushButton(QStringLiteral("&About Dravolin"), tabs_);
  about->setObjectName(QStringLiteral("about"));
  about->setFlat(true);
  connect(about, &QPushButton::clicked, this, &MainWindow::showAbout);
  tabs_->setCornerWidget(about, Qt::TopRightCorner);
  connect(tabs_, &QTabWidget::currentChanged, this, &MainWindow::tabChanged);

  stack_->addWidget(tabs_);
  setCentralWidget(stack_);
  session_.state.caption = std::string(kApplicationTitle) + " - Desktop Recovery";
  session_.state.CurrentStep = 1;
  setModeCaption(QStringLiteral(" - Desktop Recovery"));
  pageShown();
  resize(860, 600);
}

MainWindow::~MainWindow() {
  // Pages above the tabs end their workers before the session goes.
  while (stack_->count() > 1) {
    QWidget* top = stack_->widget(stack_->count() - 1);
    stack_->removeWidget(top);
    delete top;
  }
}

void MainWindow::buildMenu() {
  auto add = [this](QMenu* menu, const char* text, QKeySequence shortcut = {}) {
    QAction* action = menu->addAction(QString::fromUtf8(text));
    if (!shortcut.isEmpty()) {
      action->setShortcut(shortcut);
      action->setShortcutContext(Qt::WindowShortcut);
    }
    return action;
  };
  // The menus belong to the window; the bar shows the set of the page on show.
  auto addMenu = [this](const char* title) {
    auto* menu = new QMenu(QString::fromUtf8(title), this);
    commonMenus_.push_back(menu);
    menuBar()->addMenu(menu);
    return menu;
  };
  QMenu* options = addMenu("&Options");
  menu_.exhaustiveRecovery = add(options, "Ex&haustive Recovery");
  menu_.recoverSelected = add(options, "&Recover Selected", QKeySequence(Qt::Key_F5));
  menu_.searchFiles = add(options, "&Search File / Folder", QKeySequence(Qt::Key_F3));
  menu_.rename = add(options, "R&ename File/Folder", QKeySequence(Qt::Key_F2));
  options->addSeparator();
  menu_.exit = add(options, "E&xit");
  QMenu* log = addMenu("&Log");
  menu_.saveLog = add(log, "&Save Log");
  menu_.loadLog = add(log, "L&oad Log");
  QMenu* report = addMenu("&Report");
  menu_.activityReport = add(report, "&Activity Report");
  menu_.recoveryHistory = add(report, "Recovery &History");
  report->addSeparator();
  menu_.clearActivityReport = add(report, "&Clear Activity Report");
  menu_.clearRecoveryHistory = add(report, "Clear Recovery &History");
  QMenu* settings = addMenu("&Settings");
  menu_.activityReportPath = add(settings, "&Change &Activity Report Path");
  menu_.recoveryHistoryPath = add(settings, "Change &Recovery History Path");
  menu_.savingUsingFilter = add(settings, "&Saving Using Filter", QKeySequence(Qt::Key_F6));
  QMenu* view = addMenu("&View");
  menu_.largeIcons = add(view, "Large I&cons");
  menu_.details = add(view, "&Details");
  menu_.smallIcons = add(view, "&Small Icons");
  for (QAction* a : {menu_.largeIcons, menu_.details, menu_.smallIcons}) a->setCheckable(true);
  menu_.details->setChecked(true);
  QMenu* support = addMenu("S&upport");
  menu_.online = add(support, "&Online");
  menu_.forums = add(support, "&Forums");
  menu_.help = add(support, "&Help", QKeySequence(Qt::Key_F1));
  menu_.aboutUs = add(support, "&About Us");

  auto onPage = [this](void (WizardPage::*command)()) {
    return [this, command] {
      if (WizardPage* page = currentPage()) (page->*command)();
    };
  };
  connect(menu_.exhaustiveRecovery, &QAction::triggered, this, onPage(&WizardPage::exhaustiveRecovery));
  connect(menu_.recoverSelected, &QAction::triggered, this, onPage(&WizardPage::recoverSelected));
  connect(menu_.searchFiles, &QAction::triggered, this, onPage(&WizardPage::searchFiles));
  connect(menu_.rename, &QAction::triggered, this, onPage(&WizardPage::renameEntry));
  connect(menu_.savingUsingFilter, &QAction::triggered, this, onPage(&WizardPage::savingUsingFilter));
  connect(menu_.saveLog, &QAction::triggered, this, onPage(&WizardPage::saveLog));
  connect(menu_.loadLog, &QAction::triggered, this, onPage(&WizardPage::loadLog));
  connect(menu_.exit, &QAction::triggered, this, &QWidget::close);
  connect(menu_.activityReport, &QAction::triggered, this, [this] { viewReport(LogKind::Activity); });
  connect(menu_.recoveryHistory, &QAction::triggered, this, [this] { viewReport(LogKind::Recovery); });
  connect(menu_.clearActivityReport, &QAction::triggered, this, [this] { clearReport(LogKind::Activity); });
  connect(menu_.clearRecoveryHistory, &QAction::triggered, this, [this] { clearReport(LogKind::Recovery); });
  connect(menu_.activityReportPath, &QAction::triggered, this, [this] { changeReportPath(LogKind::Activity); });
  connect(menu_.recoveryHistoryPath, &QAction::triggered, this, [this] { changeReportPath(LogKind::Recovery); });
  connect(menu_.online, &QAction::triggered, this, [this] { openSupport(QStringLiteral("online")); });
  connect(menu_.forums, &QAction::triggered, this, [this] { openSupport(QStringLiteral("forums")); });
  connect(menu_.help, &QAction::triggered, this, &MainWindow::openHelp);
  connect(menu_.aboutUs, &QAction::triggered, this, &MainWindow::showAbout);
  auto* views = new QActionGroup(this);
  for (QAction* a : {menu_.largeIcons, menu_.details, menu_.smallIcons}) views->addAction(a);
  buildImagingMenu();
}

void MainWindow::buildImagingMenu() {
  ImagingMenu& m = imagingMenu_;
  auto addMenu = [this, &m](QMenu* parent, const char* title) {
    auto* menu = parent ? parent->addMenu(QString::fromUtf8(title)) : new QMenu(QString::fromUtf8(title), this);
    if (!parent) m.menus.push_back(menu);
    return menu;
  };
  auto add = [](QMenu* menu, const char* text) { return menu->addAction(QString::fromUtf8(text)); };
  QMenu* options = addMenu(nullptr, "&Options");
  m.recoverSelected = add(options, "Recover &Selected");
  m.recoverDeleted = add(options, "Recover &Deleted Files");
  options->addSeparator();
  m.exit = add(options, "E&xit");
  QMenu* log = addMenu(nullptr, "&Log");
  m.saveLog = add(log, "&Save Log");
  m.loadLog = add(log, "L&oad Log");
  QMenu* report = addMenu(log, "&Report");
  m.activityReport = add(report, "&Activity Report");
  m.recoveryHistory = add(report, "Recovery &History");
  m.clearActivityReport = add(report, "&Clear Activity Report");
  m.clearRecoveryHistory = add(report, "Clear Recovery &History");
  QMenu* settings = addMenu(nullptr, "&Settings");
  QMenu* general = addMenu(settings, "General");
  m.retryBadSector = add(general, "&Retry Bad Sector");
  m.readGroupOfSectors = add(general, "Read &Group of Sectors");
  QMenu* logPaths = addMenu(settings, "Log");
  m.activityReportPath = add(logPaths, "&Change &Activity Report Path");
  m.recoveryHistoryPath = add(logPaths, "Change &Recovery History Path");
  m.saving = add(settings, "&Saving");
  QMenu* view = addMenu(nullptr, "&View");
  m.toolbar = add(view, "&Toolbar");
  m.largeIcons = add(view, "Large I&cons");
  m.details = add(view, "&Details");
  m.smallIcons = add(view, "Small Icons");
  m.language = add(view, "L&anguage");
  m.toolTip = add(view, "T&ool Tip");
  QMenu* support = addMenu(nullptr, "&Support");
  m.online = add(support, "&Online");
  m.forums = add(support, "&Forums");
  m.help = add(support, "&Help");
  m.aboutUs = add(support, "&About Us");

  // What the imaging page does not offer: selections, logs of a search, views.
  for (QAction* a : {m.recoverSelected, m.recoverDeleted, m.saveLog, m.loadLog, m.toolbar, m.largeIcons, m.details,
                     m.smallIcons, m.language, m.toolTip})
    a->setEnabled(false);
  // The bad-sector policy: retry sector by sector, or skip the group of
  // sectors that failed.
  auto* policy = new QActionGroup(this);
  for (QAction* a : {m.retryBadSector, m.readGroupOfSectors}) {
    a->setCheckable(true);
    policy->addAction(a);
  }
  m.retryBadSector->setChecked(true);
  connect(m.retryBadSector, &QAction::triggered, this, [this] {
    if (session_.reader()) session_.reader()->setPolicy(BadSectorPolicy::Retry);
  });
  connect(m.readGroupOfSectors, &QAction::triggered, this, [this] {
    if (session_.reader()) session_.reader()->setPolicy(BadSectorPolicy::Skip);
  });
  connect(m.exit, &QAction::triggered, this, &QWidget::close);
  connect(m.activityReport, &QAction::triggered, this, [this] { viewReport(LogKind::Activity); });
  connect(m.recoveryHistory, &QAction::triggered, this, [this] { viewReport(LogKind::Recovery); });
  connect(m.clearActivityReport, &QAction::triggered, this, [this] { clearReport(LogKind::Activity); });
  connect(m.clearRecoveryHistory, &QAction::triggered, this, [this] { clearReport(LogKind::Recovery); });
  connect(m.activityReportPath, &QAction::triggered, this, [this] { changeReportPath(LogKind::Activity); });
  connect(m.recoveryHistoryPath, &QAction::triggered, this, [this] { changeReportPath(LogKind::Recovery); });
  connect(m.saving, &QAction::triggered, this, &MainWindow::openSettings);
  connect(m.online, &QAction::triggered, this, [this] { openSupport(QStringLiteral("online")); });
  connect(m.forums, &QAction::triggered, this, [this] { openSupport(QStringLiteral("forums")); });
  connect(m.help, &QAction::triggered, this, &MainWindow::openHelp);
  connect(m.aboutUs, &QAction::triggered, this, &MainWindow::showAbout);
}

DiskSelectionPage* MainWindow::tabPage(int index) const {
  if (index == 0) return desktop_;
  if (index == 1) return image_;
  if (index == 3) return raw_;
  return nullptr;
}

void MainWindow::tabChanged(int index) {
  static const char* const suffixes[] = {" - Desktop Recovery", " - Image Recovery", " - Remote Recovery",
                                         " - Raw Recovery"};
  if (index < 0 || index > 3) return;
  setModeCaption(QString::fromUtf8(suffixes[index]));
  // Remote Recovery leaves CurrentStep as it was.
  if (DiskSelectionPage* page = tabPage(index)) page->entered();
}

void MainWindow::setModeCaption(const QString& suffix) {
  session_.state.caption = std::string(kApplicationTitle) + suffix.toStdString();
  prompter_->setCaption(caption());
  setWindowTitle(caption());
}

QString MainWindow::caption() const { return QString::fromStdString(session_.state.caption); }

void MainWindow::push(WizardPage* page) {
  stack_->addWidget(page);
  stack_->setCurrentWidget(page);
  pageShown();
}

void MainWindow::pop() {
  if (stack_->count() <= 1) return;
  QWidget* top = stack_->widget(stack_->count() - 1);
  stack_->removeWidget(top);
  top->deleteLater();
  stack_->setCurrentIndex(stack_->count() - 1);
  pageShown();
}

void MainWindow::popTo(int step) {
  while (stack_->count() > 1 && currentPage() && currentPage()->step() != step) {
    QWidget* top = stack_->widget(stack_->count() - 1);
    stack_->removeWidget(top);
    top->deleteLater();
  }
  stack_->setCurrentIndex(stack_->count() - 1);
  pageShown();
}

void MainWindow::replaceTop(WizardPage* page) {
  QWidget* top = stack_->widget(stack_->count() - 1);
  stack_->addWidget(page);
  stack_->setCurrentWidget(page);
  if (top != tabs_) {
    stack_->removeWidget(top);
    top->deleteLater();
  }
  pageShown();
}

bool MainWindow::hasPage(int step) const {
  for (int i = 0; i < stack_->count(); ++i)
    if (auto* page = qobject_cast<WizardPage*>(stack_->widget(i)); page && page->step() == step) return true;
  return false;
}

WizardPage* MainWindow::currentPage() const { return qobject_cast<WizardPage*>(stack_->currentWidget()); }

int MainWindow::depth() const { return stack_->count(); }

void MainWindow::pageShown() {
  WizardPage* page = currentPage();
  const bool withMenu = page && page->hasMenu();
  const bool imaging = withMenu && page->hasImagingMenu();
  menuBar()->clear();
  for (QMenu* m : imaging ? imagingMenu_.menus : commonMenus_) menuBar()->addMenu(m);
  menuBar()->setVisible(withMenu);
  for (QAction* action : menu_.all()) action->setEnabled(withMenu && !imaging);
  if (withMenu && !imaging) page->updateMenu(menu_);
  if (page) page->entered();
  else if (DiskSelectionPage* tab = tabPage(tabs_->currentIndex())) tab->entered();
  setWindowTitle(caption());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  WizardPage* page = currentPage();
  if (page && !page->confirmExit()) {
    event->ignore();
    return;
  }
  event->accept();
}

void MainWindow::viewReport(LogKind kind) {
  LogFile& log = kind == LogKind::Activity ? session_.activityLog() : session_.recoveryLog();
  if (auto file = viewLog(log, *prompter_)) options_.openUrl(QUrl::fromLocalFile(QString::fromStdString(file->string())));
}

void MainWindow::clearReport(LogKind kind) {
  clearLog(kind == LogKind::Activity ? session_.activityLog() : session_.recoveryLog(), *prompter_);
}

void MainWindow::changeReportPath(LogKind kind) {
  LogPath dialog(*this, kind);
  dialog.exec();
}

void MainWindow::openSettings() {
  Settings dialog(*this);
  dialog.exec();
}

void MainWindow::openHelp() { options_.openUrl(QUrl::fromLocalFile(dataFile(session_, QStringLiteral("help.html")))); }

void MainWindow::openSupport(const QString& what) {
  options_.openUrl(QUrl::fromLocalFile(dataFile(session_, QStringLiteral("help.html"))).resolved(QUrl(QStringLiteral("#") + what)));
}

void MainWindow::showAbout() {
  QMessageBox box(QMessageBox::Information, caption(),
                  QStringLiteral("%1\n%2\n\nRecovers deleted files and folders from FAT, NTFS and exFAT disks and disk images.")
                      .arg(QString::fromUtf8(kApplicationTitle), QString::fromUtf8(kVersionText)),
                  QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("About"));
  box.setIconPixmap(QIcon(dataFile(session_, QStringLiteral("dravolin.svg"))).pixmap(64, 64));
  box.exec();
}

}  // namespace dravolin::ui
