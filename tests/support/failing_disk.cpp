#include "support/failing_disk.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace dravolin::test {
namespace fs = std::filesystem;
namespace {

constexpr const char* kServedName = "disk.img";

std::string shellQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// The server's state without waiting: true when it has ended (and is reaped).
bool ended(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

FailingDisk::FailingDisk(const fs::path& image, const std::vector<SectorRange>& bad, Access access,
                         unsigned delayMicroseconds) {
  mount(image, bad, delayMicroseconds);
  if (unavailable_.empty() && access == Access::LoopDevice) attachLoop();
}

FailingDisk::~FailingDisk() { teardown(); }

fs::path FailingDisk::servedFile() const { return mountPoint_ / kServedName; }

void FailingDisk::mount(const fs::path& image, const std::vector<SectorRange>& bad, unsigned delayMicroseconds) {
#ifndef DRAVOLIN_FAILING_DISK_FS
  (void)image, (void)bad, (void)delayMicroseconds;
  unavailable_ = "the failing-disk file system was not built (libfuse3 and pkg-config were not found)";
#else
  const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse < 0) {
    unavailable_ = "/dev/fuse is missing or cannot be opened: no FUSE on this machine";
    return;
  }
  ::close(fuse);
  int status = 0;
  (void)runShell("command -v fusermount3 >/dev/null 2>&1", &status);
  if (status != 0) {
    unavailable_ = "fusermount3 is not installed (package fuse3)";
    return;
  }
  {
    std::ofstream list(dir_ / "bad-sectors.txt");
    for (const SectorRange& r : bad)
      if (r.end > r.start) list << r.start << '-' << (r.end - 1) << '\n';
  }
  mountPoint_ = dir_ / "mnt";
  fs::create_directories(mountPoint_);
  const std::vector<std::string> arguments = {
      DRAVOLIN_FAILING_DISK_FS, image.string(), mountPoint_.string(), "--name", kServedName,
      "--bad-file", (dir_ / "bad-sectors.txt").string(), "--log", (dir_ / "reads.log").string(),
      "--read-log", (dir_ / "all-reads.log").string(), "--delay-us", std::to_string(delayMicroseconds),
      // One thread, in the foreground: the test owns the process.
      "-s", "-f"};
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::string output = (dir_ / "server.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int spawned = ::posix_spawn(&server_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    server_ = -1;
    unavailable_ = std::string("cannot start the failing-disk file system: ") + std::strerror(spawned);
    return;
  }
  // Ready when the served file shows in the mount point.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(servedFile())) {
    if (ended(server_)) {
      server_ = -1;
      unavailable_ = "the failing-disk file system could not mount: " + trimmed(readFile(output));
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      unavailable_ = "the failing-disk file system did not come up within 10 s";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
#endif
}

void FailingDisk::attachLoop() {
  if (!fs::exists("/dev/loop-control")) {
    unavailable_ = "no loop devices on this machine (/dev/loop-control is missing)";
    return;
  }
  int status = 0;
  std::string out = trimmed(runShell("losetup -r --show -f " + shellQuoted(servedFile().string()) + " 2>&1", &status));
  if (status != 0 || out.rfind("/dev/", 0) != 0) {
    unavailable_ = "no usable loop device: losetup said: " + out;
    return;
  }
  loopDevice_ = out;
  // The device is read only once its size is known to the kernel.
  (void)runShell("udevadm settle -t 5 >/dev/null 2>&1");
}

void FailingDisk::teardown() {
  if (!loopDevice_.empty()) {
    (void)runShell("losetup -d " + shellQuoted(loopDevice_) + " 2>/dev/null");
    loopDevice_.clear();
  }
  if (server_ > 0) {
    // The loop device lets go of the file a moment after it is detached.
    int status = 1;
    for (int attempt = 0; attempt < 50 && status != 0; ++attempt) {
      (void)runShell("fusermount3 -u " + shellQuoted(mountPoint_.string()) + " 2>/dev/null", &status);
      if (status != 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (status != 0) (void)runShell("fusermount3 -u -z " + shellQuoted(mountPoint_.string()) + " 2>/dev/null");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ended(server_)) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(server_, SIGTERM);
        ::waitpid(server_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    server_ = -1;
  }
}

std::map<SectorNumber, int> FailingDisk::reads() const {
  std::map<SectorNumber, int> counts;
  std::ifstream log(dir_ / "reads.log");
  SectorNumber sector = 0;
  while (log >> sector) ++counts[sector];
  return counts;
}

void FailingDisk::clearReads() { std::ofstream(dir_ / "reads.log", std::ios::trunc); }

std::vector<SectorRange> FailingDisk::allReads() const {
  std::vector<SectorRange> reads;
  std::ifstream log(dir_ / "all-reads.log");
  SectorNumber first = 0, end = 0;
  while (log >> first >> end) reads.push_back({first, end});
  return reads;
}

void FailingDisk::clearAllReads() { std::ofstream(dir_ / "all-reads.log", std::ios::trunc); }

}  // namespace dravolin::test
