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

#include "support/test_support.h"

extern char** environ;

namespace dravolin::test {
namespace {

TEST(Interrupt, FirstCtrlCStopsACarveWhichStillWritesItsFinalLines) {
  TempDir dir;
  // A large sparse image: carving it takes long, reading it touches no disk.
  const auto image = dir / "zeros.img";
  { std::ofstream create(image); }
  std::filesystem::resize_file(image, 64ULL << 30);
  const std::string out = (dir / "out.txt").string(), err = (dir / "err.txt").string();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::vector<std::string> arguments = {DRAVOLIN_CLI_PATH, "carve", image.string(), "--whole-disk",
                                              "--types", "all", "--to", (dir / "carved").string(),
                                              "--config", (dir / "dravolin.ini").string(),
                                              "--log-dir", dir.path().string()};
  std::vector<char*> argv;
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, DRAVOLIN_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  std::this_thread::sleep_for(std::chrono::seconds(1));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      FAIL() << "carve did not stop after Ctrl-C";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(WIFEXITED(status)) << "killed by a signal instead of stopping";
  EXPECT_EQ(WEXITSTATUS(status), 130);
  const std::string printed = readFile(out);
  EXPECT_NE(printed.find("Raw Search Aborted."), std::string::npos) << printed << readFile(err);
  EXPECT_NE(printed.find("Current Sector : "), std::string::npos);
}

}  // namespace
}  // namespace dravolin::test
