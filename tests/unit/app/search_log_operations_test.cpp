// Saving and loading search logs on a session: a ".ST2C" log of a search for
// lost partitions comes back whole, every failed load says the wizard's text
// and leaves the session as it was, a load never switches the disk, and a
// failed write is reported.
#include "app/search_log_operations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/search_operation.h"
#include "disk/memory_source.h"
#include "support/test_support.h"
#include "../results/recording_job.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;

constexpr std::uint64_t kDiskSectors = 4096;

class SearchLogOperationsTest : public ::testing::Test {
 protected:
  void open(Session& session, const std::string& model, std::uint64_t sectors = kDiskSectors) {
    DeviceInfo device = makeImageDevice(2, model, sectors * 512);
    session.setSource(std::make_unique<MemorySectorSource>(sectors), device);
  }
  // A session after a search for lost partitions that found a FAT32 and an
  // NTFS volume, with the NTFS lists kept.
  void fillLostSearch(Session& session) {
    WizardState& s = session.state;
    s.SelectedDrive = 2;
    s.FileSystemType = FsType::Ntfs;
    s.PartitionStart = 0;
    s.PartitionEnd = kDiskSectors;
    s.LostPartitionSearch = true;
    s.ExhaustiveSearch = true;
    s.SelectedFoundFileSystem = 2;
    s.volumeParameters.SectorsPerCluster = 8;
    session.foundFileSystems = {
        FoundFileSystem{"FAT32", 1, 63, 2000, 16, 0, 32, 2, 127, 95, 111},
        FoundFileSystem{"NTFS", 8, 2048, 4096, 0, 0, 0, 0, 2048, 0, 0},
    };
    NtfsFolderEntry folder;
    folder.name = u"Fotos";
    folder.parent.record_number = 5;
    folder.ownNumber = 40;
    folder.numberKnown = true;
    folder.recordSector = 2100;
    folder.fileSystem = 2;
    NtfsFileEntry file;
    file.name = u"urlaub.jpg";
    file.size = 4096;
    file.parent.record_number = 40;
    file.ownNumber = 41;
    file.numberKnown = true;
    file.recordSector = 2102;
    session.lostSearch.ntfs.folders = {folder};
    session.lostSearch.ntfs.files = {file};
  }

  test::TempDir dir;
};

TEST_F(SearchLogOperationsTest, AFoundListComesBackWithItsNtfsListsAndTheChosenDiskStays) {
  std::string written;
  {
    Session before(test::isolatedEnvironment(dir));
    open(before, "/images/disk.img");
    fillLostSearch(before);
    auto saved = saveSearchLog(before, (dir / "lost").string(), SearchLogKind::FoundList);
    ASSERT_TRUE(saved) << saved.error().message;
    written = *saved;
    EXPECT_EQ(written, (dir / "LOST.ST2C").string());
    // fuzz/seed-search-log-corpus.sh keeps this log as a seed of the reader's fuzz target.
    if (const char* seeds = std::getenv("DRAVOLIN_LOG_SEEDS"))
      fs::copy_file(written, fs::path(seeds) / "LOST.ST2C", fs::copy_options::overwrite_existing);
  }
  Session after(test::isolatedEnvironment(dir));
  open(after, "/images/disk.img");
  after.state.SelectedDrive = 7;  // the drive chosen in Step 1
  auto loaded = loadSearchLog(after, written);
  ASSERT_TRUE(loaded) << loaded.error().message;
  EXPECT_TRUE(loaded->acceptedNote.empty());
  EXPECT_EQ(after.state.SelectedDrive, 7u);
  EXPECT_TRUE(after.state.LoadFromLog);
  EXPECT_TRUE(after.state.LostPartitionSearch);
  EXPECT_EQ(after.state.SelectedFoundFileSystem, 2u);
  EXPECT_EQ(after.state.FileSystemType, FsType::Ntfs);
  ASSERT_EQ(after.foundFileSystems.size(), 2u);
  EXPECT_EQ(after.foundFileSystems[0], (FoundFileSystem{"FAT32", 1, 63, 2000, 16, 0, 32, 2, 127, 95, 111}));
  EXPECT_TRUE(after.lostSearch.ntfs.folders.empty());  // the worker brings them

  // The worker of the search: the NTFS lists come back, no sector is needed.
  test::ScriptedPrompter prompter;
  SteadyTickSource ticks;
  SearchController controller(after, prompter, ticks);
  auto worker = makeSearchWorker(after, controller, "CP850");
  ASSERT_TRUE(worker) << worker.error().message;
  controller.start(std::move(*worker));
  EXPECT_EQ(controller.finish([&] { return foundTotals(after); }), SearchOutcome::LostPassList);
  EXPECT_FALSE(after.state.LoadFromLog);
  ASSERT_EQ(after.lostSearch.ntfs.folders.size(), 1u);
  EXPECT_EQ(after.lostSearch.ntfs.folders[0].name, u"Fotos");
  EXPECT_EQ(after.lostSearch.ntfs.folders[0].recordSector, 2100u);
  ASSERT_EQ(after.lostSearch.ntfs.files.size(), 1u);
  EXPECT_EQ(after.lostSearch.ntfs.files[0].name, u"urlaub.jpg");
  EXPECT_EQ(after.lostSearch.ntfs.files[0].parent.record_number, 40u);
  EXPECT_EQ(after.entries.TotalSize, 4096u);
}

// Each failed load: the text shown, and nothing of the session changed.
TEST_F(SearchLogOperationsTest, AFailedLoadSaysWhyAndChangesNothing) {
  Session writer(test::isolatedEnvironment(dir));
  open(writer, "/images/disk.img");
  fillLostSearch(writer);
  auto good = saveSearchLog(writer, (dir / "good").string(), SearchLogKind::Results);
  ASSERT_TRUE(good);
  const std::string bytes = test::readFile(*good);
  test::writeFile(dir / "CUT.ST4", bytes.substr(0, bytes.size() - 1));
  test::writeFile(dir / "NOTE.TXT", bytes);
  writer.state.PartitionEnd = kDiskSectors + 1;  // past the end of a disk of that size
  auto beyond = saveSearchLog(writer, (dir / "beyond").string(), SearchLogKind::Results);
  ASSERT_TRUE(beyond);

  struct Row {
    const char* what;
    std::string path;
    std::string model;
    std::uint64_t sectors;
    std::string message;
  };
  const Row rows[] = {
      {"empty path", "", "/images/disk.img", kDiskSectors, "Please specify log path."},
      {"not a log by its name", (dir / "NOTE.TXT").string(), "/images/disk.img", kDiskSectors, ""},
      {"no such file", (dir / "NONE.ST4").string(), "/images/disk.img", kDiskSectors, "Unable to open file."},
      {"another disk of another size", *good, "/images/other.img", kDiskSectors * 2, "You Have Selected Wrong Disk."},
      {"a range past the end of the disk", *beyond, "/images/disk.img", kDiskSectors,
       "You Have Selected Wrong Disk."},
      {"one byte short", (dir / "CUT.ST4").string(), "/images/disk.img", kDiskSectors, "Error in file."},
  };
  for (const Row& row : rows) {
    Session session(test::isolatedEnvironment(dir));
    open(session, row.model, row.sectors);
    session.state.FileSystemType = FsType::Fat16;
    session.state.PartitionStart = 63;
    session.state.PartitionEnd = 1000;
    session.state.LoadFromLog = true;  // left over from an earlier load
    auto loaded = loadSearchLog(session, row.path);
    ASSERT_FALSE(loaded) << row.what;
    EXPECT_EQ(loaded.error().message, row.message) << row.what;
    EXPECT_FALSE(session.state.LoadFromLog) << row.what;
    EXPECT_EQ(session.state.FileSystemType, FsType::Fat16) << row.what;
    EXPECT_EQ(session.state.PartitionStart, 63u) << row.what;
    EXPECT_EQ(session.state.PartitionEnd, 1000) << row.what;
    EXPECT_FALSE(session.state.LostPartitionSearch) << row.what;
    EXPECT_TRUE(session.foundFileSystems.empty()) << row.what;
  }

  // A search started in log-loading mode without a log read ends with the
  // message, never as a finished search.
  Session session(test::isolatedEnvironment(dir));
  open(session, "/images/disk.img");
  session.state.FileSystemType = FsType::Fat16;
  session.state.LoadFromLog = true;
  test::ScriptedPrompter prompter;
  SteadyTickSource ticks;
  SearchController controller(session, prompter, ticks);
  auto worker = makeSearchWorker(session, controller, "CP850");
  ASSERT_TRUE(worker);
  controller.start(std::move(*worker));
  EXPECT_EQ(controller.finish([&] { return foundTotals(session); }), SearchOutcome::Failed);
  EXPECT_EQ(controller.error(), "Error in file.");
  EXPECT_FALSE(session.state.LoadFromLog);
}

// An existing log that is read-only is reported as such and left as it
// is; a log path that is a symbolic link is not followed (the file it names
// stays unchanged); a writable existing log is replaced.
TEST_F(SearchLogOperationsTest, AReadOnlyLogOrALinkIsNotWrittenThrough) {
  Session session(test::isolatedEnvironment(dir));
  open(session, "/images/disk.img");
  fillLostSearch(session);
  test::writeFile(dir / "READONLY.ST4", "kept");
  fs::permissions(dir / "READONLY.ST4", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  test::writeFile(dir / "target.txt", "kept");
  fs::create_symlink(dir / "target.txt", dir / "LINK.ST4");
  test::writeFile(dir / "OLD.ST4", "old");
  struct Row {
    const char* what;
    std::string name;
    std::string message;  // empty: saved
    fs::path untouched;
  };
  const Row rows[] = {
      {"read-only", "readonly", "the file is read-only", dir / "READONLY.ST4"},
      {"symbolic link", "link", "it is a symbolic link", dir / "target.txt"},
      {"writable", "old", "", {}},
  };
  for (const Row& row : rows) {
    auto saved = saveSearchLog(session, (dir / row.name).string(), SearchLogKind::Results);
    if (row.message.empty()) {
      ASSERT_TRUE(saved) << row.what << ": " << saved.error().message;
      EXPECT_GT(fs::file_size(*saved), 100u) << row.what;
      continue;
    }
    ASSERT_FALSE(saved) << row.what;
    EXPECT_NE(saved.error().message.find(row.message), std::string::npos) << row.what << ": " << saved.error().message;
    EXPECT_EQ(test::readFile(row.untouched), "kept") << row.what;
  }
}

TEST_F(SearchLogOperationsTest, ASaveThatCannotBeWrittenIsReported) {
  Session session(test::isolatedEnvironment(dir));
  open(session, "/images/disk.img");
  fillLostSearch(session);
  struct Row {
    const char* what;
    std::string path;
    SearchLogKind kind;
    std::string messageStart;
  };
  fs::create_symlink("/dev/full", dir / "FULL.ST4");
  const Row rows[] = {
      {"empty path, results", "", SearchLogKind::Results, "Please specify Step 4 saving log path."},
      {"empty path, found list", "", SearchLogKind::FoundList, "Please specify Step 2C saving log path."},
      {"folder missing", (dir / "none" / "log").string(), SearchLogKind::Results,
       "Unable to open file. Please close if this file is opened."},
      {"the disk is full", (dir / "full").string(), SearchLogKind::Results, "Unable to write the log file "},
  };
  for (const Row& row : rows) {
    auto saved = saveSearchLog(session, row.path, row.kind);
    ASSERT_FALSE(saved) << row.what;
    EXPECT_TRUE(saved.error().message.starts_with(row.messageStart)) << row.what << ": " << saved.error().message;
  }
}

}  // namespace
}  // namespace dravolin
