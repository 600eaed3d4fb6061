// Rescue imaging of a failing disk with a mapfile: a fixture served by the
// failing-disk FUSE file system (EIO on chosen sectors, every read logged),
// stopped with Ctrl-C half-way and continued, and exchanged with GNU
// ddrescue in both directions.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/failing_disk.h"
#include "support/test_support.h"

extern char** environ;

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using test::FailingDisk;

// fat16.img: 65,536 sectors. Failing sectors inside file data, a run of
// them, and the last sector of the disk.
const std::vector<SectorRange> kBad = {{477, 478}, {510, 511}, {20000, 20004}, {50000, 50001}, {65535, 65536}};
constexpr SectorNumber kDiskSectors = 65536;

std::string quote(const std::string& s) { return "'" + s + "'"; }

// A mapfile as blocks of sectors by status, read as ddrescue documents it.
struct Mapfile {
  bool valid = false;
  char phase = 0;
  std::map<char, std::set<SectorNumber>> sectors;  // status -> sectors
  std::uint64_t extent = 0;                        // bytes covered
};

Mapfile readMapfile(const fs::path& path) {
  Mapfile map;
  std::istringstream in(test::readFile(path));
  bool status = false;
  std::uint64_t expected = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    if (!status) {
      std::string position;
      fields >> position >> map.phase;
      status = true;
      continue;
    }
    std::string pos, size;
    char what = 0;
    if (!(fields >> pos >> size >> what)) return map;
    const std::uint64_t p = std::stoull(pos, nullptr, 0), n = std::stoull(size, nullptr, 0);
    if (p != expected || p % 512 || n % 512) return map;  // contiguous and whole sectors
    for (SectorNumber s = p / 512; s < (p + n) / 512; ++s) map.sectors[what].insert(s);
    expected = p + n;
  }
  map.extent = expected;
  map.valid = status;
  return map;
}

std::set<SectorNumber> sectorsOf(const std::vector<SectorRange>& ranges) {
  std::set<SectorNumber> sectors;
  for (const SectorRange& r : ranges)
    for (SectorNumber s = r.start; s < r.end; ++s) sectors.insert(s);
  return sectors;
}

// The reads a command makes before any imaging, to tell what the source is
// (its partition table): those of `dravolin partitions`.
std::vector<SectorRange> probeReads(FailingDisk& disk, const fs::path& home) {
  disk.clearAllReads();
  (void)test::runDravolin({"partitions", disk.source()}, home);
  auto reads = disk.allReads();
  disk.clearAllReads();
  return reads;
}

// The finished sectors that reads touch, leaving out one read of each of
// the probe's reads (those of the source's identification, not the copy).
std::set<SectorNumber> readAgain(std::vector<SectorRange> reads, const std::set<SectorNumber>& finished,
                                 const std::vector<SectorRange>& probe) {
  for (const SectorRange& p : probe) {
    auto it = std::find_if(reads.begin(), reads.end(),
                           [&](const SectorRange& r) { return r.start == p.start && r.end == p.end; });
    if (it != reads.end()) reads.erase(it);
  }
  std::set<SectorNumber> again;
  for (const SectorRange& r : reads)
    for (auto it = finished.lower_bound(r.start); it != finished.end() && *it < r.end; ++it) again.insert(*it);
  return again;
}

// Starts dravolin, waits until the disk has been read past sector `until`,
// then sends Ctrl-C and waits for the exit status.
int interruptWhenRead(const FailingDisk& disk, SectorNumber until, const std::vector<std::string>& arguments,
                      const fs::path& dir) {
  std::vector<std::string> all = {DRAVOLIN_CLI_PATH};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (const auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::string err = (dir / "interrupted-err.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, DRAVOLIN_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  bool sent = false;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (!sent) {
      const auto reads = disk.allReads();
      const bool past = std::any_of(reads.begin(), reads.end(), [&](const SectorRange& r) { return r.end > until; });
      if (past) {
        kill(pid, SIGINT);
        sent = true;
      }
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "the rescue did not stop";
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(sent) << "the rescue ended before it was read half-way: " << test::readFile(err);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The image holds the source, with zeros at exactly the failing sectors.
void expectSourceWithZerosAtBad(const fs::path& image) {
  const std::string original = test::readFile(test::fixturePath("fat16.img"));
  const std::string copy = test::readFile(image);
  ASSERT_EQ(copy.size(), original.size());
  const std::set<SectorNumber> bad = sectorsOf(kBad);
  const std::string zeros(512, '\0');
  std::vector<SectorNumber> wrong;
  for (SectorNumber s = 0; s < kDiskSectors; ++s) {
    const std::string expected = bad.contains(s) ? zeros : original.substr(s * 512, 512);
    if (copy.compare(s * 512, 512, expected) != 0) wrong.push_back(s);
  }
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " sectors differ, the first " << wrong.front();
}

// The finished mapfile: exactly the failing sectors bad, all else rescued,
// and ddrescuelog reads it.
void expectFinishedMapfile(const fs::path& mapfile) {
  const Mapfile map = readMapfile(mapfile);
  ASSERT_TRUE(map.valid) << test::readFile(mapfile);
  EXPECT_EQ(map.extent, kDiskSectors * 512);
  EXPECT_EQ(map.sectors.count('-') ? map.sectors.at('-') : std::set<SectorNumber>{}, sectorsOf(kBad));
  EXPECT_EQ(map.sectors.count('+') ? map.sectors.at('+').size() : 0u, kDiskSectors - sectorsOf(kBad).size());
  int status = -1;
  const std::string shown = test::runShell("ddrescuelog --show-status " + quote(mapfile.string()) + " 2>&1", &status);
  if (test::runShell("command -v ddrescuelog").empty()) return;
  EXPECT_EQ(status, 0) << shown;
  // 8 sectors of 512 bytes in 5 areas.
  EXPECT_TRUE(std::regex_search(shown, std::regex(R"(bad-sector: +4096 B, +in +5 area)"))) << shown;
}

std::unique_ptr<FailingDisk> slowFailingDisk() {
  // Every read of the served file takes 2 ms: the copy of 32 MiB in reads of
  // at most 128 KiB takes about half a second, long enough to stop it.
  auto disk = std::make_unique<FailingDisk>(test::fixturePath("fat16.img"), kBad, FailingDisk::Access::File, 2000);
  return disk;
}

TEST(RescueImage, StoppedHalfWayAndContinuedReadsNothingFinishedTwice) {
  test::TempDir dir;
  auto disk = slowFailingDisk();
  if (!disk->unavailable().empty()) GTEST_SKIP() << disk->unavailable();
  const fs::path image = dir / "rescued.img", mapfile = dir / "rescue.map";
  const std::vector<std::string> arguments = {"image",     disk->source(),  "--whole-disk", "--to",
                                              image.string(), "--mapfile", mapfile.string(), "--log-dir",
                                              (dir / "logs").string(), "--config", (dir / "dravolin.ini").string()};
  EXPECT_EQ(interruptWhenRead(*disk, kDiskSectors / 2, arguments, dir.path()), 130);
  const Mapfile stopped = readMapfile(mapfile);
  ASSERT_TRUE(stopped.valid) << "the mapfile is saved at the stop";
  ASSERT_TRUE(stopped.sectors.count('+'));
  const std::set<SectorNumber> finished = stopped.sectors.at('+');
  EXPECT_LT(finished.size(), kDiskSectors - 8) << "stopped before the end";
  EXPECT_GT(finished.size(), 1000u);
  EXPECT_FALSE(fs::exists(mapfile.string() + ".tmp"));

  const auto probe = probeReads(*disk, dir / "home");
  ASSERT_LE(probe.size(), 4u) << "identifying the source reads a few sectors only";
  disk->clearReads();
  std::vector<std::string> again = arguments;
  again.insert(again.end(), {"--json", "--hash", "sha256,md5"});
  auto result = test::runDravolin(again, dir / "home");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto doc = nlohmann::json::parse(result.out);
  EXPECT_EQ(doc["unreadable_sectors"], sectorsOf(kBad).size());
  EXPECT_EQ(doc["message"], "Image creation completed: 8 sectors could not be read and were written as zeros (see " +
                                image.string() + ".bad-sectors.txt)");
  EXPECT_EQ(doc["bad_areas"], 5);
  const auto reads = disk->allReads();
  ASSERT_FALSE(reads.empty());
  const auto again2 = readAgain(reads, finished, probe);
  EXPECT_TRUE(again2.empty()) << again2.size() << " finished sectors read again, the first " << *again2.begin();
  // A failing sector is asked for at most four times in the second run: by
  // the large read (and the kernel's retry of its failing part), by the
  // cluster read, and alone while trimming or scraping.
  for (const auto& [sector, count] : disk->reads()) EXPECT_LE(count, 4) << "sector " << sector;

  expectSourceWithZerosAtBad(image);
  expectFinishedMapfile(mapfile);
  int status = -1;
  const std::string check =
      test::runShell("cd " + quote(dir.path().string()) + " && sha256sum --strict -c rescued.img.sha256 2>&1", &status);
  EXPECT_EQ(status, 0) << check;
  EXPECT_EQ(check, "rescued.img: OK\n");
  EXPECT_EQ(doc["sha256"], test::sha256File(image));
}

TEST(RescueImage, GnuDdrescueContinuesOurMapfileAndWeContinueItsMapfile) {
  if (test::runShell("command -v ddrescue").empty()) GTEST_SKIP() << "GNU ddrescue is not installed (gddrescue)";
  auto disk = slowFailingDisk();
  if (!disk->unavailable().empty()) GTEST_SKIP() << disk->unavailable();
  {
    SCOPED_TRACE("ddrescue continues a rescue we stopped");
    test::TempDir dir;
    const fs::path image = dir / "ours.img", mapfile = dir / "ours.map";
    EXPECT_EQ(interruptWhenRead(*disk, kDiskSectors / 2,
                                {"image", disk->source(), "--whole-disk", "--to", image.string(), "--mapfile",
                                 mapfile.string(), "--log-dir", (dir / "logs").string()},
                                dir.path()),
              130);
    const Mapfile stopped = readMapfile(mapfile);
    ASSERT_TRUE(stopped.valid && stopped.sectors.count('+'));
    disk->clearAllReads();
    int status = -1;
    const std::string out = test::runShell("ddrescue -q " + quote(disk->source()) + " " + quote(image.string()) + " " +
                                               quote(mapfile.string()) + " 2>&1",
                                           &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(readAgain(disk->allReads(), stopped.sectors.at('+'), {}).empty()) << "ddrescue kept our finished areas";
    expectSourceWithZerosAtBad(image);
    expectFinishedMapfile(mapfile);
  }
  {
    SCOPED_TRACE("we continue a rescue ddrescue began");
    test::TempDir dir;
    const fs::path image = dir / "theirs.img", mapfile = dir / "theirs.map";
    disk->clearAllReads();
    int status = -1;
    // ddrescue rescues the first half only.
    const std::string out = test::runShell("ddrescue -q -s 16MiB " + quote(disk->source()) + " " +
                                               quote(image.string()) + " " + quote(mapfile.string()) + " 2>&1",
                                           &status);
    ASSERT_EQ(status, 0) << out;
    const Mapfile half = readMapfile(mapfile);
    ASSERT_TRUE(half.valid && half.sectors.count('+')) << test::readFile(mapfile);
    const auto probe = probeReads(*disk, dir / "home");
    // Backwards, and one more try of each bad sector: they stay bad.
    disk->clearReads();
    auto result = test::runDravolin({"image", disk->source(), "--whole-disk", "--to", image.string(), "--mapfile",
                                     mapfile.string(), "--json", "--reverse", "--retries", "1"},
                                    dir / "home");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(readAgain(disk->allReads(), half.sectors.at('+'), probe).empty())
        << "ddrescue's finished areas read again";
    // ddrescue's bad sectors in the first half are read once more, alone.
    const auto reads = disk->reads();
    for (SectorNumber s : {SectorNumber{477}, SectorNumber{510}}) {
      ASSERT_TRUE(reads.contains(s)) << "sector " << s << " was not retried";
      EXPECT_EQ(reads.at(s), 1) << "sector " << s;
    }
    expectSourceWithZerosAtBad(image);
    expectFinishedMapfile(mapfile);
  }
}

}  // namespace
}  // namespace dravolin
