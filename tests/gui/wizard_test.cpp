// The wizard driven as a user would, offscreen, on the FAT32 fixture: the
// whole Desktop Recovery path to a saved folder compared byte for byte,
// Back at every step, Stop and Back during the search, and the event loop
// kept free while the search runs; and the search for lost partitions on the
// disk whose tables are gone.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>

#include "app/wizard_messages.h"
#include "gui/wizard_harness.h"
#include "ui/exhaustive_partition_info.h"
#include "ui/file_display.h"
#include "ui/partition_pages.h"
#include "ui/result_models.h"
#include "ui/search_progress.h"
#include "ui/step1_page.h"

namespace dravolin::test {
namespace {

namespace fs = std::filesystem;

std::size_t fileCount(const std::vector<ManifestRow>& rows) {
  return static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const auto& r) { return !r.folder; }));
}

// Checks the deleted folder at path in the list of the top node, as a user
// clicks its box, and waits until the marking has run.
void checkDeletedFolder(ui::FileDisplay* step4, const std::string& path) {
  ResultTree& tree = *step4->resultTree();
  const auto folder = tree.findFolder(path);
  ASSERT_TRUE(folder);
  const auto directory = static_cast<std::size_t>(tree.item(*folder).directory);
  EXPECT_TRUE(tree.entries().DirectoryList[directory].isDeleted());
  const int row = step4->listModel()->rowOfFolder(directory);
  ASSERT_GE(row, 0);
  ASSERT_TRUE(step4->listModel()->setData(step4->listModel()->index(row, 0), Qt::Checked, Qt::CheckStateRole));
  ASSERT_TRUE(waitUntil([&] { return !step4->marking(); }));
}

// Recover Selected into destination, answering Yes to one replace question
// when replaceQuestion is set, and the closing message.
void saveCheckedInto(WizardFixture& f, DialogScript& script, const fs::path& destination, bool replaceQuestion) {
  script.expect(QStringLiteral("SavingPath"), [&](QDialog* d) {
    d->findChild<QLineEdit*>(QStringLiteral("destination"))->setText(QString::fromStdString(destination.string()));
    clickDialogButton(d, QStringLiteral("OK"));
  });
  if (replaceQuestion) script.clickButton(QStringLiteral("ReplaceFile"), QStringLiteral("Yes"));
  script.answer(QStringLiteral("MessagesInfo"), true);
  f.window->menu().recoverSelected->trigger();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
  EXPECT_TRUE(script.unexpected.empty()) << script.unexpected.front().toStdString();
  EXPECT_EQ(script.lastText(), QStringLiteral("Saving completed successfully."));
}

TEST(Wizard, DesktopRecoverySavesACheckedDeletedFolderByteForByte) {
  WizardFixture f;
  DialogScript script;
  f.toStep2();
  auto* step2 = f.page<ui::PartitionInfo>();
  ASSERT_TRUE(step2->selectPartition(1));
  EXPECT_EQ(step2->header(), QStringLiteral("You have selected Partition - 1 ( FAT32 ) with following properties :"));
  EXPECT_TRUE(step2->propertyTexts().contains(QStringLiteral("Partition Type: FAT32")));
  f.startSearch();
  f.waitForStep4(script);
  auto* step4 = f.page<ui::FileDisplay>();
  ResultTree& tree = *step4->resultTree();

  // Check the deleted folder in the list of the top node.
  const std::string folderPath = "/Old Stuff fat32";
  ASSERT_NO_FATAL_FAILURE(checkDeletedFolder(step4, folderPath));
  const auto folder = tree.findFolder(folderPath);
  const auto directory = static_cast<std::size_t>(tree.item(*folder).directory);
  const int row = step4->listModel()->rowOfFolder(directory);
  EXPECT_TRUE(tree.isChecked(*folder));
  EXPECT_TRUE(tree.isChecked(ResultTree::kTopItem));  // so that the saving walks down to it
  EXPECT_EQ(step4->listModel()->data(step4->listModel()->index(row, 0), Qt::CheckStateRole).toInt(), Qt::Checked);

  std::vector<std::string> overwritten;
  const auto manifest = readManifest("fat32.img", &overwritten);
  std::vector<ManifestRow> expected;
  for (const auto& r : manifest)
    if (!r.folder && r.path.rfind(folderPath + "/", 0) == 0 &&
        std::find(overwritten.begin(), overwritten.end(), r.path) == overwritten.end())
      expected.push_back(r);
  ASSERT_GE(expected.size(), 3u);

  // A file renamed in place is saved under its new name.
  const auto scan = tree.findFile(folderPath + "/Scans/scan 002.bmp");
  ASSERT_TRUE(scan);
  step4->showFolder(scan->item);
  const int scanRow = step4->listModel()->rowOfFile(scan->file);
  ASSERT_GE(scanRow, 0);
  ASSERT_TRUE(step4->listModel()->setData(step4->listModel()->index(scanRow, 0), QStringLiteral("scan two.bmp"),
                                          Qt::EditRole));
  EXPECT_EQ(step4->listModel()->data(step4->listModel()->index(scanRow, 0), Qt::DisplayRole).toString(),
            QStringLiteral("scan two.bmp"));
  for (auto& r : expected)
    if (r.path == folderPath + "/Scans/scan 002.bmp") r.path = folderPath + "/Scans/scan two.bmp";

  // A double-click on a file previews it: a copy in a private folder is opened.
  const auto draft = tree.findFile(folderPath + "/draft one.txt");
  ASSERT_TRUE(draft);
  step4->preview(draft->file);
  ASSERT_TRUE(waitUntil([&] { return !f.openedUrls.empty(); }));
  const fs::path previewed = f.openedUrls.back().toLocalFile().toStdString();
  EXPECT_EQ(previewed.filename(), "draft one.txt");
  const auto draftRow = std::find_if(expected.begin(), expected.end(),
                                     [&](const auto& r) { return r.path == folderPath + "/draft one.txt"; });
  ASSERT_NE(draftRow, expected.end());
  EXPECT_EQ(sha256File(previewed), draftRow->sha256);

  // A file of that folder is already at the destination: the replace question comes.
  TempDir destination;
  const fs::path stale = destination.path() / expected.front().path.substr(1);
  fs::create_directories(stale.parent_path());
  writeFile(stale, "an older copy");

  ASSERT_NO_FATAL_FAILURE(saveCheckedInto(f, script, destination.path(), true));

  std::size_t saved = 0;
  for (const auto& entry : fs::recursive_directory_iterator(destination.path()))
    if (entry.is_regular_file()) ++saved;
  EXPECT_EQ(saved, expected.size());
  for (const auto& r : expected) {
    const fs::path file = destination.path() / r.path.substr(1);
    ASSERT_TRUE(fs::exists(file)) << r.path;
    EXPECT_EQ(sha256File(file), r.sha256) << r.path;
  }
  // Only the checked folder was saved.
  std::vector<std::string> top;
  for (const auto& entry : fs::directory_iterator(destination.path())) top.push_back(entry.path().filename().string());
  EXPECT_EQ(top, std::vector<std::string>{"Old Stuff fat32"});
  EXPECT_NE(readFile(f.session.recoveryLog().path()).find("Saving completed successfully."), std::string::npos);
}

// The NTFS partition of the demo disk takes the same path with no page of its
// own: the MFT walk runs as Step 3, and a checked deleted folder is saved.
TEST(Wizard, DesktopRecoveryOnAnNtfsPartitionSavesADeletedFolder) {
  WizardFixture f;
  DialogScript script;
  f.toStep2("demo.img");
  auto* step2 = f.page<ui::PartitionInfo>();
  ASSERT_TRUE(step2->selectPartition(2));
  EXPECT_EQ(step2->header(), QStringLiteral("You have selected Partition - 2 ( NTFS ) with following properties :"));
  f.startSearch(2);
  f.waitForStep4(script);
  auto* step4 = f.page<ui::FileDisplay>();

  const std::string folderPath = "/Old Stuff demontfs";
  ASSERT_NO_FATAL_FAILURE(checkDeletedFolder(step4, folderPath));

  std::vector<ManifestRow> expected;
  for (const auto& r : readManifest("demo.img"))
    if (!r.folder && r.path.rfind(folderPath + "/", 0) == 0) expected.push_back(r);
  ASSERT_GE(expected.size(), 2u);

  TempDir destination;
  ASSERT_NO_FATAL_FAILURE(saveCheckedInto(f, script, destination.path(), false));
  for (const auto& r : expected) {
    const fs::path file = destination.path() / r.path.substr(1);
    ASSERT_TRUE(fs::exists(file)) << r.path;
    EXPECT_EQ(sha256File(file), r.sha256) << r.path;
  }
}

TEST(Wizard, BackAtEveryStepReturnsWithTheChoicesIntact) {
  WizardFixture f;
  DialogScript script;
  f.toStep2();
  auto* step2 = f.page<ui::PartitionInfo>();
  ASSERT_TRUE(step2->selectPartition(1));

  // Step 2 (a) and back.
  step2->searchExhaustive()->setChecked(true);
  step2->findChild<QPushButton*>(QStringLiteral("next"))->click();
  auto* range = f.page<ui::PartitionRange>();
  ASSERT_NE(range, nullptr);
  EXPECT_EQ(f.session.state.CurrentStep, 5);
  const auto& partition = f.session.listing().partitions.at(0);
  EXPECT_EQ(range->startEdit()->text(), QString::number(partition.start));
  EXPECT_EQ(range->endEdit()->text(), QString::number(partition.end));
  EXPECT_EQ(range->fileSystem()->currentText(), QStringLiteral("FAT32"));
  range->findChild<QPushButton*>(QStringLiteral("back"))->click();
  ASSERT_EQ(f.page<ui::PartitionInfo>(), step2);
  EXPECT_EQ(f.session.state.CurrentStep, 2);
  EXPECT_TRUE(step2->searchExhaustive()->isChecked());
  EXPECT_EQ(step2->tree()->currentItem()->text(0), QStringLiteral("Partition - 1 ( FAT32 )"));

  // Step 3, Step 4 and back to Step 2.
  step2->searchExhaustive()->setChecked(false);
  f.startSearch();
  f.waitForStep4(script);
  const auto firstFiles = f.session.entries.FileCount;
  ASSERT_GT(firstFiles, 0u);
  EXPECT_EQ(f.session.state.CurrentStep, 3);
  script.answer(QStringLiteral("QuestionMessage"), true);
  f.page<ui::FileDisplay>()->findChild<QAbstractButton*>(QStringLiteral("back"))->click();
  ASSERT_TRUE(waitUntil([&] { return f.page<ui::PartitionInfo>() == step2; }));
  EXPECT_EQ(script.seen().back().text, QString::fromUtf8(msg::kBackToStep2Question));
  EXPECT_EQ(step2->tree()->currentItem()->text(0), QStringLiteral("Partition - 1 ( FAT32 )"));
  EXPECT_EQ(f.session.entries.FileCount, 0u);
  EXPECT_TRUE(f.session.entries.FileList.empty());

  // Step 1 keeps the chosen image.
  step2->findChild<QPushButton*>(QStringLiteral("back"))->click();
  ASSERT_EQ(f.window->currentPage(), nullptr);
  EXPECT_EQ(f.session.state.CurrentStep, 1);
  auto* tree = f.window->desktopPage()->driveTree();
  ASSERT_NE(tree->currentItem(), nullptr);
  EXPECT_TRUE(tree->currentItem()->text(0).endsWith(QStringLiteral("fat32.img")));

  // And forward again finds the same.
  f.window->desktopPage()->next();
  ASSERT_NE(f.page<ui::PartitionInfo>(), nullptr);
  f.startSearch();
  f.waitForStep4(script);
  EXPECT_EQ(f.session.entries.FileCount, firstFiles);
  EXPECT_TRUE(script.unexpected.empty());
}

TEST(Wizard, StopDuringTheSearchShowsWhatWasFound) {
  WizardFixture f;
  DialogScript script;
  f.toStep2();
  f.gate->gateSector = firstDataSector("fat32.img") + 8;
  f.gate->armed = true;
  f.startSearch();
  auto* step3 = f.page<ui::SearchProgress>();
  ASSERT_NE(step3, nullptr);
  ASSERT_TRUE(waitUntil([&] { return f.gate->waiting.load() > 0; }));
  EXPECT_TRUE(step3->running());
  script.expect(QStringLiteral("QuestionMessage"), [&](QDialog* d) {
    f.gate->release();
    clickDialogButton(d, QStringLiteral("Yes"));
  });
  step3->findChild<QPushButton*>(QStringLiteral("stop"))->click();
  f.waitForStep4(script);
  EXPECT_EQ(script.seen().front().text, QString::fromUtf8(msg::kStopQuestion));
  const auto all = fileCount(readManifest("fat32.img"));
  EXPECT_LT(f.session.entries.FileCount, all);
  EXPECT_GT(f.session.entries.FileCount, 0u);  // the root's files were read before the gate
  auto* step4 = f.page<ui::FileDisplay>();
  EXPECT_EQ(step4->summaryText().toStdString(), summaryText(f.session.entries.TotalSize,
                                                            f.session.entries.DirectoryCount,
                                                            f.session.entries.FileCount));
  EXPECT_NE(readFile(f.session.activityLog().path()).find("Step 3 :"), std::string::npos);
}

TEST(Wizard, BackDuringTheSearchCancelsItAndFreesTheLists) {
  WizardFixture f;
  DialogScript script;
  f.toStep2();
  auto* step2 = f.page<ui::PartitionInfo>();
  f.gate->gateSector = firstDataSector("fat32.img") + 8;
  f.gate->armed = true;
  f.startSearch();
  auto* step3 = f.page<ui::SearchProgress>();
  ASSERT_NE(step3, nullptr);
  ASSERT_TRUE(waitUntil([&] { return f.gate->waiting.load() > 0; }));
  script.expect(QStringLiteral("QuestionMessage"), [&](QDialog* d) {
    f.gate->release();
    clickDialogButton(d, QStringLiteral("Yes"));
  });
  step3->findChild<QPushButton*>(QStringLiteral("back"))->click();
  ASSERT_TRUE(waitUntil([&] { return f.page<ui::PartitionInfo>() == step2; }));
  EXPECT_EQ(script.seen().front().text, QString::fromUtf8(msg::kBackToStep2Question));
  EXPECT_EQ(f.session.entries.DirectoryCount, 0u);
  EXPECT_EQ(f.session.entries.FileCount, 0u);
  EXPECT_TRUE(f.session.entries.DirectoryList.empty());
  EXPECT_FALSE(f.session.state.ExhaustiveSearch);
  EXPECT_EQ(f.session.state.CurrentStep, 2);
  EXPECT_TRUE(script.unexpected.empty());
}

TEST(Wizard, ABadSectorDuringTheSearchIsAskedOnTheWindowWhileTheWorkerWaits) {
  WizardFixture f;
  DialogScript script;
  f.toStep2();
  f.gate->failing = {firstDataSector("fat32.img") + 1};
  script.clickButton(QStringLiteral("BadSectors"), QStringLiteral("Skip All"));
  f.startSearch();
  f.waitForStep4(script);
  ASSERT_FALSE(script.seen().empty());
  EXPECT_EQ(script.seen().front().dialog, QStringLiteral("BadSectors"));
  EXPECT_EQ(script.seen().front().text, QString::fromUtf8(msg::kBadSectorsText));
  EXPECT_EQ(f.session.reader()->policy(), BadSectorPolicy::SkipAll);
  EXPECT_GT(f.session.entries.DirectoryCount, 0u);
  EXPECT_TRUE(script.unexpected.empty());
}

TEST(Wizard, TheEventLoopKeepsRunningDuringAnExhaustiveSearch) {
  WizardFixture f;
  DialogScript script;
  f.toStep2();
  ASSERT_TRUE(f.page<ui::PartitionInfo>()->selectPartition(1));
  f.page<ui::PartitionInfo>()->findChild<QPushButton*>(QStringLiteral("next"))->click();
  // Let the directory tree search end, then ask for the exhaustive search from Step 4.
  f.waitForStep4(script);

  StallMeter meter;
  QElapsedTimer clock;
  script.answer(QStringLiteral("QuestionMessage"), true);
  clock.start();
  meter.start();
  f.window->menu().exhaustiveRecovery->trigger();
  ASSERT_TRUE(waitUntil([&] {
    auto* step4 = f.page<ui::FileDisplay>();
    return step4 && step4->filled();
  }));
  meter.stop();
  const qint64 duration = clock.elapsed();
  EXPECT_TRUE(f.session.state.ExhaustiveSearch);
  EXPECT_GT(f.session.entries.FileCount, 0u);
  EXPECT_LT(meter.longestMs(), 100.0) << "search and tree filling took " << duration << " ms; longest gap as measured "
                                      << meter.longestWallMs() << " ms";
  RecordProperty("longest_stall_ms", static_cast<int>(meter.longestMs()));
  RecordProperty("search_ms", static_cast<int>(duration));
}

TEST(Wizard, TheBenchmarkImageKeepsTheWindowResponsive) {
  const fs::path image = fs::path(DRAVOLIN_SOURCE_DIR) / "build/bench/fat32-100k.img";
  if (!fs::exists(image)) GTEST_SKIP() << image << " is missing: bench/bench_fat.sh builds it";
  WizardFixture f;
  DialogScript script;
  ASSERT_TRUE(f.window->desktopPage()->chooseImage(QString::fromStdString(image.string())));
  f.window->desktopPage()->next();
  ASSERT_NE(f.page<ui::PartitionInfo>(), nullptr);

  StallMeter meter;
  QElapsedTimer clock;
  qint64 resultShown = -1;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (resultShown < 0 && f.page<ui::FileDisplay>()) resultShown = clock.elapsed();
  });
  // Step 2's Next reads the boot sector on the window's thread, as the
  // wizard does; the measurement starts with the search.
  script.answer(QStringLiteral("MessagesInfo"), true);
  f.startSearch();
  ASSERT_NE(f.page<ui::SearchProgress>(), nullptr);
  clock.start();
  meter.start();
  watcher.start(1);
  ASSERT_TRUE(waitUntil([&] { return f.page<ui::FileDisplay>() && f.page<ui::FileDisplay>()->filled(); }, 600000));
  const qint64 opened = clock.elapsed() - resultShown;
  meter.stop();
  watcher.stop();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
  const double longest = meter.longestMs();
  EXPECT_GE(f.session.entries.FileCount, 95000u);
  EXPECT_LT(longest, 100.0) << "longest gap as measured " << meter.longestWallMs() << " ms";
  EXPECT_LT(opened, 1000);
  RecordProperty("longest_stall_ms", static_cast<int>(longest));
  RecordProperty("step4_open_ms", static_cast<int>(opened));
  std::printf("longest stall %.1f ms (%.1f ms as measured), Step 4 filled %lld ms after it showed\n", longest,
              meter.longestWallMs(), static_cast<long long>(opened));
}

TEST(Wizard, Step2ListsGptPartitionsWithTheirNamesAndSearchesOne) {
  WizardFixture f;
  DialogScript script;
  f.toStep2("gpt.img");
  auto* step2 = f.page<ui::PartitionInfo>();
  QTreeWidgetItem* disk = step2->tree()->topLevelItem(0);
  ASSERT_NE(disk, nullptr);
  QStringList nodes;
  for (int i = 0; i < disk->childCount(); ++i) nodes << disk->child(i)->text(0);
  EXPECT_EQ(nodes, (QStringList{"Partition - 1 ( FAT16 )", "Partition - 2 ( NTFS )", "Partition - 3 ( FAT32 )",
                                "Partition - 4 ( FAT16 )", "Partition - 5 ( Linux filesystem )"}));
  ASSERT_TRUE(step2->selectPartition(5));
  const QStringList linuxProperties = step2->propertyTexts();
  EXPECT_TRUE(linuxProperties.contains(QStringLiteral("Partition Type: Linux filesystem"))) << linuxProperties.join('|').toStdString();
  EXPECT_TRUE(linuxProperties.contains(QStringLiteral("Partition Name: Linux empty")));
  EXPECT_TRUE(linuxProperties.contains(
      QStringLiteral("Type GUID: 0FC63DAF-8483-4772-8E79-3D69D8477DE4 (Linux filesystem)")));
  ASSERT_TRUE(step2->selectPartition(1));
  EXPECT_TRUE(step2->propertyTexts().contains(QString::fromUtf8("Partition Name: Donn\xC3\xA9" "es FAT16")));
  ASSERT_TRUE(step2->selectPartition(3));
  EXPECT_TRUE(step2->propertyTexts().contains(QStringLiteral("Start Sector: 92160")));
  f.startSearch(3);
  f.waitForStep4(script);
  EXPECT_EQ(f.session.state.PartitionStart, 92160u);
  EXPECT_EQ(f.session.state.FileSystemType, FsType::Fat32);
  EXPECT_GT(f.session.entries.FileCount, 40u);
}

// Whether the found entries hold a file of this name (as shown).
bool holdsFile(const FoundEntries& entries, const std::string& name) {
  return std::any_of(entries.FileList.begin(), entries.FileList.end(),
                     [&](const auto& f) { return displayName(f.narrowName, f.wideName, "cp850") == name; });
}

// Options > Exhaustive Recovery on Step 2 searches the partition highlighted
// there, committed as Next commits it, and is greyed out on the disk node.
TEST(Wizard, ExhaustiveRecoveryOnStep2SearchesTheHighlightedPartition) {
  WizardFixture f;
  DialogScript script;
  f.toStep2("mbr.img");
  auto* step2 = f.page<ui::PartitionInfo>();
  f.startSearch(1);  // FAT16 through Next first
  f.waitForStep4(script);
  ASSERT_TRUE(holdsFile(f.session.entries, "Several clusters p1.dat"));
  script.answer(QStringLiteral("QuestionMessage"), true);
  f.page<ui::FileDisplay>()->findChild<QAbstractButton*>(QStringLiteral("back"))->click();
  ASSERT_TRUE(waitUntil([&] { return f.page<ui::PartitionInfo>() == step2; }));

  step2->tree()->setCurrentItem(step2->tree()->topLevelItem(0));
  EXPECT_FALSE(f.window->menu().exhaustiveRecovery->isEnabled()) << "the disk node is no partition to search";
  ASSERT_TRUE(step2->selectPartition(2));
  EXPECT_TRUE(f.window->menu().exhaustiveRecovery->isEnabled());
  script.answer(QStringLiteral("QuestionMessage"), true);
  f.window->menu().exhaustiveRecovery->trigger();
  ASSERT_TRUE(waitUntil([&] {
    auto* step4 = f.page<ui::FileDisplay>();
    return step4 && step4->filled() && script.done() && !QApplication::activeModalWidget();
  }));
  const auto& partition = f.session.listing().partitions.at(1);
  EXPECT_EQ(f.session.state.PartitionStart, partition.start);
  EXPECT_EQ(f.session.state.FileSystemType, FsType::Fat32);
  // The layout is the one the check of this partition found, not the one
  // of the partition searched before.
  EXPECT_EQ(f.session.state.volumeParameters.Fat1Start, partition.start + 32);
  EXPECT_TRUE(f.session.state.ExhaustiveSearch);
  EXPECT_TRUE(holdsFile(f.session.entries, "Several clusters p2.dat"));
  EXPECT_FALSE(holdsFile(f.session.entries, "Several clusters p1.dat"));
  EXPECT_NE(readFile(f.session.activityLog().path()).find("Selected Information : Partition - 2 ( FAT32 )"),
            std::string::npos);
  EXPECT_TRUE(script.unexpected.empty());
}

// Back from a Step 3 that ran nothing (the exhaustive search of a partition
// of a type it cannot search) ends the exhaustive mode: the next search
// from Step 2 is a normal one.
TEST(Wizard, BackFromAStep3ThatRanNothingLeavesTheNextSearchNormal) {
  WizardFixture f;
  DialogScript script;
  f.toStep2("gpt.img");
  auto* step2 = f.page<ui::PartitionInfo>();
  ASSERT_TRUE(step2->selectPartition(5));  // Linux file system: no search for it
  script.answer(QStringLiteral("QuestionMessage"), true);
  script.answer(QStringLiteral("MessagesInfo"), true);
  f.window->menu().exhaustiveRecovery->trigger();
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
  auto* step3 = f.page<ui::SearchProgress>();
  ASSERT_NE(step3, nullptr);
  EXPECT_FALSE(step3->running());
  step3->findChild<QPushButton*>(QStringLiteral("back"))->click();
  ASSERT_TRUE(waitUntil([&] { return f.page<ui::PartitionInfo>() == step2; }));
  EXPECT_FALSE(f.session.state.ExhaustiveSearch);

  f.startSearch(3);
  f.waitForStep4(script);
  EXPECT_EQ(f.page<ui::FileDisplay>() ? f.session.state.FileSystemType : FsType::Unknown, FsType::Fat32);
  const std::string log = readFile(f.session.activityLog().path());
  const auto step3Block = log.rfind("Step 3 :");
  ASSERT_NE(step3Block, std::string::npos);
  EXPECT_EQ(log.find("Switching to Exhaustive Mode", step3Block), std::string::npos);
  EXPECT_GT(f.session.entries.FileCount, 0u);
  EXPECT_TRUE(script.unexpected.empty());
}

}  // namespace
}  // namespace dravolin::test

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

namespace dravolin::test {
namespace {

// Save Log in Step 4 and Load Log in Step 2 of another run: the same tree
// comes back; a log of another disk is refused with its message.
TEST(Wizard, ALogSavedInStep4LoadsInStep2ToTheSameTree) {
  std::vector<std::string> paths;
  TempDir logs;
  const fs::path folder = logs.path();
  {
    WizardFixture f;
    DialogScript script;
    f.toStep2("fat32.img");
    f.startSearch(1);
    f.waitForStep4(script);
    auto* step4 = f.page<ui::FileDisplay>();
    ASSERT_TRUE(f.window->menu().saveLog->isEnabled());
    step4->saveLogTo(QString::fromStdString((folder / "result").string()));
    const ResultTree& tree = *step4->resultTree();
    for (std::size_t i = 0; i < tree.itemCount(); ++i) paths.push_back(tree.pathText(i));
  }
  ASSERT_TRUE(fs::exists(folder / "RESULT.ST4"));
  ASSERT_GT(paths.size(), 3u);
  {
    WizardFixture f;
    DialogScript script;
    f.toStep2("fat32.img");
    f.page<ui::PartitionInfo>()->loadLogFrom(QString::fromStdString((folder / "RESULT.ST4").string()));
    f.waitForStep4(script);
    const ResultTree& tree = *f.page<ui::FileDisplay>()->resultTree();
    std::vector<std::string> reloaded;
    for (std::size_t i = 0; i < tree.itemCount(); ++i) reloaded.push_back(tree.pathText(i));
    EXPECT_EQ(reloaded, paths);
  }
  {
    WizardFixture f;
    DialogScript script;
    f.toStep2("fat16.img");
    script.answer(QStringLiteral("MessagesInfo"), true);
    f.page<ui::PartitionInfo>()->loadLogFrom(QString::fromStdString((folder / "RESULT.ST4").string()));
    ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }));
    EXPECT_EQ(script.lastText(), QStringLiteral("You Have Selected Wrong Disk."));
    EXPECT_NE(f.page<ui::PartitionInfo>(), nullptr);
  }
}

}  // namespace
}  // namespace dravolin::test

namespace dravolin::test {
namespace {

// A row of the manifest of the disk with several volumes, with its volume.
struct VolumeRow {
  int partition = 0;
  bool live = false;
  bool file = false;
  std::string sha256;
  std::string path;
};

std::vector<VolumeRow> readVolumeManifest() {
  std::vector<VolumeRow> rows;
  std::ifstream in(fixturePath("mbr.img.manifest.tsv"));
  std::string line;
  std::getline(in, line);  // heading
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) f.push_back(field);
    if (f.size() == 6) rows.push_back({std::stoi(f[0]), f[1] == "live", f[2] == "file", f[4], f[5]});
  }
  return rows;
}

ui::FileDisplay* waitForLostTree(WizardFixture& f) {
  // After a search for lost partitions Step 4 shows no hint about the exhaustive search.
  if (!waitUntil([&] {
        auto* step4 = f.page<ui::FileDisplay>();
        return step4 && step4->filled() && !QApplication::activeModalWidget();
      }))
    return nullptr;
  return f.page<ui::FileDisplay>();
}

// The volume's own live files are listed (more than ten), and none of
// another volume's that carry that volume's number in their names.
void expectOwnFiles(ResultTree& tree, const std::vector<VolumeRow>& manifest, int partition) {
  std::size_t own = 0;
  for (const VolumeRow& r : manifest) {
    if (!r.live || !r.file) continue;
    // Zero-length files have no cluster: FAT lists none of them.
    const bool fat = partition != 3;
    if (r.partition == partition &&
        !(fat && r.sha256 == "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855")) {
      ++own;
      EXPECT_TRUE(tree.findFile(r.path)) << r.path << " is not listed";
    } else if (r.partition != partition && r.path.find(" p" + std::to_string(r.partition)) != std::string::npos) {
      EXPECT_FALSE(tree.findFile(r.path)) << r.path << " of volume " << r.partition << " is listed";
    }
  }
  EXPECT_GT(own, 10u) << "volume " << partition;
}

// Step 2 with "Search Exhaustive" on the disk whose tables are gone, Step
// 2 (a) over the whole disk with a file system type, the scan pass in Step 3,
// then Step 2 (c) lists the volumes of that type only; the chosen one's tree
// holds its own files and none of the others', and a saved file is
// byte-identical. Back returns to the list as it was, which is saved as a
// ".ST2C" log. Loaded in another run, the log goes through Step 2 (a) and
// the reload straight to the tree of the volume chosen before; Back offers
// the list, where another volume is chosen (a FAT one's folders are found
// again on the disk).
TEST(Wizard, TheSearchForLostPartitionsListsTheVolumesAndSavesFromTheChosenOne) {
  const std::string image = "damaged/mbr-lost-tables.img";
  const std::string hash = sha256File(fixturePath(image));
  const auto manifest = readVolumeManifest();
  struct Row {
    int type;  // Step 2 (a)'s list: 1 FAT32, 2 NTFS
    QStringList nodes;
    int chosen;     // found file system chosen
    int partition;  // its volume in the manifest
    QStringList properties;
    const char* log;
    int other;  // chosen after the reload
    int otherPartition;
  };
  const Row rows[] = {
      {1,
       {QStringLiteral("File System 1 - FAT16"), QStringLiteral("File System 2 - FAT32"),
        QStringLiteral("File System 3 - FAT16")},
       2,
       2,
       {QStringLiteral("Partition Type: FAT32"), QStringLiteral("Partition Size: 40 MB"),
        QStringLiteral("Start Sector: 34816"), QStringLiteral("End Sector: 116736")},
       "fat",
       3,
       4},
      {2,
       {QStringLiteral("File System 1 - NTFS")},
       1,
       3,
       {QStringLiteral("Partition Type: NTFS"), QStringLiteral("Partition Size: 23 MB"),
        QStringLiteral("Start Sector: 118784"), QStringLiteral("End Sector: 167935")},
       "ntfs",
       0,
       0},
  };
  TempDir logs;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.log);
    {
      WizardFixture f;
      DialogScript script;
      f.toStep2(image);
      auto* step2 = f.page<ui::PartitionInfo>();
      step2->searchExhaustive()->setChecked(true);
      step2->tree()->setCurrentItem(step2->tree()->topLevelItem(0));  // the disk
      step2->next();
      auto* range = f.page<ui::PartitionRange>();
      ASSERT_NE(range, nullptr);
      range->startEdit()->setText(QStringLiteral("0"));
      range->endEdit()->setText(QString::number(fs::file_size(fixturePath(image)) / 512));
      range->fileSystem()->setCurrentIndex(row.type);
      range->next();
      auto* step3 = f.page<ui::SearchProgress>();
      ASSERT_NE(step3, nullptr);
      EXPECT_TRUE(step3->findChild<QLabel*>(QStringLiteral("description"))->text().contains(
          QStringLiteral("Click  next and proceed to Step 2C.")));
      ASSERT_TRUE(waitUntil([&] { return f.page<ui::ExhaustivePartitionInfo>() != nullptr; }));
      auto* step2c = f.page<ui::ExhaustivePartitionInfo>();
      EXPECT_EQ(f.session.state.CurrentStep, 8);
      EXPECT_EQ(step2c->tree()->topLevelItem(0)->text(0), QStringLiteral("File System"));
      ASSERT_EQ(step2c->nodeTexts(), row.nodes);
      EXPECT_TRUE(f.window->menu().saveLog->isEnabled());
      EXPECT_FALSE(f.window->menu().loadLog->isEnabled());
      EXPECT_FALSE(f.window->menu().exhaustiveRecovery->isEnabled());
      ASSERT_TRUE(step2c->selectFileSystem(row.chosen));
      EXPECT_EQ(step2c->header(), QStringLiteral("You have selected %1 with following properties :")
                                      .arg(row.nodes.at(row.chosen - 1)));
      EXPECT_EQ(step2c->propertyTexts(), row.properties);
      step2c->nextButton()->click();
      ui::FileDisplay* step4 = waitForLostTree(f);
      ASSERT_NE(step4, nullptr);
      ResultTree& tree = *step4->resultTree();
      expectOwnFiles(tree, manifest, row.partition);

      // One file checked and saved: byte for byte.
      const std::string chosen = "/Several clusters p" + std::to_string(row.partition) + ".dat";
      const auto file = tree.findFile(chosen);
      ASSERT_TRUE(file);
      step4->showFolder(file->item);
      const int at = step4->listModel()->rowOfFile(file->file);
      ASSERT_GE(at, 0);
      ASSERT_TRUE(step4->listModel()->setData(step4->listModel()->index(at, 0), Qt::Checked, Qt::CheckStateRole));
      ASSERT_TRUE(waitUntil([&] { return !step4->marking(); }));
      TempDir destination;
      ASSERT_NO_FATAL_FAILURE(saveCheckedInto(f, script, destination.path(), false));
      const auto expected = std::find_if(manifest.begin(), manifest.end(), [&](const VolumeRow& r) {
        return r.partition == row.partition && r.path == chosen;
      });
      ASSERT_NE(expected, manifest.end());
      EXPECT_EQ(sha256File(destination.path() / chosen.substr(1)), expected->sha256);

      // Back from Step 4 shows the list again with the choice as it was.
      script.answer(QStringLiteral("QuestionMessage"), true);
      step4->back();
      ASSERT_TRUE(waitUntil([&] { return f.page<ui::ExhaustivePartitionInfo>() != nullptr && script.done(); }));
      step2c = f.page<ui::ExhaustivePartitionInfo>();
      EXPECT_EQ(step2c->nodeTexts(), row.nodes);
      EXPECT_EQ(step2c->tree()->currentItem()->text(0), row.nodes.at(row.chosen - 1));
      const std::string report = readFile(f.session.activityLog().path());
      EXPECT_NE(report.find("Total File Systems Enumerated : "), std::string::npos);
      EXPECT_NE(report.find("Selected File System : " + row.nodes.at(row.chosen - 1).toStdString()),
                std::string::npos);
      // Saved after a volume was chosen, the log still holds the whole range searched.
      step2c->saveLogTo(QString::fromStdString((logs.path() / row.log).string()));
      ASSERT_TRUE(fs::exists(logs.path() / (QString::fromUtf8(row.log).toUpper().toStdString() + ".ST2C")));
    }
    {
      WizardFixture f;
      DialogScript script;
      f.toStep2(image);
      // The name as typed: the log was written upper-cased.
      f.page<ui::PartitionInfo>()->loadLogFrom(
          QString::fromStdString((logs.path() / (std::string(row.log) + ".st2c")).string()));
      ui::FileDisplay* step4 = waitForLostTree(f);
      ASSERT_NE(step4, nullptr);
      expectOwnFiles(*step4->resultTree(), manifest, row.partition);
      if (row.other == 0) continue;
      script.answer(QStringLiteral("QuestionMessage"), true);
      step4->back();
      ASSERT_TRUE(waitUntil([&] { return f.page<ui::ExhaustivePartitionInfo>() != nullptr && script.done(); }));
      auto* step2c = f.page<ui::ExhaustivePartitionInfo>();
      EXPECT_EQ(step2c->nodeTexts(), row.nodes);
      ASSERT_TRUE(step2c->selectFileSystem(row.other));
      step2c->nextButton()->click();
      step4 = waitForLostTree(f);
      ASSERT_NE(step4, nullptr);
      expectOwnFiles(*step4->resultTree(), manifest, row.otherPartition);
    }
  }
  EXPECT_EQ(sha256File(fixturePath(image)), hash) << "the source image changed";
}

}  // namespace
}  // namespace dravolin::test
