#include "imaging/image_creation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "common/worker_job.h"
#include "disk/fault_injecting_source.h"
#include "disk/memory_source.h"
#include "imaging/image_pieces.h"
#include "imaging_test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using test::asString;
using test::patternBytes;
using test::readFile;
using test::RecordingJob;

class ImageCreationTest : public ::testing::Test {
 protected:
  ImageCreationTest() : log(LogKind::Activity, dir.path()) {}

  // Images sectors [start, end) of source into dir/name.
  std::unique_ptr<ImagingResult> imageToFiles(SectorReader& reader, SectorNumber start, SectorNumber end,
                                              const std::string& name, bool multiFile,
                                              std::uint64_t pieceSectors, RecordingJob& job,
                                              std::uint32_t transferSectors = 7, Result<void>* ran = nullptr) {
    ImagingRequest request;
    request.source = &reader;
    request.start = start;
    request.end = end;
    request.settings.ImageDestination = dir / name;
    request.settings.MultiFileImage = multiFile;
    request.settings.overwrite = overwrite;
    request.settings.badSectorList = badSectorListPath(dir / name);
    request.settings.hashList = hashListPath(dir / name);
    request.activityLog = &log;
    request.elapsedText = [] { return std::string("0 : 0 : 3"); };
    request.pieceSectors = pieceSectors;
    request.transferSectors = transferSectors;
    auto result = std::make_unique<ImagingResult>();
    auto outcome = runImageCreation(job, request, *result);
    if (ran) *ran = outcome;
    else EXPECT_TRUE(outcome) << outcome.error().message;
    return result;
  }
  std::string activityLog() { return readFile(log.path()); }
  std::string lastLogLine() {
    std::string text = activityLog();
    return text.substr(text.rfind("\r\n") + 2);
  }

  test::TempDir dir;
  LogFile log;
  bool overwrite = false;  // the copies replace image files of their names
};

std::string concatenated(const std::vector<fs::path>& pieces) {
  std::string all;
  for (const auto& p : pieces) all += readFile(p);
  return all;
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// md5sum or sha256sum of the pieces joined, from coreutils.
std::string coreutilsDigest(const std::string& tool, const std::vector<fs::path>& pieces) {
  std::string command = "cat";
  for (const auto& p : pieces) command += " " + quoted(p.string());
  std::string out = test::runShell(command + " | " + tool);
  return out.substr(0, out.find(' '));
}

TEST_F(ImageCreationTest, PiecesAreNamedAndCutAtThePieceSize) {
  struct Case {
    std::uint64_t sectors;
    bool multiFile;
    std::string destination;
    std::vector<std::pair<std::string, std::uint64_t>> pieces;  // name, bytes
  };
  const std::vector<Case> cases = {
      {10, true, "exact.img", {{"exact0.img", 5120}}},                        // one full piece, no empty second
      {11, true, "plus.img", {{"plus0.img", 5120}, {"plus1.img", 512}}},       // one sector more
      {25, true, "three.img", {{"three0.img", 5120}, {"three1.img", 5120}, {"three2.img", 2560}}},
      {25, false, "single.img", {{"single0.img", 12800}}},                    // no splitting
      {3, true, "disk.raw", {{"disk0.img", 1536}}},                           // last four characters go
      {12, true, "Image", {{"Image0.img", 5120}, {"Image1.img", 1024}}},  // no extension: nothing cut
  };
  MemorySectorSource memory(patternBytes(0, 40));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.destination);
    SectorReader reader(memory);
    RecordingJob job;
    auto result = imageToFiles(reader, 5, 5 + c.sectors, c.destination, c.multiFile, 10, job);
    EXPECT_TRUE(result->completed);
    EXPECT_EQ(result->message, kImageCompleted);
    EXPECT_EQ(job.completion, Completion::WorkerFinished);
    ASSERT_EQ(result->pieces.size(), c.pieces.size());
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      EXPECT_EQ(result->pieces[i], dir / c.pieces[i].first);
      EXPECT_EQ(fs::file_size(result->pieces[i]), c.pieces[i].second);
    }
    EXPECT_EQ(concatenated(result->pieces), asString(patternBytes(5, c.sectors)));
    EXPECT_EQ(result->sectorsCopied.load(), c.sectors);
    EXPECT_EQ(job.lastName, result->pieces.back().string());
    EXPECT_EQ(job.lastPercent, 100);
  }
}

TEST_F(ImageCreationTest, AShorterImageRemovesOnlyTheStaleNextPiece) {
  overwrite = true;
  MemorySectorSource memory(patternBytes(0, 40));
  SectorReader reader(memory);
  RecordingJob first;
  auto three = imageToFiles(reader, 0, 25, "set.img", true, 10, first);
  ASSERT_EQ(three->pieces.size(), 3u);
  fs::permissions(dir / "set1.img", fs::perms::owner_write, fs::perm_options::remove);

  RecordingJob second;
  auto one = imageToFiles(reader, 0, 8, "set.img", true, 10, second);
  ASSERT_EQ(one->pieces.size(), 1u);
  EXPECT_EQ(fs::file_size(dir / "set0.img"), 8u * 512);
  EXPECT_FALSE(fs::exists(dir / "set1.img")) << "the next piece, even read-only, is removed";
  EXPECT_TRUE(fs::exists(dir / "set2.img")) << "only the next piece goes";

  // A single-file image also removes a piece 1 that would make its reader
  // take it for the start of a series.
  test::writeFile(dir / "set1.img", "stale");
  RecordingJob third;
  auto single = imageToFiles(reader, 0, 30, "set.img", false, 10, third);
  EXPECT_TRUE(single->completed);
  EXPECT_EQ(fs::file_size(dir / "set0.img"), 30u * 512);
  EXPECT_FALSE(fs::exists(dir / "set1.img"));
}

TEST_F(ImageCreationTest, ReadOnlyPieceIsReplaced) {
  overwrite = true;
  MemorySectorSource memory(patternBytes(0, 10));
  SectorReader reader(memory);
  test::writeFile(dir / "ro0.img", std::string(9000, 'x'));
  fs::permissions(dir / "ro0.img", fs::perms::owner_read, fs::perm_options::replace);
  RecordingJob job;
  auto result = imageToFiles(reader, 0, 10, "ro.img", false, 10, job);
  EXPECT_TRUE(result->completed);
  EXPECT_EQ(readFile(dir / "ro0.img"), asString(patternBytes(0, 10)));
}

TEST_F(ImageCreationTest, UnreadableSectorsAreZeroFilledAndListed) {
  const std::set<SectorNumber> bad = {3, 40, 41, 199, 1000, 1023};
  struct Case {
    const char* name;
    BadSectorPolicy policy;
    int questions;  // bad-sector questions: one per failing one-sector call
  };
  for (const Case& c : {Case{"skip", BadSectorPolicy::Skip, 6}, Case{"retry", BadSectorPolicy::Retry, 6},
                        Case{"skipall", BadSectorPolicy::SkipAll, 0}, Case{"retryall", BadSectorPolicy::RetryAll, 0}}) {
    SCOPED_TRACE(c.name);
    MemorySectorSource memory(patternBytes(0, 1100));
    FaultInjectingSource failing(memory, bad);
    RecordingJob job;
    SectorReader reader(failing, &job.prompter_);
    reader.setPolicy(c.policy);
    reader.setSelectionEnd(1050);
    auto result = imageToFiles(reader, 2, 1050, std::string(c.name) + ".img", false, 10000, job, 64);
    EXPECT_TRUE(result->completed) << "unreadable sectors do not abort the copy";
    EXPECT_EQ(job.prompter_.badSectorQuestions, c.questions);

    std::string expected = asString(patternBytes(2, 1048));
    for (SectorNumber s : bad) expected.replace((s - 2) * kSectorSize, kSectorSize, std::string(kSectorSize, '\0'));
    EXPECT_EQ(readFile(dir / (std::string(c.name) + "0.img")), expected);

    EXPECT_EQ(result->unreadableSectors, bad.size());
    ASSERT_EQ(result->badSectorList, badSectorListPath(dir / (std::string(c.name) + ".img")));
    EXPECT_EQ(readFile(result->badSectorList), "3\n40\n41\n199\n1000\n1023\n");
    EXPECT_EQ(lastLogLine(), "Unreadable Sectors : 6");
    // The count is exact, so the copy completes, but its message says what
    // could not be read, and the ranges are kept.
    EXPECT_EQ(result->message, "Image creation completed: 6 sectors could not be read and were written as zeros (see " +
                                   result->badSectorList.string() + ")");
    EXPECT_EQ(result->unreadable, (std::vector<SectorRange>{{3, 4}, {40, 42}, {199, 200}, {1000, 1001}, {1023, 1024}}));
    EXPECT_NE(activityLog().find("Unreadable Sector Ranges : 6 sectors: 3, 40-41, 199, 1000, 1023\r\n"),
              std::string::npos)
        << activityLog();
    // The hashes are those of the zero-filled copy, not of the sectors as
    // the disk holds them.
    const fs::path image = dir / (std::string(c.name) + "0.img");
    EXPECT_EQ(result->hashes.md5, coreutilsDigest("md5sum", {image}));
    EXPECT_EQ(result->hashes.sha256, test::sha256File(image));
  }
}

TEST_F(ImageCreationTest, WithoutOverwriteATakenNameIsRefusedAndTheFilesBesideItStay) {
  // Another run's image (or an earlier one) holds the name: the copy ends
  // before writing anything, and that image, its hash list and its list of
  // unreadable sectors are left as they are.
  struct Case {
    const char* name;
    bool multiFile;
    std::vector<std::string> taken;  // pieces that exist before the copy
    std::size_t refusedPiece;        // the piece whose creation is refused
  };
  const Case cases[] = {
      {"single", false, {"single0.img"}, 0},
      {"first", true, {"first0.img"}, 0},
      {"second", true, {"second1.img"}, 1},  // a piece left behind that the copy would reach
  };
  MemorySectorSource memory(patternBytes(0, 40));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& piece : c.taken) test::writeFile(dir / piece, "another run's image");
    const fs::path destination = dir / (std::string(c.name) + ".img");
    test::writeFile(hashFilePath(hashListPath(destination), "md5"), "another run's hashes");
    test::writeFile(badSectorListPath(destination), "17\n");
    SectorReader reader(memory);
    RecordingJob job;
    Result<void> ran;
    auto result = imageToFiles(reader, 0, 25, std::string(c.name) + ".img", c.multiFile, 10, job, 7, &ran);
    ASSERT_FALSE(ran);
    EXPECT_NE(ran.error().message.find((dir / c.taken.front()).string() + ": the file already exists"),
              std::string::npos)
        << ran.error().message;
    EXPECT_NE(job.completion, Completion::WorkerFinished);
    for (const auto& piece : c.taken) EXPECT_EQ(readFile(dir / piece), "another run's image");
    if (c.refusedPiece == 0) {
      EXPECT_EQ(readFile(hashFilePath(hashListPath(destination), "md5")), "another run's hashes");
      EXPECT_EQ(readFile(badSectorListPath(destination)), "17\n");
    }
  }
}

TEST_F(ImageCreationTest, AStoppedCopyListsOnlyTheUnreadableSectorsItCopied) {
  // The reader runs ahead of the writer; sectors it read past the stop are
  // not part of the image and not in its list.
  MemorySectorSource memory(patternBytes(0, 1100));
  FaultInjectingSource failing(memory, {3, 200, 900});
  RecordingJob job;
  SectorReader reader(failing, &job.prompter_);
  reader.setPolicy(BadSectorPolicy::SkipAll);
  job.stopAfterTransfers = 2;
  auto result = imageToFiles(reader, 0, 1100, "stopped.img", false, 10000, job, 64);
  EXPECT_FALSE(result->completed);
  EXPECT_EQ(result->currentSector, 128u);
  EXPECT_EQ(result->unreadableSectors, 1u);
  EXPECT_EQ(readFile(result->badSectorList), "3\n");
  EXPECT_EQ(lastLogLine(), "Unreadable Sectors : 1");
}

TEST_F(ImageCreationTest, HashesAreThoseOfTheCopyAndTheListChecksWithCoreutils) {
  struct Case {
    std::string name;
    bool multiFile;
    std::optional<int> stopAfterTransfers;
    std::size_t pieces;
    std::uint64_t sectorsCopied;
  };
  // 25 sectors in transfers of at most 7 that never cross a 10-sector piece.
  const std::vector<Case> cases = {
      {"single", false, std::nullopt, 1, 25},
      {"series", true, std::nullopt, 3, 25},
      {"stopped", true, 3, 2, 17},  // 7 + 3 + 7
      {"it's a back\\slash", false, std::nullopt, 1, 25},  // names escaped as md5sum reads them
  };
  MemorySectorSource memory(patternBytes(0, 40));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SectorReader reader(memory);
    RecordingJob job;
    job.stopAfterTransfers = c.stopAfterTransfers;
    const fs::path md5List = hashFilePath(hashListPath(dir / (c.name + ".img")), "md5");
    const fs::path list = hashFilePath(hashListPath(dir / (c.name + ".img")), "sha256");
    test::writeFile(list, "d41d8cd98f00b204e9800998ecf8427e  stale0.img\n");
    auto result = imageToFiles(reader, 5, 30, c.name + ".img", c.multiFile, 10, job);
    ASSERT_EQ(result->pieces.size(), c.pieces);
    ASSERT_EQ(result->sectorsCopied.load(), c.sectorsCopied);
    EXPECT_EQ(concatenated(result->pieces), asString(patternBytes(5, c.sectorsCopied)));

    const std::string md5 = coreutilsDigest("md5sum", result->pieces);
    const std::string sha256 = coreutilsDigest("sha256sum", result->pieces);
    EXPECT_EQ(result->hashes.md5, md5);
    EXPECT_EQ(result->hashes.sha256, sha256);
    ASSERT_EQ(result->hashFiles, (std::vector<fs::path>{md5List, list}));
    EXPECT_NE(activityLog().find("\r\nMD5 : " + md5 + "\r\nSHA-256 : " + sha256 + "\r\nHash File : " +
                                 md5List.string() + "\r\nHash File : " + list.string()),
              std::string::npos)
        << activityLog();

    // The list checks with the tools themselves: one piece by its name, a
    // series through cat on standard input.
    std::string feed;
    if (c.pieces > 1) {
      feed = "cat";
      for (const auto& p : result->pieces) feed += " " + quoted(p.filename().string());
      feed += " | ";
    }
    const std::string expectedName = c.pieces > 1 ? "-" : result->pieces[0].filename().string();
    for (const std::string tool : {"md5sum", "sha256sum"}) {
      int status = -1;
      // One file per tool, so neither meets a line it cannot read (--strict).
      const fs::path own = tool == "md5sum" ? md5List : list;
      std::string out = test::runShell("cd " + quoted(dir.path().string()) + " && " + feed + tool + " --strict -c " +
                                           quoted(own.filename().string()) + " 2>&1",
                                       &status);
      EXPECT_EQ(status, 0) << tool << ": " << out;
      EXPECT_EQ(out, expectedName + ": OK\n") << tool;
    }
    const std::string text = readFile(list);
    EXPECT_EQ(text.find("stale"), std::string::npos);
    EXPECT_EQ(text.find("stopped after") != std::string::npos, c.stopAfterTransfers.has_value()) << text;
  }
}

TEST_F(ImageCreationTest, AHealthyCopyLeavesNoListAndRemovesAnOldOne) {
  MemorySectorSource memory(patternBytes(0, 50));
  SectorReader reader(memory);
  test::writeFile(badSectorListPath(dir / "ok.img"), "17\n");
  RecordingJob job;
  auto result = imageToFiles(reader, 0, 50, "ok.img", false, 10, job);
  EXPECT_EQ(result->unreadableSectors, 0u);
  EXPECT_TRUE(result->badSectorList.empty());
  EXPECT_FALSE(fs::exists(badSectorListPath(dir / "ok.img")));
  EXPECT_NE(activityLog().find("\r\nStep 3 :\r\n-------\r\nAnalysing Imaging Creation Information : \r\n"
                               "Time Elapsed : 0 : 0 : 3\r\nCurrent Sector : 50 / 50\r\nLast Name : " +
                               (dir / "ok0.img").string() + "\r\nImage creation completed successfully."),
            std::string::npos)
      << activityLog();
  EXPECT_EQ(activityLog().find("Unreadable Sectors"), std::string::npos) << "said only when there were some";
  EXPECT_EQ(job.prompter_.messages, std::vector<std::string>{kImageCompleted});
}

TEST_F(ImageCreationTest, StopEndsTheCopyAsAborted) {
  MemorySectorSource memory(patternBytes(0, 100));
  SectorReader reader(memory);
  RecordingJob job;
  job.stopAfterTransfers = 2;
  auto result = imageToFiles(reader, 0, 100, "stopped.img", true, 10, job, 4);
  EXPECT_FALSE(result->completed);
  EXPECT_EQ(result->message, kImageAborted);
  EXPECT_EQ(result->currentSector, 8u);
  EXPECT_EQ(readFile(dir / "stopped0.img"), asString(patternBytes(0, 8))) << "what was copied stays";
  EXPECT_EQ(job.completion, Completion::WorkerFinished);
  EXPECT_NE(activityLog().find("Current Sector : 8 / 100\r\nLast Name : " + (dir / "stopped0.img").string() +
                               "\r\nImage creation aborted."),
            std::string::npos);
  EXPECT_EQ(job.prompter_.messages, std::vector<std::string>{kImageAborted});
}

TEST_F(ImageCreationTest, CancelUnwindsWithoutReport) {
  MemorySectorSource memory(patternBytes(0, 100));
  SectorReader reader(memory);
  RecordingJob job;
  job.cancelAfterTransfers = 3;
  EXPECT_THROW(imageToFiles(reader, 0, 100, "cancelled.img", false, 10, job, 4), JobCancelled);
  EXPECT_EQ(job.completion, Completion::None);
  EXPECT_EQ(fs::file_size(dir / "cancelled0.img"), 12u * 512);
  EXPECT_EQ(activityLog().find("Step 3"), std::string::npos);
}

// A disk that takes 20 ms for every read and counts them.
class SlowSource final : public SectorSource {
 public:
  explicit SlowSource(std::uint64_t sectors) : sectors_(sectors) {}
  std::uint64_t sizeInBytes() const override { return sectors_ * kSectorSize; }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (std::uint32_t i = 0; i < count; ++i) test::fillSector(out.data() + std::size_t{i} * kSectorSize, first + i);
    reads.fetch_add(1);
    return TransferStatus::Ok;
  }
  std::string description() const override { return "slow"; }
  std::atomic<int> reads{0};

 private:
  std::uint64_t sectors_;
};

TEST_F(ImageCreationTest, CancelEndsTheCopyPromptlyWithoutClaimingAnything) {
  using Clock = std::chrono::steady_clock;
  for (const bool pauseFirst : {false, true}) {
    SCOPED_TRACE(pauseFirst ? "cancel while paused" : "cancel while copying");
    // 500 transfers of 20 ms: ten seconds if nothing stopped it.
    SlowSource slow(500 * 64);
    SectorReader reader(slow);
    test::ScriptedPrompter prompter;
    WorkerJob job(prompter);
    const std::string name = pauseFirst ? "paused.img" : "running.img";
    test::writeFile(hashFilePath(hashListPath(dir / name), "sha256"), "stale\n");
    ImagingRequest request;
    request.source = &reader;
    request.start = 0;
    request.end = 500 * 64;
    request.settings.ImageDestination = dir / name;
    request.settings.badSectorList = badSectorListPath(dir / name);
    request.settings.hashList = hashListPath(dir / name);
    request.activityLog = &log;
    request.transferSectors = 64;
    request.ringBlocks = 64;  // room to read far ahead of a paused writer
    ImagingResult result;
    job.start([&](Job& j) { (void)runImageCreation(j, request, result); });
    const auto begun = Clock::now();
    while (slow.reads.load() < 5 && Clock::now() - begun < std::chrono::seconds(10))
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (pauseFirst) {
      job.pause();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a read under way ends
      const int readsWhenPaused = slow.reads.load();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_EQ(slow.reads.load(), readsWhenPaused) << "the reader rests while the job is paused";
    }
    const auto cancelled = Clock::now();
    job.cancel();
    job.wait();
    EXPECT_LT(Clock::now() - cancelled, std::chrono::seconds(2));
    EXPECT_TRUE(job.ended());
    EXPECT_TRUE(job.error().empty()) << job.error();
    EXPECT_EQ(job.completion(), Completion::None);
    EXPECT_FALSE(result.completed);
    EXPECT_TRUE(prompter.messages.empty()) << "no closing message";
    EXPECT_FALSE(fs::exists(hashFilePath(hashListPath(dir / name), "sha256"))) << "no list vouches for a cancelled copy";
    EXPECT_EQ(activityLog().find("Step 3"), std::string::npos);
    const std::string piece = (dir / (pauseFirst ? "paused0.img" : "running0.img")).string();
    ASSERT_TRUE(fs::exists(piece));
    EXPECT_EQ(fs::file_size(piece) % (64 * kSectorSize), 0u) << "only whole transfers are written";
    EXPECT_LT(fs::file_size(piece), 500u * 64 * kSectorSize);
  }
}

TEST_F(ImageCreationTest, APieceThatCannotBeCreatedEndsTheWorker) {
  MemorySectorSource memory(patternBytes(0, 10));
  SectorReader reader(memory);
  RecordingJob job;
  Result<void> ran;
  imageToFiles(reader, 0, 10, "missing-folder/x.img", false, 10, job, 7, &ran);
  ASSERT_FALSE(ran);
  EXPECT_TRUE(ran.error().message.starts_with("cannot create the image file ")) << ran.error().message;
  EXPECT_EQ(job.completion, Completion::None);
  EXPECT_EQ(activityLog().find("Step 3"), std::string::npos);
}

TEST_F(ImageCreationTest, DiskTargetReceivesTheRangeFromSectorZero) {
  MemorySectorSource memory(patternBytes(0, 300));
  SectorReader reader(memory);
  MemorySectorSource disk(patternBytes(5000, 260));  // what the target held before
  SectorReader writer(disk);
  RecordingJob job;
  ImagingRequest request;
  request.source = &reader;
  request.start = 100;
  request.end = 300;
  request.settings.ImageToDisk = true;
  request.settings.ImageTargetLabel = "Disk4 - Test Disk";
  request.target = &writer;
  request.activityLog = &log;
  request.transferSectors = 64;
  ImagingResult result;
  ASSERT_TRUE(runImageCreation(job, request, result));
  EXPECT_TRUE(result.completed);
  EXPECT_TRUE(result.pieces.empty());
  std::string written = asString(disk.bytes());
  EXPECT_EQ(written.substr(0, 200 * kSectorSize), asString(patternBytes(100, 200)));
  EXPECT_EQ(written.substr(200 * kSectorSize), asString(patternBytes(5200, 60))) << "nothing past the copy";
  EXPECT_EQ(job.lastName, "Disk4 - Test Disk");
  EXPECT_NE(activityLog().find("Last Name : Disk4 - Test Disk"), std::string::npos);
  // A disk has no folder for a list: the hashes of the range go to the report.
  test::writeFile(dir / "range.bin", asString(patternBytes(100, 200)));
  EXPECT_EQ(result.hashes.sha256, test::sha256File(dir / "range.bin"));
  EXPECT_TRUE(result.hashList.empty());
  EXPECT_NE(activityLog().find("SHA-256 : " + result.hashes.sha256), std::string::npos);
}

TEST_F(ImageCreationTest, AFailedWriteAbortsTheCopy) {
  MemorySectorSource memory(patternBytes(0, 300));
  SectorReader reader(memory);
  MemorySectorSource disk(100);  // too small for the range
  SectorReader writer(disk);
  RecordingJob job;
  ImagingRequest request;
  request.source = &reader;
  request.start = 0;
  request.end = 300;
  request.settings.ImageToDisk = true;
  request.target = &writer;
  request.activityLog = &log;
  request.transferSectors = 64;
  ImagingResult result;
  ASSERT_TRUE(runImageCreation(job, request, result));
  EXPECT_FALSE(result.completed);
  EXPECT_EQ(result.message, kImageAborted);
  EXPECT_FALSE(result.error.empty());
  EXPECT_NE(activityLog().find("Image creation aborted.\r\nWrite Error : "), std::string::npos);
}

// A disk larger than 2^32 sectors whose every sector reads as its pattern.
class HugeSource final : public SectorSource {
 public:
  static constexpr std::uint64_t kSectors = (std::uint64_t{1} << 32) + 100;
  std::uint64_t sizeInBytes() const override { return kSectors * kSectorSize; }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override {
    if (first >= kSectors) return TransferStatus::PastEnd;
    for (std::uint32_t i = 0; i < count; ++i) test::fillSector(out.data() + std::size_t{i} * kSectorSize, first + i);
    return TransferStatus::Ok;
  }
  std::string description() const override { return "huge"; }
};

TEST_F(ImageCreationTest, CopyToTheEndOfADiskBeyond32BitsCompletes) {
  HugeSource huge;
  SectorReader reader(huge);
  const SectorNumber start = HugeSource::kSectors - 150, end = HugeSource::kSectors;
  reader.setSelectionEnd(static_cast<std::int64_t>(end));
  RecordingJob job;
  auto result = imageToFiles(reader, start, end, "huge.img", false, kImagePieceSectors, job, 64);
  EXPECT_TRUE(result->completed);
  EXPECT_EQ(result->message, kImageCompleted);
  EXPECT_EQ(readFile(dir / "huge0.img"), asString(patternBytes(start, 150)));
  EXPECT_NE(activityLog().find("Current Sector : 4294967396 / 4294967396\r\n"), std::string::npos);
  EXPECT_EQ(job.lastPercent, 100);
}

TEST(ImagePieces, PiecesNeeded) {
  struct Case {
    std::uint64_t sectors;
    bool multiFile;
    std::uint64_t expected;
  };
  for (const Case& c : {Case{1, true, 1}, Case{kImagePieceSectors, true, 1}, Case{kImagePieceSectors + 1, true, 2},
                        Case{3 * kImagePieceSectors, true, 3}, Case{3 * kImagePieceSectors, false, 1}})
    EXPECT_EQ(piecesNeeded(c.sectors, c.multiFile, kImagePieceSectors), c.expected) << c.sectors;
}

}  // namespace
}  // namespace dravolin
