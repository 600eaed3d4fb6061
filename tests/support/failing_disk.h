#pragma once
// A failing disk for end-to-end tests: an image file served read-only by the
// failing-disk FUSE program (tests/fuse), which answers EIO to every read
// that touches a listed sector, read as the served file itself or through a
// read-only loop device on top of it (how a failing USB disk reaches the
// program). Mounted in a temporary folder when made; the loop device is
// detached and the file system unmounted when the object goes, also when a
// test ends early.
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "disk/unreadable_sectors.h"
#include "support/test_support.h"

namespace dravolin::test {

class FailingDisk {
 public:
  enum class Access { File, LoopDevice };

  // delayMicroseconds: every read takes that long (a slow disk).
  FailingDisk(const std::filesystem::path& image, const std::vector<SectorRange>& bad, Access access,
              unsigned delayMicroseconds = 0);
  ~FailingDisk();
  FailingDisk(const FailingDisk&) = delete;
  FailingDisk& operator=(const FailingDisk&) = delete;

  // Empty when the disk is ready; otherwise why it cannot be made on this
  // machine (no /dev/fuse, no usable loop device, the program not built):
  // a test skips with this text.
  const std::string& unavailable() const { return unavailable_; }

  // What a command reads: the served file, or the loop device on it.
  std::string source() const { return loopDevice_.empty() ? servedFile().string() : loopDevice_; }
  std::filesystem::path servedFile() const;

  // How often each bad sector was asked for since the disk was made or
  // clearReads() was called (one read that touches several counts once for
  // each).
  std::map<SectorNumber, int> reads() const;
  void clearReads();

  // Every read since the disk was made or clearAllReads() was called, in
  // order, as the sectors it asked for (failed or not).
  std::vector<SectorRange> allReads() const;
  void clearAllReads();

 private:
  void mount(const std::filesystem::path& image, const std::vector<SectorRange>& bad, unsigned delayMicroseconds);
  void attachLoop();
  void teardown();

  TempDir dir_;
  std::filesystem::path mountPoint_;
  pid_t server_ = -1;
  std::string loopDevice_;
  std::string unavailable_;
};

}  // namespace dravolin::test
