#include "results/saving.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "common/byte_reader.h"
#include "disk/fault_injecting_source.h"
#include "disk/memory_source.h"
#include "recording_job.h"
#include "results/destination.h"

namespace dravolin {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::RecordingJob;
using test::TempDir;
using test::writeFile;

// A FAT16 volume in memory: FAT1 at sector 1, FAT2 at 9 (8 sectors each),
// a root directory of 32 sectors at 17, 4 sectors (2 KiB) per cluster, so
// cluster n starts at sector 41 + 4 n - 8.
constexpr std::uint64_t kSectorsPerCluster = 4;
constexpr std::uint64_t kClusterBytes = kSectorsPerCluster * kSectorSize;
constexpr std::uint64_t kClusterBase = 17 + 32 - 2 * kSectorsPerCluster;
constexpr std::uint64_t kVolumeSectors = kClusterBase + kSectorsPerCluster * 130;

struct Volume {
  MemorySectorSource disk{kVolumeSectors};
  VolumeParameters parameters;
  Volume() {
    parameters.Fat1Start = 1;
    parameters.FatSectors = 8;
    parameters.Fat2Start = 9;
    parameters.RootDirStart = 17;
    parameters.RootDirSectors = 32;
    parameters.SectorsPerCluster = kSectorsPerCluster;
    parameters.ClusterBase = kClusterBase;
    // Every cluster holds its own recognisable bytes.
    std::mt19937 random(7);
    for (std::uint32_t c = 2; c < 130; ++c)
      for (std::uint64_t i = 0; i < kClusterBytes; ++i)
        disk.bytes()[(kClusterBase + c * kSectorsPerCluster) * kSectorSize + i] =
            static_cast<std::byte>(random() & 0xFF);
  }
  void link(std::uint64_t fatStart, const std::vector<std::uint32_t>& chain, bool terminate = true) {
    for (std::size_t i = 0; i < chain.size(); ++i) {
      const std::uint32_t next = i + 1 < chain.size() ? chain[i + 1] : (terminate ? 0xFFFF : 0);
      writeU16(std::span<std::byte>(disk.bytes()), fatStart * kSectorSize + chain[i] * 2,
               static_cast<std::uint16_t>(next));
    }
  }
  std::string data(const std::vector<std::uint32_t>& chain, std::uint64_t size) {
    std::string out;
    for (std::uint32_t c : chain) {
      const auto* at = reinterpret_cast<const char*>(disk.bytes().data()) +
                       (kClusterBase + c * kSectorsPerCluster) * kSectorSize;
      out.append(at, kClusterBytes);
    }
    out.resize(size);
    return out;
  }
};

struct SaveRun {
  SavingResult result;
  std::string history;
};

struct SavingTest : ::testing::Test {
  Volume volume;
  FoundEntries entries;
  SavingSettings settings;
  TempDir dir;
  fs::path destination = dir / "out";
  std::size_t docs = 0;

  void SetUp() override { docs = entries.AddDirectoryNode("DOCS", u"", false, 0, 100, 0, {}); }

  std::size_t addFile(const std::string& name, std::uint32_t parent, std::uint32_t first, std::uint64_t size,
                      bool deleted = false) {
    return entries.AddFileNode("", std::u16string(name.begin(), name.end()), deleted, size, parent, first, 0, {});
  }

  SaveRun save(SectorSource& source, RecordingJob& job, bool checkAll = true) {
    SectorReader reader(source);
    reader.setPolicy(BadSectorPolicy::SkipAll);
    ResultTree tree(entries, FsType::Fat16);
    tree.build();
    if (checkAll) tree.checkFolder(ResultTree::kTopItem);
    Saver saver(tree, settings, SavingSource{reader, volume.parameters, FsType::Fat16, kVolumeSectors});
    const SelectionCount count = saver.countSelection(job);
    LogFile history(LogKind::Recovery, dir / "logs");
    SaveRun run;
    run.result = saver.save(job, destination, count, history, {"Dravolin - Desktop Recovery", "date line"});
    run.history = readFile(history.path());
    return run;
  }
  SaveRun save(RecordingJob& job, bool checkAll = true) { return save(volume.disk, job, checkAll); }
};

TEST_F(SavingTest, ChainSourcesAndTheirFallBacks) {
  // 10,000 bytes with 2 KiB clusters need 5 clusters.
  const std::vector<std::uint32_t> scattered{10, 20, 11, 21, 12};
  const std::vector<std::uint32_t> otherScattered{10, 30, 31, 32, 33};
  const std::vector<std::uint32_t> contiguous{10, 11, 12, 13, 14};
  struct Case {
    const char* what;
    int source;
    std::vector<std::uint32_t> fat1, fat2;
    bool deleted;
    std::vector<std::uint32_t> expected;
  };
  for (const Case& c : {
           Case{"auto takes a fitting first FAT", 0, scattered, otherScattered, false, scattered},
           Case{"auto falls back to the second FAT", 0, {10, 20, 11, 21}, otherScattered, false, otherScattered},
           Case{"a chain of 4 is rejected: contiguous", 0, {10, 20, 11, 21}, {10, 20}, false, contiguous},
           Case{"a chain longer than needed is cut to 5", 0, {10, 20, 11, 21, 12, 22, 13}, {}, false, scattered},
           Case{"first FAT only", 1, {10, 20, 11, 21}, otherScattered, false, contiguous},
           Case{"second FAT only", 2, scattered, otherScattered, false, otherScattered},
           Case{"contiguous reads no FAT", 3, scattered, otherScattered, false, contiguous},
           Case{"deleted file with free entries", 0, {}, {}, true, contiguous},
       }) {
    SCOPED_TRACE(c.what);
    Volume fresh;
    volume.disk.bytes() = fresh.disk.bytes();
    if (!c.fat1.empty()) volume.link(1, c.fat1);
    if (!c.fat2.empty()) volume.link(9, c.fat2);
    entries.clear();
    SetUp();
    addFile("file.bin", 100, 10, 10000, c.deleted);
    settings.FatCopySource = c.source;
    fs::remove_all(destination);
    RecordingJob job;
    const SaveRun run = save(job);
    EXPECT_EQ(run.result.message, kSavingCompletedMessage);
    EXPECT_EQ(readFile(destination / "DOCS" / "file.bin"), volume.data(c.expected, 10000));
  }
}

TEST_F(SavingTest, MirrorsTheTreeAndWritesTheReport) {
  volume.link(1, {2, 3});
  volume.link(1, {4});
  addFile("root.txt", 0, 2, 3000);
  addFile("inside.txt", 100, 4, 100);
  addFile("empty.txt", 100, 0, 0);
  RecordingJob job;
  const SaveRun run = save(job);
  EXPECT_EQ(readFile(destination / "root.txt"), volume.data({2, 3}, 3000));
  EXPECT_EQ(readFile(destination / "DOCS" / "inside.txt"), volume.data({4}, 100));
  EXPECT_TRUE(fs::exists(destination / "DOCS" / "empty.txt"));
  EXPECT_EQ(fs::file_size(destination / "DOCS" / "empty.txt"), 0u);
  EXPECT_EQ(run.result.filesWritten, 3u);
  EXPECT_EQ(run.result.bytesWritten, 3100u);
  EXPECT_EQ(run.result.progress.CopiedSize, 3100u);
  EXPECT_EQ(run.result.progress.SelectedSize, 3100u);
  EXPECT_TRUE(run.result.completed);
  for (const char* line : {"-----------------------Start--------------------------", "Dravolin - Desktop Recovery",
                           "Saving Report :", "--------------", "Size Required : 0.003 MB size in",
                           "Size Copied : 0.003 MB size in", "Last Name : empty.txt",
                           "Saving completed successfully."})
    EXPECT_NE(run.history.find(line), std::string::npos) << line;
}

TEST_F(SavingTest, SelectionModes) {
  volume.link(1, {2});
  volume.link(1, {3});
  const std::size_t a = addFile("a.txt", 100, 2, 10);
  addFile("b.txt", 100, 3, 10);
  struct Case {
    int mode;
    bool checkTop;
    bool aWritten, bWritten;
  };
  for (const Case& c : {Case{0, true, true, false}, Case{1, false, true, true}, Case{2, false, false, true},
                        Case{0, false, false, false}}) {
    SCOPED_TRACE(c.mode);
    fs::remove_all(destination);
    settings.SaveSelectionMode = c.mode;
    ResultTree tree(entries, FsType::Fat16);
    tree.build();
    tree.uncheckFolder(ResultTree::kTopItem);
    tree.setFileChecked(a, true);
    if (c.checkTop) tree.checkPathTo(*tree.itemOfDirectory(docs));
    SectorReader reader(volume.disk);
    Saver saver(tree, settings, SavingSource{reader, volume.parameters, FsType::Fat16, kVolumeSectors});
    RecordingJob job;
    LogFile history(LogKind::Recovery, dir / "logs");
    saver.save(job, destination, saver.countSelection(job), history, {});
    EXPECT_EQ(fs::exists(destination / "DOCS" / "a.txt"), c.aWritten);
    EXPECT_EQ(fs::exists(destination / "DOCS" / "b.txt"), c.bWritten);
  }
}

TEST_F(SavingTest, CountsWhatPassesEveryFilter) {
  addFile("keep.jpg", 100, 2, 1000, true);
  addFile("live.jpg", 100, 3, 2000, false);
  addFile("other.txt", 100, 4, 4000, true);
  addFile("lost.jpg", kLostId, 5, 8000, true);  // under no folder of the tree
  settings.SaveDeletedFilter = 2;
  settings.SaveExtensionList = {"JPG"};
  ResultTree tree(entries, FsType::Fat16);
  tree.build();
  tree.checkFolder(ResultTree::kTopItem);
  SectorReader reader(volume.disk);
  Saver saver(tree, settings, SavingSource{reader, volume.parameters, FsType::Fat16, kVolumeSectors});
  RecordingJob job;
  const SelectionCount count = saver.countSelection(job);
  EXPECT_EQ(count.SelectedFileCount, 1);
  EXPECT_EQ(count.SelectedSize, 1000u);
}

TEST_F(SavingTest, EveryReplaceAnswerOnAnExistingFile) {
  volume.link(1, {2});
  volume.link(1, {3});
  addFile("one.txt", 100, 2, 50);
  addFile("two.txt", 100, 3, 60);
  const std::string fresh1 = volume.data({2}, 50), fresh2 = volume.data({3}, 60);
  struct Case {
    const char* what;
    std::vector<ReplaceAnswer> answers;
    std::string one, two;              // contents afterwards
    std::vector<std::string> created;  // new names made
    std::size_t questions;
    const char* message;
  };
  for (const Case& c : {
           Case{"yes, then no", {ReplaceAnswer::Yes, ReplaceAnswer::No}, fresh1, "old two", {}, 2,
                kSavingCompletedMessage},
           Case{"yes to all", {ReplaceAnswer::YesToAll}, fresh1, fresh2, {}, 1, kSavingCompletedMessage},
           // The first skipped file counts as copied, the second does not.
           Case{"no to all", {ReplaceAnswer::NoToAll}, "old one", "old two", {}, 1, kSavingNotCompletedMessage},
           Case{"rename, then no", {ReplaceAnswer::Rename, ReplaceAnswer::No}, "old one", "old two", {"one0.txt"}, 2,
                kSavingCompletedMessage},
           Case{"rename all", {ReplaceAnswer::RenameAll}, "old one", "old two", {"one0.txt", "two0.txt"}, 1,
                kSavingCompletedMessage},
       }) {
    SCOPED_TRACE(c.what);
    fs::remove_all(destination);
    writeFile(destination / "DOCS" / "one.txt", "old one");
    writeFile(destination / "DOCS" / "two.txt", "old two");
    RecordingJob job;
    job.questions.replaceAnswers.assign(c.answers.begin(), c.answers.end());
    const SaveRun run = save(job);
    EXPECT_EQ(readFile(destination / "DOCS" / "one.txt"), c.one);
    EXPECT_EQ(readFile(destination / "DOCS" / "two.txt"), c.two);
    for (const auto& name : c.created) EXPECT_TRUE(fs::exists(destination / "DOCS" / name)) << name;
    EXPECT_EQ(job.questions.questions.size(), c.questions);
    EXPECT_EQ(run.result.message, c.message);
    EXPECT_NE(run.history.find(c.message), std::string::npos);
  }
}

TEST_F(SavingTest, NamesFromTheDiskStayInsideTheDestination) {
  volume.link(1, {2});
  const std::size_t evil = entries.AddDirectoryNode("", u"..", false, 0, 200, 0, {});
  (void)evil;
  entries.AddDirectoryNode("", u"", false, 0, 201, 0, {});
  addFile("../../escaped.txt", 200, 2, 10);
  addFile("/etc/passwd", 100, 2, 10);
  addFile(std::string("ctrl\x01\n.txt"), 201, 2, 10);
  addFile("", 100, 2, 10);
  RecordingJob job;
  const SaveRun run = save(job);
  EXPECT_TRUE(run.result.completed) << run.result.message;
  EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
  EXPECT_FALSE(fs::exists(dir.path().parent_path() / "escaped.txt"));
  EXPECT_TRUE(fs::exists(destination / "__" / ".._.._escaped.txt"));
  EXPECT_TRUE(fs::exists(destination / "DOCS" / "_etc_passwd"));
  EXPECT_TRUE(fs::exists(destination / "_" / "ctrl__.txt"));
  EXPECT_TRUE(fs::exists(destination / "DOCS" / "_"));
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
    const std::string path = entry.path().lexically_normal().string();
    EXPECT_TRUE(path.starts_with(destination.string()) || path.starts_with((dir / "logs").string())) << path;
  }
}

TEST_F(SavingTest, ReadErrorsAreReportedNotHidden) {
  volume.link(1, {2, 3});
  addFile("bad.bin", 100, 2, 4096);
  FaultInjectingSource failing(volume.disk, {kClusterBase + 3 * kSectorsPerCluster + 1});
  RecordingJob job;
  const SaveRun run = save(failing, job);
  const std::string written = readFile(destination / "DOCS" / "bad.bin");
  ASSERT_EQ(written.size(), 4096u);  // written to its full size
  std::string expected = volume.data({2, 3}, 4096);
  std::fill(expected.begin() + 2048 + 512, expected.begin() + 2048 + 1024, '\0');
  EXPECT_EQ(written, expected);
  ASSERT_EQ(run.result.errors.size(), 1u);
  EXPECT_NE(run.result.errors[0].error.find("1 unreadable sector(s)"), std::string::npos);
  EXPECT_EQ(run.result.message, kSavingNotCompletedMessage);
  EXPECT_NE(run.history.find("bad.bin : 1 unreadable sector(s) were written as zeros"), std::string::npos);
  EXPECT_NE(run.history.find(kSavingNotCompletedMessage), std::string::npos);
}

// A FAT sector that cannot be read in one copy is read in the other; a chain
// that no chosen copy could give is saved contiguously and the file is an
// error, never a silent success.
TEST_F(SavingTest, UnreadableFatSectorsUnderAChain) {
  const std::vector<std::uint32_t> scattered{10, 20, 11, 21, 12};
  const std::vector<std::uint32_t> contiguous{10, 11, 12, 13, 14};
  const std::string kChainUnreadable = "chain unreadable: saved contiguously, may be wrong";
  struct Case {
    const char* what;
    int source;
    std::set<SectorNumber> bad;  // FAT1 is sector 1, FAT2 sector 9
    std::vector<std::uint32_t> expected;
    bool marked;
  };
  for (const Case& c : {
           Case{"first FAT fails: the second gives the chain", 0, {1}, scattered, false},
           Case{"second FAT fails: the first gives the chain", 0, {9}, scattered, false},
           Case{"both fail", 0, {1, 9}, contiguous, true},
           Case{"first FAT only, and it fails", 1, {1}, contiguous, true},
       }) {
    SCOPED_TRACE(c.what);
    Volume fresh;
    volume.disk.bytes() = fresh.disk.bytes();
    volume.link(1, scattered);
    volume.link(9, scattered);
    entries.clear();
    SetUp();
    addFile("file.bin", 100, 10, 10000);
    settings.FatCopySource = c.source;
    fs::remove_all(destination);
    FaultInjectingSource failing(volume.disk, c.bad);
    RecordingJob job;
    const SaveRun run = save(failing, job);
    EXPECT_EQ(readFile(destination / "DOCS" / "file.bin"), volume.data(c.expected, 10000));
    if (c.marked) {
      ASSERT_EQ(run.result.errors.size(), 1u);
      EXPECT_EQ(run.result.errors[0].error, kChainUnreadable);
      EXPECT_EQ(run.result.message, kSavingNotCompletedMessage);
      EXPECT_NE(run.history.find("file.bin : " + kChainUnreadable), std::string::npos);
    } else {
      EXPECT_TRUE(run.result.errors.empty());
      EXPECT_EQ(run.result.message, kSavingCompletedMessage);
    }
  }
}

TEST_F(SavingTest, ClustersBeyondTheVolumeAreReported) {
  addFile("tail.bin", 100, 128, 3 * kClusterBytes, true);  // contiguous 128..130: 130 is past the end
  RecordingJob job;
  const SaveRun run = save(job);
  EXPECT_EQ(fs::file_size(destination / "DOCS" / "tail.bin"), 3 * kClusterBytes);
  ASSERT_EQ(run.result.errors.size(), 1u);
  EXPECT_NE(run.result.errors[0].error.find("beyond the end"), std::string::npos);
  EXPECT_FALSE(run.result.completed);
}

TEST_F(SavingTest, AnUncreatableFileCanBeSkippedOrAbortTheSaving) {
  volume.link(1, {2});
  addFile("a.txt", 100, 2, 10);
  addFile("b.txt", 100, 2, 10);
  for (bool abort : {false, true}) {
    SCOPED_TRACE(abort);
    fs::remove_all(destination);
    // A folder where the file should go: it cannot be opened as a file.
    fs::create_directories(destination / "DOCS" / "a.txt");
    RecordingJob job;
    job.questions.replaceAnswers = {ReplaceAnswer::Yes};
    job.questions.yesNoAnswers = {abort};
    const SaveRun run = save(job);
    EXPECT_EQ(fs::exists(destination / "DOCS" / "b.txt"), !abort);
    EXPECT_EQ(run.result.aborted, abort);
    EXPECT_EQ(run.result.message, kSavingNotCompletedMessage);
    ASSERT_FALSE(run.result.errors.empty());
    EXPECT_NE(job.questions.questions.back().find(kFileCreationTitle), std::string::npos);
  }
}

TEST_F(SavingTest, StopWritesTheReportWithoutTheFinalLine) {
  for (std::uint32_t c = 2; c < 12; ++c) {
    volume.link(1, {c});
    addFile("f" + std::to_string(c), 100, c, 100);
  }
  RecordingJob job;
  job.stopAfterCheckpoints = 6;
  const SaveRun run = save(job);
  EXPECT_TRUE(run.result.stopped);
  EXPECT_EQ(run.result.message, kSavingAbortedMessage);
  EXPECT_LT(run.result.filesWritten, 10u);
  EXPECT_NE(run.history.find("Saving Report :"), std::string::npos);
  EXPECT_EQ(run.history.find("Saving completed"), std::string::npos);
  EXPECT_EQ(run.history.find("Saving not completed"), std::string::npos);
}

TEST_F(SavingTest, SkipEndsTheCurrentFileOnly) {
  volume.link(1, {10, 20, 30});
  volume.link(1, {40});
  addFile("big.bin", 100, 10, 3 * kClusterBytes);
  addFile("next.bin", 100, 40, 100);
  ResultTree tree(entries, FsType::Fat16);
  tree.build();
  tree.checkFolder(ResultTree::kTopItem);
  SectorReader reader(volume.disk);
  Saver saver(tree, settings, SavingSource{reader, volume.parameters, FsType::Fat16, kVolumeSectors});
  RecordingJob job;
  const SelectionCount count = saver.countSelection(job);
  // Checkpoints of the saving: the root, DOCS, big.bin, its first run.
  job.checkpoints = 0;
  job.onCheckpoint = [&](int n) {
    if (n == 4) saver.skipCurrentFile();
  };
  LogFile history(LogKind::Recovery, dir / "logs");
  const SavingResult result = saver.save(job, destination, count, history, {});
  EXPECT_EQ(readFile(destination / "DOCS" / "big.bin"), volume.data({10}, kClusterBytes));
  EXPECT_EQ(readFile(destination / "DOCS" / "next.bin"), volume.data({40}, 100));
  EXPECT_EQ(result.message, kSavingNotCompletedMessage);
}

TEST(SavingTexts, TimesAndTheFreeSpaceQuestion) {
  struct Case {
    std::uint64_t elapsed, selected, copied;
    const char* elapsedText;
    const char* remainingText;
  };
  for (const Case& c : {Case{0, 1000, 500, "00:00:00", "00:00:00"},
                        Case{125, 1000, 500, "2 Min 5 Sec", "2 Min 5 Sec"},
                        Case{10, 1000, 1000, "0 Min 10 Sec", "0 Min 0 Sec"},
                        Case{10, 1000, 0, "0 Min 10 Sec", "00:00:00"}}) {
    const SavingTimes t = savingTimes(c.elapsed, c.selected, c.copied);
    EXPECT_EQ(t.elapsed, c.elapsedText);
    EXPECT_EQ(t.remaining, c.remainingText);
  }
  EXPECT_EQ(insufficientSpaceQuestion(1073741825ULL),
            "Insufficient free space on destination drive. Selected file/folder requires 1.000 GB of free space. "
            "Press Yes if you want continue with it.");
  EXPECT_TRUE(needsFreeSpaceQuestion(100, 100));  // equal still asks
  EXPECT_FALSE(needsFreeSpaceQuestion(99, 100));
}

}  // namespace
}  // namespace dravolin
