// The raw and image modes of the wizard, driven offscreen: the drive tree of
// each mode's Step 1 (disks, floppy drives, images), the raw path carving
// the carving fixture's JPEG and PDF files into the chosen folder, the image
// path writing one image, a 650 MiB piece series and a copy onto a loop
// device, and Open With on a file of the result browser.
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

#include "gui/wizard_harness.h"
#include "support/carving_manifest.h"
#include "ui/file_display.h"
#include "ui/image_creation_page.h"
#include "ui/open_with_dialog.h"
#include "ui/partition_pages.h"
#include "ui/raw_extension_page.h"
#include "ui/result_models.h"
#include "ui/search_progress.h"
#include "ui/step1_page.h"

namespace dravolin::test {
namespace {

namespace fs = std::filesystem;

DeviceInfo disk(std::uint32_t number, const fs::path& path, const std::string& model = "Test Disk") {
  return fixtureDisk(number, path, model);
}

DeviceInfo floppy(const std::string& path, std::uint32_t number) {
  DeviceInfo d;
  d.number = number;
  d.name = "Floppy Drive";
  d.devicePath = path;
  d.mediaType = "Floppy";
  d.sizeBytes = 1474560;
  d.floppy = true;
  return d;
}

// The nodes of a drive tree: top-level texts, with the children of each in brackets.
std::string treeText(QTreeWidget* tree) {
  std::string out;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = tree->topLevelItem(i);
    if (!out.empty()) out += " | ";
    out += top->text(0).toStdString();
    if (top->childCount() == 0) continue;
    out += " [";
    for (int c = 0; c < top->childCount(); ++c) out += (c ? ", " : "") + top->child(c)->text(0).toStdString();
    out += "]";
  }
  return out;
}

ui::DiskSelectionPage* showTab(WizardFixture& f, int tab) {
  f.window->tabs()->setCurrentIndex(tab);
  return qobject_cast<ui::DiskSelectionPage*>(f.window->tabs()->currentWidget());
}

TEST(DriveTree, EachModeShowsItsNodes) {
  const fs::path image = fixturePath("fat16.img");
  struct Case {
    const char* name;
    int tab;
    std::vector<DeviceInfo> devices;
    std::string nodes;
    int selectRow;  // top-level row chosen after the listing, -1 none
    std::string selectedText;
  };
  const std::vector<Case> cases = {
      {"Desktop, no disk", 0, {}, "Select Disk | Select Image", -1, ""},
      {"Desktop, two disks and a floppy drive", 0,
       {disk(0, image), disk(1, image), floppy("/dev/fd0", 2)},
       "Select Disk [Disk0, Disk1] | Floppy Drive | Select Image", 1, "Floppy Drive"},
      {"Raw, a disk and two floppy drives", 3,
       {disk(0, image), floppy("/dev/fd0", 1), floppy("/dev/fd1", 1)},
       "Select Disk [Disk0] | Floppy Drive (/dev/fd0) | Floppy Drive (/dev/fd1)", 2, "Floppy Drive"},
      {"Image, a disk", 1, {disk(0, image)}, "Select Disk [Disk0]", -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WizardFixture f(c.devices);
    ui::DiskSelectionPage* page = showTab(f, c.tab);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(treeText(page->driveTree()), c.nodes);
    EXPECT_EQ(f.session.state.CurrentStep, c.tab == 0 ? 1 : c.tab == 1 ? 6 : 9);
    if (c.selectRow < 0) continue;
    page->driveTree()->setCurrentItem(page->driveTree()->topLevelItem(c.selectRow));
    EXPECT_EQ(f.session.state.selectedDeviceText, c.selectedText);
    EXPECT_EQ(f.session.state.selectedDeviceText.rfind("Floppy", 0), 0u) << "a floppy's text begins with Floppy";
    QStringList rows;
    for (int i = 0; i < page->deviceInformation()->count(); ++i) rows << page->deviceInformation()->item(i)->text();
    EXPECT_TRUE(rows.contains(QStringLiteral("Media Type   : Floppy"))) << rows.join(QLatin1Char('|')).toStdString();
  }
}

TEST(DriveTree, AFolderOfFloppyImagesOpensAsOneImage) {
  WizardFixture f;
  const fs::path folder = fixturePath("damaged/floppy-image-set");
  ASSERT_TRUE(f.window->desktopPage()->chooseImage(QString::fromStdString(folder.string())));
  QTreeWidgetItem* node = f.window->desktopPage()->driveTree()->currentItem();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(fs::path(node->text(0).toStdString()).filename(), "image0.img");
  EXPECT_EQ(f.session.device().sizeBytes, 2u * 1474560);
  f.window->desktopPage()->next();
  ASSERT_NE(f.page<ui::PartitionInfo>(), nullptr);
  EXPECT_EQ(f.session.state.CurrentStep, 2);
}


void toStep2b(WizardFixture& f, int tab) { f.toStep2b(tab); }

TEST(RawRecoveryPath, CarvesTheJpegAndPdfFilesIntoTheChosenFolder) {
  const fs::path image = fixturePath("carving/carving.img");
  WizardFixture f({disk(0, image)});
  DialogScript script;
  toStep2b(f, 3);
  auto* raw = f.page<ui::RawDefaultExtension>();
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(f.session.state.CurrentStep, 10);
  EXPECT_EQ(f.session.state.RecoveryMode, kRawRecoverySearch);
  ASSERT_EQ(raw->extensions()->rowCount(), 28);
  raw->tick({QStringLiteral("JPEG"), QStringLiteral("PDF")});

  TempDir out;
  const fs::path destination = out.path() / "carved";
  script.expect(QStringLiteral("SavingPath"), [&](QDialog* d) {
    d->findChild<QLineEdit*>(QStringLiteral("destination"))->setText(QString::fromStdString(destination.string()));
    clickDialogButton(d, QStringLiteral("OK"));
  });
  QString valueLabel, countLabel;
  script.expect(QStringLiteral("MessagesInfo"), [&](QDialog* d) {
    if (auto* step3 = f.page<ui::SearchProgress>()) {
      valueLabel = step3->findChild<QLabel*>(QStringLiteral("valueLabel"))->text();
      countLabel = step3->findChild<QLabel*>(QStringLiteral("directoriesLabel"))->text();
    }
    d->accept();
  });
  raw->next();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget() && f.page<ui::RawDefaultExtension>(); }));
  EXPECT_TRUE(script.unexpected.empty()) << script.unexpected.front().toStdString();
  EXPECT_EQ(script.lastText(), QStringLiteral("Raw Saving Completed Successfully."));
  EXPECT_EQ(valueLabel, QStringLiteral("Current Sector            :-"));
  EXPECT_EQ(countLabel, QStringLiteral("Bytes Recovered    :-"));
  EXPECT_EQ(f.session.state.CurrentStep, 10) << "the extension page shows again";

  std::map<std::string, int> next;
  std::size_t expected = 0;
  for (const PlacedFile& p : readCarvingManifest(fixturePath("carving/carving.img.manifest.tsv"))) {
    if (p.carvedType != "JPEG" && p.carvedType != "PDF") continue;
    ++expected;
    const fs::path file = destination / p.carvedType / (std::to_string(next[p.carvedType]++) + "." + p.carvedType);
    ASSERT_TRUE(fs::exists(file)) << file;
    // The wizard cuts JPEG and PDF files at their formats' ends.
    EXPECT_EQ(fs::file_size(file), p.size) << file;
    EXPECT_EQ(sha256File(file), p.sha256) << file;
  }
  ASSERT_GE(expected, 3u);
  std::size_t written = 0;
  for (const auto& entry : fs::recursive_directory_iterator(destination))
    if (entry.is_regular_file()) ++written;
  EXPECT_EQ(written, expected) << "only the chosen types";
  EXPECT_NE(readFile(f.session.activityLog().path()).find("Raw Recovery for Selected Extensions : "), std::string::npos);

  // Back leaves raw recovery's search mode.
  raw->findChild<QPushButton*>(QStringLiteral("back"))->click();
  EXPECT_EQ(f.session.state.RecoveryMode, kRawRecovery);
  EXPECT_NE(f.page<ui::PartitionRange>(), nullptr);
}

// Runs the image creation page's Next and waits for the page to show again.
void runImaging(WizardFixture& f, DialogScript& script, const QString& expectedMessage) {
  script.answer(QStringLiteral("MessagesInfo"), true);
  f.page<ui::ImageCreation>()->next();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget() && f.page<ui::ImageCreation>(); },
                        300000));
  EXPECT_TRUE(script.unexpected.empty()) << script.unexpected.front().toStdString();
  EXPECT_EQ(script.lastText(), expectedMessage);
}

bool sameBytes(const fs::path& a, const fs::path& b, std::uint64_t offsetInB, std::uint64_t length) {
  std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
  right.seekg(static_cast<std::streamoff>(offsetInB));
  std::vector<char> x(1 << 20), y(1 << 20);
  while (length > 0) {
    const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(length, x.size()));
    left.read(x.data(), n);
    right.read(y.data(), n);
    if (left.gcount() != n || right.gcount() != n || !std::equal(x.begin(), x.begin() + n, y.begin())) return false;
    length -= static_cast<std::uint64_t>(n);
  }
  return true;
}

TEST(ImageRecoveryPath, ASingleImageAndAPieceSeriesAreByteIdenticalToTheSource) {
  TempDir work;
  // A source one sector longer than a 650 MiB piece, holding data at both
  // ends and sparse between them.
  const fs::path source = work.path() / "disk.img";
  const std::uint64_t sectors = 1331200 + 1;
  {
    std::ofstream out(source, std::ios::binary);
    std::string head(64 * 512, '\0'), tail(512, '\0');
    for (std::size_t i = 0; i < head.size(); ++i) head[i] = static_cast<char>(i * 7 + 3);
    for (std::size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<char>(255 - i);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    out.seekp(static_cast<std::streamoff>((sectors - 1) * 512));
    out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  }
  WizardFixture f({disk(0, source)});
  DialogScript script;
  toStep2b(f, 1);
  auto* page = f.page<ui::ImageCreation>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(f.session.state.CurrentStep, 7);
  EXPECT_EQ(f.session.state.PartitionStart, 0u);
  EXPECT_EQ(page->destinationLabel(), QStringLiteral("Destination Image :"));

  // One image file.
  const fs::path single = work.path() / "single" / "Image.img";
  fs::create_directories(single.parent_path());
  page->destination()->setText(QString::fromStdString(single.string()));
  runImaging(f, script, QStringLiteral("Image creation completed successfully."));
  const fs::path piece0 = single.parent_path() / "Image0.img";
  ASSERT_TRUE(fs::exists(piece0));
  EXPECT_EQ(fs::file_size(piece0), sectors * 512);
  EXPECT_TRUE(sameBytes(piece0, source, 0, sectors * 512));

  // The same name again is refused.
  script.answer(QStringLiteral("MessagesInfo"), true);
  page->next();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
  EXPECT_EQ(script.lastText(), QStringLiteral("This image file already exists. Select different file"));
  fs::remove(piece0);

  // A piece series: a full piece and one of one sector.
  const fs::path series = work.path() / "series" / "Image.img";
  fs::create_directories(series.parent_path());
  page->destination()->setText(QString::fromStdString(series.string()));
  page->multiFile()->setChecked(true);
  runImaging(f, script, QStringLiteral("Image creation completed successfully."));
  const fs::path first = series.parent_path() / "Image0.img", second = series.parent_path() / "Image1.img";
  ASSERT_TRUE(fs::exists(first) && fs::exists(second));
  EXPECT_EQ(fs::file_size(first), 1331200ull * 512);
  EXPECT_EQ(fs::file_size(second), 512u);
  EXPECT_TRUE(sameBytes(first, source, 0, 1331200ull * 512));
  EXPECT_TRUE(sameBytes(second, source, 1331200ull * 512, 512));
  const std::string log = readFile(f.session.activityLog().path());
  EXPECT_NE(log.find("Multifile : Checked"), std::string::npos);
  EXPECT_NE(log.find("Analysing Imaging Creation Information : "), std::string::npos);
}

// With a resume file the copy is a rescue kept in a mapfile: run twice, the
// second run finds everything finished and the image stays whole.
TEST(ImageRecoveryPath, AResumeFileKeepsTheRescueInAMapfile) {
  TempDir work;
  const fs::path source = work.path() / "disk.img";
  const std::uint64_t sectors = 4096;
  {
    std::ofstream out(source, std::ios::binary);
    std::string bytes(sectors * 512, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + 5);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  WizardFixture f({disk(0, source)});
  DialogScript script;
  toStep2b(f, 1);
  auto* page = f.page<ui::ImageCreation>();
  ASSERT_NE(page, nullptr);
  const fs::path image = work.path() / "out" / "Image.img", mapfile = work.path() / "out" / "rescue.map";
  fs::create_directories(image.parent_path());
  page->destination()->setText(QString::fromStdString(image.string()));
  page->resumeFile()->setText(QString::fromStdString(mapfile.string()));
  runImaging(f, script, QStringLiteral("Image creation completed successfully."));
  const fs::path piece0 = image.parent_path() / "Image0.img";
  ASSERT_TRUE(fs::exists(piece0));
  EXPECT_TRUE(sameBytes(piece0, source, 0, sectors * 512));
  const std::string map = readFile(mapfile);
  EXPECT_NE(map.find("\n0x00000000  0x00200000  +\n"), std::string::npos) << map;
  // Continued: the existing image is the one the mapfile speaks of, not refused.
  runImaging(f, script, QStringLiteral("Image creation completed successfully."));
  EXPECT_TRUE(sameBytes(piece0, source, 0, sectors * 512));
  // A rescue goes into one file.
  page->multiFile()->setChecked(true);
  script.answer(QStringLiteral("MessagesInfo"), true);
  page->next();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
  EXPECT_EQ(script.lastText(), QStringLiteral("A resume file rescues into one image file. Clear Multifile."));
}

// The imaging page's current sector follows the copy: held at a gate past
// its start, the page shows the sector the copy has reached.
TEST(ImageRecoveryPath, TheCurrentSectorFollowsTheCopy) {
  TempDir work;
  const fs::path source = work.path() / "disk.img";
  const std::uint64_t sectors = 16 * 8192;
  {
    std::ofstream out(source, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(sectors * 512 - 1));
    out.put('\x5a');
  }
  WizardFixture f({disk(0, source)});
  DialogScript script;
  toStep2b(f, 1);
  auto* page = f.page<ui::ImageCreation>();
  ASSERT_NE(page, nullptr);
  const fs::path image = work.path() / "out" / "Image.img";
  fs::create_directories(image.parent_path());
  page->destination()->setText(QString::fromStdString(image.string()));
  const SectorNumber gate = 10 * 8192;
  f.gate->gateSector = gate;
  f.gate->armed = true;
  page->next();
  ASSERT_TRUE(waitUntil([&] { return f.gate->waiting.load() > 0; }));
  auto* step3 = f.page<ui::SearchProgress>();
  ASSERT_NE(step3, nullptr);
  auto* value = step3->findChild<QLabel*>(QStringLiteral("value"));
  ASSERT_NE(value, nullptr);
  const QString total = QStringLiteral("/%1").arg(sectors);
  auto reached = [&] { return value->text().section(QLatin1Char('/'), 0, 0).toULongLong(); };
  EXPECT_TRUE(waitUntil([&] { return value->text().endsWith(total) && reached() > 0; }, 10000))
      << value->text().toStdString();
  EXPECT_LE(reached(), gate);
  script.answer(QStringLiteral("MessagesInfo"), true);
  f.gate->release();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget() && f.page<ui::ImageCreation>(); }));
  EXPECT_EQ(script.lastText(), QStringLiteral("Image creation completed successfully."));
  EXPECT_EQ(fs::file_size(image.parent_path() / "Image0.img"), sectors * 512);
  EXPECT_TRUE(script.unexpected.empty());
}

// A loop device over a file of this test, detached when the test ends.
class LoopDevice {
 public:
  explicit LoopDevice(const fs::path& file) {
    int status = -1;
    std::string out = runShell("losetup --find --show '" + file.string() + "' 2>/dev/null", &status);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    if (status == 0 && out.rfind("/dev/loop", 0) == 0) device_ = out;
  }
  ~LoopDevice() {
    if (!device_.empty()) runShell("losetup -d '" + device_ + "'");
  }
  const std::string& device() const { return device_; }

 private:
  std::string device_;
};

// A file system of a loop device of this test, mounted while the test runs.
class Mount {
 public:
  Mount(const std::string& device, const fs::path& point) : point_(point) {
    fs::create_directories(point);
    int status = -1;
    runShell("mount '" + device + "' '" + point.string() + "' 2>/dev/null", &status);
    mounted_ = status == 0;
  }
  ~Mount() {
    if (mounted_) runShell("umount '" + point_.string() + "'");
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path point_;
  bool mounted_ = false;
};

TEST(RawRecoveryPath, ASavingPathOnTheDiskBeingRecoveredIsAskedAbout) {
  TempDir work;
  // A disk of this test with a file system the kernel mounts.
  const fs::path copy = work.path() / "disk.img";
  int made = -1;
  runShell("truncate -s 8M '" + copy.string() + "' && mkfs.ext2 -q -F '" + copy.string() + "' >/dev/null 2>&1", &made);
  if (made != 0) GTEST_SKIP() << "mkfs.ext2 cannot make the test disk here";
  LoopDevice loop(copy);
  if (loop.device().empty()) GTEST_SKIP() << "losetup cannot attach a loop device here (needs root and /dev/loop*)";
  Mount mount(loop.device(), work.path() / "mnt");
  if (!mount.mounted()) GTEST_SKIP() << "the loop device's file system cannot be mounted here";
  DeviceInfo source = disk(0, loop.device());
  source.sizeBytes = fs::file_size(copy);
  {
    WizardFixture f({source});
    DialogScript script;
    f.toStep2b(3);
    auto* raw = f.page<ui::RawDefaultExtension>();
    ASSERT_NE(raw, nullptr);
    raw->tick({QStringLiteral("JPEG")});
    const fs::path onSource = work.path() / "mnt" / "carved";
    QPointer<QDialog> savingPath;
    script.expect(QStringLiteral("SavingPath"), [&](QDialog* d) {
      savingPath = d;
      d->findChild<QLineEdit*>(QStringLiteral("destination"))->setText(QString::fromStdString(onSource.string()));
      clickDialogButton(d, QStringLiteral("OK"));
    });
    script.expect(QStringLiteral("QuestionMessage"), [&](QDialog* question) {
      clickDialogButton(question, QStringLiteral("No"));
      // The destination dialog stays open after No; it is then cancelled.
      QTimer::singleShot(50, [&] {
        if (savingPath) savingPath->reject();
      });
    });
    script.answer(QStringLiteral("MessagesInfo"), true);
    raw->next();
    ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
    ASSERT_GE(script.seen().size(), 3u);
    EXPECT_TRUE(script.seen()[1].text.startsWith(QString::fromStdString(onSource.string()) +
                                                 QStringLiteral(" lies on the disk being recovered")))
        << script.seen()[1].text.toStdString();
    EXPECT_EQ(script.lastText(), QStringLiteral("Please specify destination/saving path."));
    EXPECT_NE(f.page<ui::RawDefaultExtension>(), nullptr) << "nothing was started";
  }
}

TEST(ImageRecoveryPath, ACopyOntoALoopDeviceIsByteIdenticalToTheSource) {
  TempDir work;
  const fs::path target = work.path() / "target.img";
  {
    std::ofstream out(target, std::ios::binary);
    out.seekp(4 * 1024 * 1024 - 1);
    out.put('\0');
  }
  LoopDevice loop(target);
  if (loop.device().empty()) GTEST_SKIP() << "losetup cannot attach a loop device here (needs root and /dev/loop*)";
  const fs::path source = fixturePath("fat12.img");
  DeviceInfo targetDisk = disk(1, loop.device(), "Loop Target");
  targetDisk.sizeBytes = fs::file_size(target);
  WizardFixture f({disk(0, source), targetDisk});
  DialogScript script;
  toStep2b(f, 1);
  auto* page = f.page<ui::ImageCreation>();
  ASSERT_NE(page, nullptr);
  page->type()->setCurrentIndex(1);
  EXPECT_EQ(page->destinationLabel(), QStringLiteral("Destination Disk : "));
  ASSERT_EQ(page->targetDisk()->count(), 2);
  EXPECT_FALSE(page->targetDisk()->itemData(0, Qt::ToolTipRole).toString().isEmpty()) << "the source is refused";
  page->targetDisk()->setCurrentIndex(1);
  EXPECT_EQ(page->diskFields().value(0), QStringLiteral("Loop Target"));
  script.expect(QStringLiteral("QuestionMessage"), [](QDialog* d) { clickDialogButton(d, QStringLiteral("Yes")); });
  runImaging(f, script, QStringLiteral("Image creation completed successfully."));
  EXPECT_EQ(script.seen().front().text,
            QStringLiteral("All data will be lost in Target Disk -\nDisk1 - Loop Target\n\nAre you sure you want to "
                           "continue ?\n"));
  runShell("sync");
  EXPECT_TRUE(sameBytes(source, target, 0, fs::file_size(source)));
}

TEST(ResultBrowser, OpenWithListsTheApplicationsOfTheFileTypeAndStartsTheChosenOne) {
  WizardFixture f;
  const fs::path applications = f.home.path() / "applications";
  fs::create_directories(applications);
  writeFile(applications / "editor.desktop",
            "[Desktop Entry]\nType=Application\nName=Plain Editor\nExec=plain-editor --new-window %F\n"
            "MimeType=text/plain;\n");
  writeFile(applications / "viewer.desktop",
            "[Desktop Entry]\nType=Application\nName=Picture Viewer\nExec=viewer %u\nMimeType=image/jpeg;\n");
  writeFile(applications / "hidden.desktop",
            "[Desktop Entry]\nType=Application\nName=Hidden Editor\nExec=hidden %f\nMimeType=text/plain;\n"
            "NoDisplay=true\n");
  DialogScript script;
  f.toStep2();
  f.startSearch();
  f.waitForStep4(script);
  auto* step4 = f.page<ui::FileDisplay>();
  const auto draft = step4->resultTree()->findFile("/Old Stuff fat32/draft one.txt");
  ASSERT_TRUE(draft);
  QStringList offered;
  script.expect(QStringLiteral("OpenWith"), [&](QDialog* d) {
    auto* dialog = static_cast<ui::OpenWith*>(d);
    for (int i = 0; i < dialog->applications()->count(); ++i) offered << dialog->applications()->item(i)->text();
    dialog->applications()->setCurrentRow(1);
    dialog->accept();
  });
  step4->openWith(draft->file);
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
  EXPECT_EQ(offered, (QStringList{QStringLiteral("Default application"), QStringLiteral("Plain Editor")}));
  ASSERT_EQ(f.startedPrograms.size(), 1u);
  const QStringList command = f.startedPrograms.front();
  ASSERT_EQ(command.size(), 3);
  EXPECT_EQ(command[0], QStringLiteral("plain-editor"));
  EXPECT_EQ(command[1], QStringLiteral("--new-window"));
  EXPECT_EQ(fs::path(command[2].toStdString()).filename(), "draft one.txt");
  EXPECT_TRUE(fs::exists(command[2].toStdString())) << "the copy in the private folder";
}

}  // namespace
}  // namespace dravolin::test
