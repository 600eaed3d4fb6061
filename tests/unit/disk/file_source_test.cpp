#include "disk/file_source.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace dravolin {
namespace {

// A read-only loop device of the given logical block size on a file of the
// test's own; detached when the guard goes.
class ReadOnlyLoop {
 public:
  ReadOnlyLoop(const std::string& file, int blockSize) {
    int status = 0;
    device_ = test::runShell("losetup -r -b " + std::to_string(blockSize) + " --show -f '" + file + "' 2>&1", &status);
    while (!device_.empty() && device_.back() == '\n') device_.pop_back();
    if (status != 0 || device_.rfind("/dev/", 0) != 0) {
      failure_ = device_;
      device_.clear();
    }
  }
  ~ReadOnlyLoop() {
    if (!device_.empty()) test::runShell("losetup -d '" + device_ + "'");
  }
  const std::string& device() const { return device_; }
  const std::string& failure() const { return failure_; }

 private:
  std::string device_, failure_;
};

// A device is read with O_DIRECT whatever the caller's buffer, offset and
// length: what it reads is the file's bytes, on 512- and 4096-byte devices,
// aligned or not, across blocks and past the end.
TEST(FileSectorSourceDevice, ReadsDirectWithTheFilesBytesWhateverTheAlignment) {
  test::TempDir dir;
  constexpr std::size_t kSectors = 2048;
  std::string bytes(kSectors * kSectorSize, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i / kSectorSize * 13 + i) % 251 + 1);
  test::writeFile(dir / "disk.img", bytes);
  struct Case {
    SectorNumber first;
    std::uint32_t count;
    std::size_t bufferShift;  // bytes the buffer lies off a page boundary
  };
  const Case cases[] = {
      {0, 8, 0},                  // aligned everywhere: straight into the buffer
      {1, 1, 0},                  // one sector inside a 4096-byte block
      {7, 3, 0},                  // across a block boundary
      {0, 2048, 0},               // the whole device
      {3, 100, 16},               // the buffer off alignment too
      {8, 8, 512},                // aligned offset, buffer aligned to 512 only
      {kSectors - 1, 1, 0},       // the last sector
      {kSectors - 2, 6, 0},       // running past the end: zeros beyond it
  };
  for (int blockSize : {512, 4096}) {
    ReadOnlyLoop loop((dir / "disk.img").string(), blockSize);
    if (loop.device().empty()) GTEST_SKIP() << "no usable loop device here: " << loop.failure();
    auto source = FileSectorSource::open(loop.device());
    ASSERT_TRUE(source) << source.error().message;
    EXPECT_TRUE((*source)->readsDirect());
    EXPECT_EQ((*source)->directAlignment(), static_cast<std::size_t>(blockSize));
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(blockSize) + "-byte device, sector " + std::to_string(c.first) + " +" +
                   std::to_string(c.count));
      const std::size_t length = std::size_t{c.count} * kSectorSize;
      std::unique_ptr<std::byte, decltype(&std::free)> memory(
          static_cast<std::byte*>(std::aligned_alloc(4096, (length + 2 * 4096 - 1) / 4096 * 4096)), &std::free);
      std::span<std::byte> buffer(memory.get() + c.bufferShift, length);
      std::memset(buffer.data(), 0x77, length);
      ASSERT_EQ((*source)->read(c.first, c.count, buffer), TransferStatus::Ok);
      std::string expected = bytes.substr(std::min<std::size_t>(c.first * kSectorSize, bytes.size()), length);
      expected.resize(length, '\0');
      EXPECT_EQ(std::memcmp(buffer.data(), expected.data(), length), 0);
    }
  }
}

}  // namespace
}  // namespace dravolin
