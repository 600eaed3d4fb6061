#include "disk/destination_device.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace dravolin {
namespace {

// A machine with a disk sda (sda1 root, sda2 /data), a loop device over an
// image file on /data with a partition loop0p1 mounted at /mnt/loop, a
// device-mapper volume over loop0p1 at /mnt/mapped, a second disk sdb with
// its file system at /mnt/other and a loop device loop1 whose backing file
// lies on sda2, mounted at /mnt/file-on-data.
const char* kMountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "23 22 0:21 / /proc rw shared:2 - proc proc rw\n"
    "30 22 8:2 / /data rw,relatime shared:5 - ext4 /dev/sda2 rw\n"
    "41 22 259:0 / /mnt/loop rw - vfat /dev/loop0p1 rw\n"
    "42 22 253:0 / /mnt/mapped rw - ext4 /dev/dm-0 rw\n"
    "43 22 8:17 / /mnt/other\\040disk rw - ext4 /dev/sdb1 rw\n"
    "44 22 7:1 / /mnt/file-on-data rw - ext4 /dev/loop1 rw\n"
    "45 22 0:45 / /mnt/btrfs rw - btrfs /dev/sdb2 rw\n"
    "not a mountinfo line\n";

StorageView machine() {
  StorageView view;
  view.mounts = parseMountInfo(kMountInfo);
  view.devices = {
      {"sda", 8, 0, "", {}, ""},          {"sda1", 8, 1, "sda", {}, ""},
      {"sda2", 8, 2, "sda", {}, ""},      {"sdb", 8, 16, "", {}, ""},
      {"sdb1", 8, 17, "sdb", {}, ""},     {"sdb2", 8, 18, "sdb", {}, ""},
      {"loop0", 7, 0, "", {}, "/data/disk.img"},
      {"loop0p1", 259, 0, "loop0", {}, ""}, {"dm-0", 253, 0, "", {"loop0p1"}, ""},
      {"loop1", 7, 1, "", {}, "/data/backing.img"},
  };
  return view;
}

TEST(DestinationDeviceTest, MountInfoLinesAreParsedAndUnescaped) {
  const auto mounts = parseMountInfo(kMountInfo);
  ASSERT_EQ(mounts.size(), 8u);
  EXPECT_EQ(mounts[5].mountPoint, "/mnt/other disk");
  EXPECT_EQ(mounts[5].source, "/dev/sdb1");
  EXPECT_EQ(mounts[5].major, 8u);
  EXPECT_EQ(mounts[5].minor, 17u);
}

TEST(DestinationDeviceTest, DestinationsOnOrOffTheSourceDisk) {
  struct Case {
    const char* destination;
    std::uint32_t major, minor;  // the source device
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"/data/out", 8, 2, "sda2"},                  // the same device
      {"/data/out", 8, 0, "sda2"},                  // a partition of the source disk
      {"/data/out", 8, 1, std::nullopt},            // another partition of the same disk
      {"/home/me/out", 8, 2, std::nullopt},         // the root file system on sda1
      {"/mnt/loop/out", 7, 0, "loop0p1"},           // a partition of a loop device
      {"/mnt/loop/out", 8, 0, "loop0p1"},           // ... whose image lies on the source disk
      {"/mnt/loop/out", 8, 16, std::nullopt},       // ... not on sdb
      {"/mnt/mapped/x", 7, 0, "dm-0"},              // a mapper over a partition of the loop device
      {"/mnt/mapped/x", 259, 0, "dm-0"},            // ... over the partition itself
      {"/mnt/other disk/x", 8, 17, "sdb1"},         // an escaped mount point
      {"/mnt/other diskette", 8, 17, std::nullopt}, // a longer name is not below the mount
      {"/mnt/file-on-data/x", 8, 2, "loop1"},       // a loop file system whose file is on the source
      {"/mnt/btrfs/x", 8, 16, "sdb2"},              // found by the source name, not the number
      {"/proc/x", 8, 0, std::nullopt},              // no block device at all
      {"/data/out", 9, 9, std::nullopt},            // an unknown source device
  };
  const StorageView view = machine();
  for (const auto& c : cases)
    EXPECT_EQ(destinationOnDevice(view, c.destination, c.major, c.minor), c.expected)
        << c.destination << " from " << c.major << ":" << c.minor;
}

TEST(DestinationDeviceTest, AStackThatLoopsEndsTheWalk) {
  StorageView view;
  view.mounts = parseMountInfo("1 0 253:1 / /m rw - ext4 /dev/dm-1 rw\n");
  view.devices = {{"dm-1", 253, 1, "", {"dm-2"}, ""}, {"dm-2", 253, 2, "", {"dm-1"}, ""}, {"sdz", 8, 0, "", {}, ""}};
  EXPECT_EQ(destinationOnDevice(view, "/m/x", 8, 0), std::nullopt);
  EXPECT_EQ(destinationOnDevice(view, "/m/x", 253, 2), "dm-1");
}

TEST(DestinationDeviceTest, SysfsFoldersGiveNumbersPartitionsSlavesAndBackingFiles) {
  test::TempDir dir;
  namespace fs = std::filesystem;
  const fs::path devices = dir / "devices";
  fs::create_directories(devices / "loop0" / "loop0p1");
  fs::create_directories(devices / "loop0" / "loop");
  fs::create_directories(devices / "dm-0" / "slaves" / "loop0p1");
  test::writeFile(devices / "loop0" / "dev", "7:0\n");
  test::writeFile(devices / "loop0" / "loop" / "backing_file", "/data/disk.img\n");
  test::writeFile(devices / "loop0" / "loop0p1" / "dev", "259:0\n");
  test::writeFile(devices / "loop0" / "loop0p1" / "partition", "1\n");
  test::writeFile(devices / "dm-0" / "dev", "253:0\n");
  const fs::path classBlock = dir / "class";
  fs::create_directories(classBlock);
  fs::create_directory_symlink(devices / "loop0", classBlock / "loop0");
  fs::create_directory_symlink(devices / "loop0" / "loop0p1", classBlock / "loop0p1");
  fs::create_directory_symlink(devices / "dm-0", classBlock / "dm-0");

  auto found = readBlockDevices(classBlock);
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].name, "dm-0");
  EXPECT_EQ(found[0].slaves, std::vector<std::string>{"loop0p1"});
  EXPECT_EQ(found[1].name, "loop0");
  EXPECT_EQ(found[1].backingFile, "/data/disk.img");
  EXPECT_EQ(found[2].name, "loop0p1");
  EXPECT_EQ(found[2].disk, "loop0");
  EXPECT_EQ(found[2].major, 259u);
}

}  // namespace
}  // namespace dravolin
