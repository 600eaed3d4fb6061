// Ctrl-C on the command line: the first press is the Stop button. The job
// ends as a stopped job does, with its final lines, and the command exits
// with 130.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

extern char** environ;

namespace dravolin::test {
namespace {

// What a command printed and how it ended after one Ctrl-C.
struct Interrupted {
  int status = 0;  // as waitpid gives it
  std::string out, err;
};

// Starts dravolin with arguments (stdin /dev/null, stdout and stderr into
// files of dir), sends it SIGINT after delay and waits up to a minute for it
// to end; past that it is killed and the test fails.
Interrupted interruptAfter(const TempDir& dir, const std::vector<std::string>& arguments,
                           std::chrono::milliseconds delay) {
  const std::string out = (dir / "out.txt").string(), err = (dir / "err.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all = {DRAVOLIN_CLI_PATH};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (const auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  Interrupted result;
  const int spawned = posix_spawn(&pid, DRAVOLIN_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0);
  if (spawned != 0) return result;

  std::this_thread::sleep_for(delay);
  EXPECT_EQ(kill(pid, SIGINT), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(pid, &result.status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &result.status, 0);
      ADD_FAILURE() << arguments.front() << " did not stop after Ctrl-C";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  result.out = readFile(out);
  result.err = readFile(err);
  return result;
}

TEST(Interrupt, FirstCtrlCStopsACarveWhichStillWritesItsFinalLines) {
  TempDir dir;
  // A large sparse image: carving it takes long, reading it touches no disk.
  const auto image = dir / "zeros.img";
  { std::ofstream create(image); }
  std::filesystem::resize_file(image, 64ULL << 30);
  const Interrupted run = interruptAfter(dir,
                                         {"carve", image.string(), "--whole-disk", "--types", "all", "--to",
                                          (dir / "carved").string(), "--config", (dir / "dravolin.ini").string(),
                                          "--log-dir", dir.path().string()},
                                         std::chrono::seconds(1));
  ASSERT_TRUE(WIFEXITED(run.status)) << "killed by a signal instead of stopping";
  EXPECT_EQ(WEXITSTATUS(run.status), 130);
  EXPECT_NE(run.out.find("Raw Search Aborted."), std::string::npos) << run.out << run.err;
  EXPECT_NE(run.out.find("Current Sector : "), std::string::npos);
}

TEST(Interrupt, AStoppedExhaustiveScanSaysWhereItStoppedListsWhatItFoundAndMarksItsLog) {
  // The FAT32 fixture at the start of a 64 GiB sparse disk, searched as a
  // FAT32 range over the whole disk: the sweep for folders takes minutes,
  // reading it touches no disk. Stopped at once (the sweep has barely begun)
  // and later (well into it).
  TempDir dir;
  const auto disk = dir / "disk.img";
  std::filesystem::copy_file(fixturePath("fat32.img"), disk);
  std::filesystem::resize_file(disk, 64ULL << 30);
  const std::uint64_t sectors = (64ULL << 30) / 512;
  struct Case {
    const char* name;
    std::chrono::milliseconds delay;
    bool json;
  };
  const Case cases[] = {{"early", std::chrono::milliseconds(150), false}, {"late", std::chrono::seconds(3), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string log = (dir / (std::string(c.name) + "-log")).string();
    const std::string logDir = (dir / c.name).string();
    std::vector<std::string> arguments = {"scan", disk.string(), "--range", "0", std::to_string(sectors),
                                          "--fs", "FAT32", "--exhaustive", "--save-log", log,
                                          "--config", (dir / "dravolin.ini").string(), "--log-dir", logDir};
    if (c.json) arguments.push_back("--json");
    const Interrupted run = interruptAfter(dir, arguments, c.delay);
    ASSERT_TRUE(WIFEXITED(run.status)) << "killed by a signal instead of stopping";
    EXPECT_EQ(WEXITSTATUS(run.status), 130) << run.err;
    // Where it stopped: a sector of the sweep, before the end of the range.
    const std::string stopped = "dravolin: search stopped at sector ";
    const std::size_t at = run.err.find(stopped);
    ASSERT_NE(at, std::string::npos) << run.err;
    const std::uint64_t reached = std::stoull(run.err.substr(at + stopped.size()));
    EXPECT_LT(reached, sectors);
    EXPECT_NE(run.err.find(" of " + std::to_string(sectors) + " ("), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(": the listing holds what was found before"), std::string::npos) << run.err;
    // What it found is listed as usual: the fixture's folders lie at the
    // start of the range, which the sweep had passed.
    if (c.json) {
      const auto doc = nlohmann::json::parse(run.out);
      EXPECT_EQ(doc["aborted"], true);
      EXPECT_EQ(doc["covered"]["start"], 0);
      EXPECT_EQ(doc["covered"]["end"], reached + 1);
      EXPECT_GT(doc["files"].get<int>(), 0);
      EXPECT_EQ(doc["entries"].size(), doc["files"].get<std::size_t>() + doc["directories"].get<std::size_t>());
    } else {
      EXPECT_NE(run.out.find("Directories"), std::string::npos) << run.out;
      EXPECT_EQ(run.out.find(" 0 Files"), std::string::npos) << run.out;
    }
    const std::string activity = readFile(std::filesystem::path(logDir) / "Activity Log.txt");
    EXPECT_NE(activity.find("Search stopped at sector " + std::to_string(reached)), std::string::npos) << activity;

    // The log saved after the stop says, when loaded, that it may be incomplete.
    const auto loaded = runDravolin({"scan", disk.string(), "--load-log", log + ".ST4", "--config",
                                     (dir / "dravolin.ini").string(), "--log-dir", logDir},
                                    dir / "home");
    EXPECT_EQ(loaded.exitCode, 0) << loaded.err;
    EXPECT_NE(loaded.err.find("dravolin: this search log holds a search that was stopped: it may be incomplete"),
              std::string::npos)
        << loaded.err;
    // and holds what the stopped search listed.
    const std::string summary =
        c.json ? nlohmann::json::parse(run.out)["summary"].get<std::string>() + "\n"
               : run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
    EXPECT_EQ(loaded.out.substr(loaded.out.rfind('\n', loaded.out.size() - 2) + 1), summary);
  }
}

}  // namespace
}  // namespace dravolin::test
