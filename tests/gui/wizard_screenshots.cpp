// Opens every page and dialog of the wizard on the demo disk and saves a
// picture of each into the folder given (tests/screenshots.sh runs it under
// Xvfb).
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "app/wizard_messages.h"
#include "gui/wizard_harness.h"
#include "ui/file_display.h"
#include "ui/log_path_dialog.h"
#include "ui/message_dialogs.h"
#include "ui/name_search_dialog.h"
#include "ui/partition_pages.h"
#include "ui/result_models.h"
#include "ui/search_progress.h"
#include "ui/settings_dialog.h"
#include "ui/step1_page.h"

namespace dravolin::test {
namespace {

QString outputFolder;

void save(QWidget* widget, const char* name) {
  widget->activateWindow();
  QApplication::processEvents();  // the picture needs the layout done; this tool is no part of the wizard
  const QString file = outputFolder + QLatin1Char('/') + QString::fromUtf8(name) + QStringLiteral(".png");
  if (!widget->grab().save(file)) ADD_FAILURE() << "cannot write " << file.toStdString();
}

// Grabs a dialog when it opens, then acts on it.
void grabThen(DialogScript& script, const char* dialog, const char* name, std::function<void(QDialog*)> act) {
  script.expect(QString::fromUtf8(dialog), [name, act = std::move(act)](QDialog* d) {
    QTimer::singleShot(150, d, [d, name, act] {
      save(d, name);
      act(d);
    });
  });
}

TEST(Screenshots, EveryPageAndDialog) {
  WizardFixture f;
  f.window->resize(960, 640);
  DialogScript script;

  ASSERT_TRUE(f.window->desktopPage()->chooseImage(QString::fromStdString(fixturePath("demo.img").string())));
  save(f.window.get(), "01-step1-desktop-recovery");
  f.window->tabs()->setCurrentIndex(2);
  save(f.window.get(), "02-remote-recovery-tab");
  f.window->tabs()->setCurrentIndex(0);

  grabThen(script, "About", "03-about", [](QDialog* d) { d->accept(); });
  f.window->showAbout();

  grabThen(script, "MessagesInfo", "04-messagesinfo", [](QDialog* d) { d->accept(); });
  f.window->desktopPage()->driveTree()->setCurrentItem(f.window->desktopPage()->driveTree()->topLevelItem(0));
  f.window->desktopPage()->next();
  ASSERT_TRUE(waitUntil([&] { return script.done(); }));

  f.toStep2("demo.img");
  auto* step2 = f.page<ui::PartitionInfo>();
  save(f.window.get(), "05-step2-partitioninfo-disk");
  step2->selectPartition(1);
  save(f.window.get(), "06-step2-partitioninfo-partition");
  step2->searchExhaustive()->setChecked(true);
  step2->findChild<QPushButton*>(QStringLiteral("next"))->click();
  save(f.window.get(), "07-step2a-partitionrange");
  f.page<ui::PartitionRange>()->findChild<QPushButton*>(QStringLiteral("back"))->click();
  step2->searchExhaustive()->setChecked(false);

  // Step 3, held at a gate while the pictures are taken.
  const auto& partition = f.session.listing().partitions.at(0);
  f.gate->gateSector = firstDataSector("demo.img", partition.start) + 8;
  f.gate->armed = true;
  f.startSearch();
  ASSERT_TRUE(waitUntil([&] { return f.gate->waiting.load() > 0; }));
  QTest::qWait(1200);
  save(f.window.get(), "08-step3-searchprogress");
  grabThen(script, "QuestionMessage", "09-questionmessage", [](QDialog* d) { clickDialogButton(d, QStringLiteral("No")); });
  f.page<ui::SearchProgress>()->findChild<QPushButton*>(QStringLiteral("stop"))->click();
  ASSERT_TRUE(waitUntil([&] { return script.done(); }));
  f.gate->release();
  f.waitForStep4(script);

  auto* step4 = f.page<ui::FileDisplay>();
  ResultTree& tree = *step4->resultTree();
  if (auto photos = tree.findFolder("/Photos")) {
    step4->showFolder(*photos);
    step4->setFolderChecked(*photos, true);
    ASSERT_TRUE(waitUntil([&] { return !step4->marking(); }));
  }
  save(f.window.get(), "10-step4-filedisplay");

  grabThen(script, "Settings", "11-settings", [](QDialog* d) { d->reject(); });
  f.window->openSettings();
  grabThen(script, "LogPath", "12-logpath", [](QDialog* d) { d->reject(); });
  f.window->changeReportPath(LogKind::Activity);

  grabThen(script, "FILE_SEARCH", "13-name-search", [&script](QDialog* d) {
    auto* search = static_cast<ui::FileSearchDialog*>(d);
    search->patternEdit()->setText(QStringLiteral("*.jpg"));
    search->startOrStop();
    QObject::connect(search, &ui::FileSearchDialog::searchEnded, d, [d] {
      QTimer::singleShot(100, d, [d] {
        save(d, "14-name-search-hits");
        d->reject();
      });
    });
    (void)script;
  });
  step4->searchFiles();

  // Saving: the destination, the replace question, the saving held at the gate.
  TempDir destination;
  grabThen(script, "SavingPath", "15-savingpath", [&](QDialog* d) {
    d->findChild<QLineEdit*>(QStringLiteral("destination"))->setText(QString::fromStdString(destination.path().string()));
    f.gate->open = false;
    f.gate->gateSector = firstDataSector("demo.img", partition.start);
    clickDialogButton(d, QStringLiteral("OK"));
  });
  script.expect(QStringLiteral("SavingDlg"), [&](QDialog* d) {
    QTimer::singleShot(400, d, [&, d] {
      save(d, "16-savingdlg");
      f.gate->release();
    });
  });
  script.answer(QStringLiteral("MessagesInfo"), true);
  step4->recoverSelected();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));

  // The dialogs workers ask through, shown on their own.
  ui::ReplaceFile replace(f.window->caption(), QStringLiteral("/home/user/Recovered/Photos/sunset.jpg"), f.window.get());
  replace.show();
  save(&replace, "17-replace-question");
  replace.close();
  ui::BadSectors bad(f.window.get());
  bad.show();
  save(&bad, "18-bad-sectors");
  bad.close();
  ui::FileCreation creation(QStringLiteral("/media/usb/Recovered/Photos/sunset.jpg : Permission denied"), f.window.get());
  creation.show();
  save(&creation, "19-file-creation");
  creation.close();
  EXPECT_TRUE(script.unexpected.empty()) << (script.unexpected.empty() ? "" : script.unexpected.front().toStdString());
}

}  // namespace
}  // namespace dravolin::test

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const QStringList args = QApplication::arguments();
  dravolin::test::outputFolder = args.size() > 1 ? args.last() : QStringLiteral("docs/screenshots");
  QDir().mkpath(dravolin::test::outputFolder);
  return RUN_ALL_TESTS();
}
