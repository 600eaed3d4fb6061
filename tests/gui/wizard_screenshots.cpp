// Opens every page and dialog of the wizard on the demo disk and saves a
// picture of each into the folder given (tests/screenshots.sh runs it under
// Xvfb).
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

#include "app/wizard_messages.h"
#include "gui/wizard_harness.h"
#include "ui/exhaustive_partition_info.h"
#include "ui/file_display.h"
#include "ui/image_creation_page.h"
#include "ui/raw_extension_page.h"
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

namespace fs = std::filesystem;

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

// The disks Step 1 lists in the pictures: files of the tests standing in
// for the disks of a machine, and a floppy drive that is never opened.
std::vector<DeviceInfo> pictureDisks() {
  DeviceInfo floppyDrive;
  floppyDrive.name = "Floppy Drive";
  floppyDrive.devicePath = "/dev/fd0";
  floppyDrive.mediaType = "Floppy";
  floppyDrive.sizeBytes = 1474560;
  floppyDrive.floppy = true;
  floppyDrive.number = 3;
  DeviceInfo spare = fixtureDisk(2, "/nonexistent/sdc", "WDC WD5000AAKX");
  spare.sizeBytes = 500107862016;
  spare.cylinders = spare.sizeBytes / 512 / 16065;
  return {fixtureDisk(0, fixturePath("demo.img"), "QEMU HARDDISK"),
          fixtureDisk(1, fixturePath("carving/carving.img"), "USB Flash Disk"), spare, floppyDrive};
}

TEST(Screenshots, EveryPageAndDialog) {
  WizardFixture f(pictureDisks());
  f.window->resize(960, 640);
  const fs::path applications = f.home.path() / "applications";
  fs::create_directories(applications);
  writeFile(applications / "editor.desktop",
            "[Desktop Entry]\nType=Application\nName=Text Editor\nExec=gnome-text-editor %U\nMimeType=text/plain;\n");
  writeFile(applications / "office.desktop",
            "[Desktop Entry]\nType=Application\nName=LibreOffice Writer\nExec=libreoffice --writer %U\n"
            "MimeType=text/plain;application/msword;\n");
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

  if (auto hello = tree.findFile("/hello.txt")) {
    grabThen(script, "OpenWith", "20-open-with", [](QDialog* d) { d->reject(); });
    step4->openWith(hello->file);
    ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
  }

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

// Raw Recovery and Image Recovery, each from Step 1 to its end.
TEST(Screenshots, RawAndImageRecovery) {
  WizardFixture f(pictureDisks());
  f.window->resize(960, 640);
  DialogScript script;
  TempDir out;

  // Raw Recovery on the second disk.
  f.window->tabs()->setCurrentIndex(3);
  auto* raw1 = f.window->rawPage();
  raw1->driveTree()->setCurrentItem(raw1->disksNode()->child(1));
  save(f.window.get(), "21-step1-raw-recovery");
  raw1->next();
  auto* step2 = f.page<ui::PartitionInfo>();
  ASSERT_NE(step2, nullptr);
  save(f.window.get(), "22-step2-partitioninfo-raw");
  step2->next();
  ASSERT_NE(f.page<ui::PartitionRange>(), nullptr);
  f.page<ui::PartitionRange>()->fileSystem()->setCurrentIndex(3);
  save(f.window.get(), "23-step2a-partitionrange-raw");
  f.page<ui::PartitionRange>()->next();
  auto* extensions = f.page<ui::RawDefaultExtension>();
  ASSERT_NE(extensions, nullptr);
  extensions->tick({QStringLiteral("JPEG"), QStringLiteral("PDF"), QStringLiteral("PNG")});
  save(f.window.get(), "24-step2b-rawdefaultextension");
  f.gate->gateSector = 1000;
  f.gate->open = false;
  f.gate->armed = true;
  grabThen(script, "SavingPath", "25-raw-savingpath", [&](QDialog* d) {
    d->findChild<QLineEdit*>(QStringLiteral("destination"))->setText(QString::fromStdString((out.path() / "raw").string()));
    clickDialogButton(d, QStringLiteral("OK"));
  });
  script.expect(QStringLiteral("MessagesInfo"), [](QDialog* d) {
    QTimer::singleShot(150, d, [d] {
      save(d, "27-raw-completed");
      d->accept();
    });
  });
  extensions->next();
  ASSERT_TRUE(waitUntil([&] { return f.gate->waiting.load() > 0; }));
  QTest::qWait(1200);
  save(f.window.get(), "26-step3-raw-searchprogress");
  f.gate->release();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget() && f.page<ui::RawDefaultExtension>(); }));
  f.window->popTo(-1);

  // Image Recovery of the first disk.
  f.gate->armed = false;
  f.window->tabs()->setCurrentIndex(1);
  auto* image1 = f.window->imagePage();
  image1->driveTree()->setCurrentItem(image1->disksNode()->child(0));
  save(f.window.get(), "28-step1-image-recovery");
  image1->next();
  ASSERT_NE(f.page<ui::PartitionInfo>(), nullptr);
  save(f.window.get(), "29-step2-partitioninfo-image");
  f.page<ui::PartitionInfo>()->next();
  ASSERT_NE(f.page<ui::PartitionRange>(), nullptr);
  f.page<ui::PartitionRange>()->next();
  auto* imaging = f.page<ui::ImageCreation>();
  ASSERT_NE(imaging, nullptr);
  imaging->destination()->setText(QString::fromStdString((out.path() / "Image.img").string()));
  imaging->multiFile()->setChecked(true);
  save(f.window.get(), "30-step2b-imagecreation-image");
  imaging->type()->setCurrentIndex(1);
  imaging->targetDisk()->setCurrentIndex(2);
  save(f.window.get(), "31-step2b-imagecreation-disk");
  grabThen(script, "QuestionMessage", "32-target-disk-question", [](QDialog* d) { clickDialogButton(d, QStringLiteral("No")); });
  imaging->next();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
  imaging->type()->setCurrentIndex(0);
  f.gate->gateSector = 4000;
  f.gate->open = false;
  f.gate->armed = true;
  script.expect(QStringLiteral("MessagesInfo"), [](QDialog* d) {
    QTimer::singleShot(150, d, [d] {
      save(d, "34-image-completed");
      d->accept();
    });
  });
  imaging->next();
  ASSERT_TRUE(waitUntil([&] { return f.gate->waiting.load() > 0; }));
  QTest::qWait(1200);
  save(f.window.get(), "33-step3-imaging");
  f.gate->release();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget() && f.page<ui::ImageCreation>(); }));
  EXPECT_TRUE(script.unexpected.empty()) << (script.unexpected.empty() ? "" : script.unexpected.front().toStdString());
}

// The search for lost partitions on the disk whose partition tables are
// gone: Step 2 with "Search Exhaustive", the range, the scan pass, the list
// of found file systems (Step 2 (c)), and a range where nothing is found.
TEST(Screenshots, SearchForLostPartitions) {
  WizardFixture f;
  f.window->resize(960, 640);
  DialogScript script;
  const std::string image = "damaged/mbr-lost-tables.img";
  f.toStep2(image);
  auto* step2 = f.page<ui::PartitionInfo>();
  step2->searchExhaustive()->setChecked(true);
  save(f.window.get(), "35-step2-partitioninfo-search-exhaustive");
  step2->next();
  auto* range = f.page<ui::PartitionRange>();
  ASSERT_NE(range, nullptr);
  range->startEdit()->setText(QStringLiteral("0"));
  range->endEdit()->setText(QString::number(fs::file_size(fixturePath(image)) / 512));
  range->fileSystem()->setCurrentIndex(1);
  save(f.window.get(), "36-step2a-partitionrange-lost");
  f.gate->gateSector = 60000;
  f.gate->open = false;
  f.gate->armed = true;
  range->next();
  ASSERT_TRUE(waitUntil([&] { return f.gate->waiting.load() > 0; }));
  QTest::qWait(1200);
  save(f.window.get(), "37-step3-lost-searchprogress");
  f.gate->release();
  ASSERT_TRUE(waitUntil([&] { return f.page<ui::ExhaustivePartitionInfo>() != nullptr; }));
  f.gate->armed = false;
  ASSERT_TRUE(f.page<ui::ExhaustivePartitionInfo>()->selectFileSystem(2));
  save(f.window.get(), "38-step2c-exhaustivepartitioninfo");

  // Back to the range: sectors 0 to 2047 hold only the wiped table.
  f.window->pop();
  range = f.page<ui::PartitionRange>();
  ASSERT_NE(range, nullptr);
  range->endEdit()->setText(QStringLiteral("2048"));
  grabThen(script, "MessagesInfo", "39-step2c-nothing-found", [](QDialog* d) { d->accept(); });
  range->next();
  ASSERT_TRUE(waitUntil([&] {
    return f.page<ui::ExhaustivePartitionInfo>() != nullptr && script.done() && !QApplication::activeModalWidget();
  }));
  save(f.window.get(), "40-step2c-empty");
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
