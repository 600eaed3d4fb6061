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

// Every kind of block device in one fake /sys/block: what is listed, under
// which number and path, with which model, media type and size.
TEST(DeviceEnumeration, ListsEveryKindWithItsPathModelAndSize) {
  struct Device {
    std::string name;
    std::vector<std::pair<std::string, std::string>> files;  // below /sys/block/<name>
  };
  const std::vector<Device> tree = {
      {"sda", {{"size", "4096"}, {"device/model", "FAKE SSD"}}},
      {"loop2", {{"size", "100"}, {"loop/backing_file", "/tmp/a.img"}}},
      {"dm-1", {{"size", "2048"}, {"dm/name", "vg0-home"}, {"dm/uuid", "LVM-abcdef"}}},
      {"dm-0", {{"size", "8192"}, {"dm/name", "luks-1234"}, {"dm/uuid", "CRYPT-LUKS2-1234-luks-1234"}}},
      {"dm-2", {{"size", "16"}, {"dm/name", "../evil"}, {"dm/uuid", ""}}},
      {"dm-3", {{"size", "0"}, {"dm/name", "suspended"}}},
      {"md127", {{"size", "1024"}, {"md/level", "raid1"}}},
      {"md0", {{"size", "0"}, {"md/level", "raid5"}}},  // inactive
      {"nbd0", {{"size", "512"}, {"backend", "qemu-nbd"}}},
      {"nbd1", {{"size", "0"}}},  // not connected
      {"sr0", {{"size", "1331200"}, {"device/vendor", "HL-DT-ST"}, {"device/model", "DVDRAM GH24NSD1"}}},
      {"sr1", {{"size", "0"}, {"device/model", "EMPTY DRIVE"}}},  // no disc
      {"md0p1", {{"size", "10"}}},  // not a kind that is listed
  };
  struct Expected {
    std::string name, devicePath, model, mediaType;
    std::uint64_t sizeBytes;
  };
  const std::vector<Expected> expected = {
      {"Disk0", "/dev-test/sda", "FAKE SSD", "Fixed hard disk media", 4096u * 512},
      {"Disk1", "/dev-test/loop2", "/tmp/a.img", "Loop device", 100u * 512},
      {"Disk2", "/dev-test/md127", "RAID array (raid1)", "RAID array", 1024u * 512},
      {"Disk3", "/dev-test/mapper/luks-1234", "LUKS volume luks-1234", "Device-mapper volume", 8192u * 512},
      {"Disk4", "/dev-test/mapper/vg0-home", "LVM volume vg0-home", "Device-mapper volume", 2048u * 512},
      // A name that would lead out of /dev/mapper keeps the kernel's name.
      {"Disk5", "/dev-test/dm-2", "Device-mapper volume ../evil", "Device-mapper volume", 16u * 512},
      {"Disk6", "/dev-test/nbd0", "Network block device qemu-nbd", "Network block device", 512u * 512},
      {"Disk7", "/dev-test/sr0", "HL-DT-ST DVDRAM GH24NSD1", "Optical disc", 1331200u * 512},
  };
  test::TempDir sys;
  for (const auto& device : tree)
    for (const auto& [file, text] : device.files) test::writeFile(sys / (device.name + "/" + file), text + "\n");
  const auto devices = enumerateDevices(sys.path(), "/dev-test");
  ASSERT_EQ(devices.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].devicePath);
    EXPECT_EQ(devices[i].name, expected[i].name);
    EXPECT_EQ(devices[i].number, i);
    EXPECT_EQ(devices[i].devicePath, expected[i].devicePath);
    EXPECT_EQ(devices[i].model, expected[i].model);
    EXPECT_EQ(devices[i].mediaType, expected[i].mediaType);
    EXPECT_EQ(devices[i].sizeBytes, expected[i].sizeBytes);
    EXPECT_FALSE(devices[i].floppy);
  }
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

namespace dravolin {
namespace {

// What names a disk beside its number: serial from sysfs, the by-id link
// (a bus-and-serial name before a world-wide name, never a partition's),
// and the count of disks an image source is numbered after, read from
// sysfs alone.
TEST(DeviceEnumeration, NamesDisksBySerialAndByIdLink) {
  test::TempDir sys;
  test::TempDir dev;
  test::writeFile(sys / "sda/size", "4096\n");
  test::writeFile(sys / "sda/device/model", "FAKE SSD\n");
  test::writeFile(sys / "sda/device/serial", "  S3Z1NB0K  \n");
  test::writeFile(sys / "sdb/size", "2048\n");
  test::writeFile(sys / "sdb/removable", "1\n");
  test::writeFile(sys / "loop2/size", "100\n");
  test::writeFile(sys / "loop2/loop/backing_file", "/tmp/b.img\n");
  test::writeFile(sys / "fd0/size", "2880\n");
  std::filesystem::create_directories(dev / "disk/by-id");
  std::filesystem::create_symlink("../../sda", dev / "disk/by-id/wwn-0x5002538e");
  std::filesystem::create_symlink("../../sda", dev / "disk/by-id/ata-FAKE_SSD_S3Z1NB0K");
  std::filesystem::create_symlink("../../sda1", dev / "disk/by-id/ata-FAKE_SSD_S3Z1NB0K-part1");
  std::filesystem::create_symlink("../../sdb1", dev / "disk/by-id/usb-Stick-0:0-part1");

  const auto devices = enumerateDevices(sys.path(), dev.path());
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0].serial, "S3Z1NB0K");
  EXPECT_EQ(devices[0].byId, (dev / "disk/by-id/ata-FAKE_SSD_S3Z1NB0K").string());
  EXPECT_FALSE(devices[0].removable);
  EXPECT_EQ(devices[1].byId, "") << "only a partition of sdb has a link";
  EXPECT_TRUE(devices[1].removable);
  EXPECT_EQ(describeDiskIdentity(devices[0]),
            (dev / "sda").string() + ", FAKE SSD, 2.000 MB, serial S3Z1NB0K, " + devices[0].byId);
  EXPECT_EQ(diskIdentityRows(devices[0]),
            (std::vector<std::string>{"Device Path : " + (dev / "sda").string(), "Serial Number : S3Z1NB0K",
                                      "By-id : " + devices[0].byId}));
  EXPECT_EQ(countDisks(sys.path()), 3u);
  EXPECT_TRUE(diskIdentityRows(makeImageDevice(3, "/tmp/x.img", 512)).empty());
}

}  // namespace
}  // namespace dravolin
