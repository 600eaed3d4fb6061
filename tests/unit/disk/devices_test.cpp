#include "disk/devices.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/test_support.h"

namespace dravolin {
namespace {

TEST(NaturalOrder, DigitRunsCompareAsNumbers) {
  std::vector<std::string> names = {"sdb", "nvme10n1", "sdaa", "nvme2n1", "sda", "vda", "hda", "mmcblk0"};
  std::sort(names.begin(), names.end(), naturalLess);
  EXPECT_EQ(names, (std::vector<std::string>{"hda", "mmcblk0", "nvme2n1", "nvme10n1", "sda", "sdb", "sdaa", "vda"}));
}

// A fake /sys/block with disks, a loop device with and without a backing
// file, a partition-less ram disk and a floppy.
TEST(DeviceEnumeration, OrdersDisksThenLoopsAndListsFloppiesApart) {
  test::TempDir sys;
  auto dev = [&](const std::string& name, const std::string& sectors) {
    test::writeFile(sys / (name + "/size"), sectors + "\n");
  };
  dev("sdb", "2048");
  dev("sda", "4096");
  test::writeFile(sys / "sda/device/model", "FAKE DISK   \n");
  test::writeFile(sys / "sda/removable", "0\n");
  dev("nvme0n1", "8192");
  dev("loop1", "100");
  test::writeFile(sys / "loop1/loop/backing_file", "/tmp/a.img\n");
  dev("loop0", "100");  // no backing file: not listed
  dev("zram0", "100");
  dev("fd0", "2880");
  auto devices = enumerateDevices(sys.path(), "/nonexistent-dev");
  ASSERT_EQ(devices.size(), 5u);
  EXPECT_EQ(devices[0].devicePath, "/nonexistent-dev/nvme0n1");
  EXPECT_EQ(devices[1].devicePath, "/nonexistent-dev/sda");
  EXPECT_EQ(devices[1].name, "Disk1");
  EXPECT_EQ(devices[1].model, "FAKE DISK");
  EXPECT_EQ(devices[1].sizeBytes, 4096u * 512);
  EXPECT_EQ(devices[2].devicePath, "/nonexistent-dev/sdb");
  EXPECT_EQ(devices[3].name, "Disk3");
  EXPECT_EQ(devices[3].model, "/tmp/a.img");
  EXPECT_EQ(devices[4].name, "Floppy Drive");
  EXPECT_TRUE(devices[4].floppy);
  // Geometry falls back to 255 heads and 63 sectors per track.
  EXPECT_EQ(devices[1].heads, 255u);
  EXPECT_EQ(devices[1].sectorsPerTrack, 63u);
}

TEST(DeviceEnumeration, ImageBecomesTheNextDiskWithItsGeometry) {
  DeviceInfo image = makeImageDevice(2, "/tmp/x/Image0.img", 8225280000ULL);
  EXPECT_EQ(image.name, "Disk2");
  EXPECT_EQ(image.mediaType, "Image");
  EXPECT_EQ(image.cylinders, 1000u);
  EXPECT_EQ(image.heads, 255u);
  EXPECT_EQ(image.sectorsPerTrack, 63u);
  auto rows = deviceInformationRows(image);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0], "Physical Disk Number : 2");
  EXPECT_EQ(rows[6], "Disk Size  : 7844 MB");
}

TEST(GeometryCache, RoundTripsThroughTheConfigStore) {
  test::TempDir dir;
  ConfigStore store(dir / "c.ini");
  DeviceInfo d = makeImageDevice(1, "/tmp/Image0.img", 1048576);
  writeGeometryCache(store, {d});
  ASSERT_TRUE(store.save());
  ConfigStore reread(dir / "c.ini");
  DeviceInfo back = readCachedDevice(reread, 1);
  EXPECT_EQ(back.sizeBytes, 1048576u);
  EXPECT_EQ(back.mediaType, "Image");
  EXPECT_EQ(back.heads, 255u);
  EXPECT_EQ(readCachedDevice(reread, 0).sizeBytes, 0u);
}

}  // namespace
}  // namespace dravolin
