#include "app/image_creation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/wizard_steps.h"
#include "disk/file_source.h"
#include "disk/memory_source.h"
#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;

class ImageCreationPageTest : public ::testing::Test {
 protected:
  ImageCreationPageTest() : session(test::isolatedEnvironment(dir)) {
    session.setSource(std::make_unique<MemorySectorSource>(2000), makeImageDevice(1, "/tmp/src0.img", 2000 * 512));
    commitStep1(session, kImageRecovery);
    session.state.PartitionStart = 1000;
    session.state.PartitionEnd = 2000;  // 512,000 bytes
  }
  std::string activityLog() { return test::readFile(dir / "Activity Log.txt"); }
  static FreeSpaceQuery freeSpace(std::uint64_t bytes) {
    return [bytes](const fs::path&) -> Result<std::uint64_t> { return bytes; };
  }
  static TargetDisk disk(std::uint64_t bytes, const std::string& path = "/dev/null-disk") {
    DeviceInfo d;
    d.number = 2;
    d.name = "Disk2";
    d.devicePath = path;
    d.model = "Test Disk";
    d.sizeBytes = bytes;
    d.heads = 16;
    d.sectorsPerTrack = 63;
    return {d, ""};
  }

  test::TempDir dir;
  Session session;
};

TEST_F(ImageCreationPageTest, FreeSpaceMustExceedTheSelection) {
  ImageCreationPage page(session);
  EXPECT_EQ(page.neededBytes(), 512000u);
  auto refused = page.nextImage(dir / "a.img", false, false, freeSpace(512000));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message, kInsufficientSpaceMessage);
  EXPECT_NE(activityLog().find("\r\nStep 2 (b):\r\n-------"), std::string::npos);
  EXPECT_EQ(activityLog().find("Image Creation Type"), std::string::npos);

  ASSERT_TRUE(page.nextImage(dir / "a.img", true, false, freeSpace(512001)));
  const auto& s = session.state.imaging;
  EXPECT_FALSE(s.ImageToDisk);
  EXPECT_TRUE(s.MultiFileImage);
  EXPECT_EQ(s.ImageDestination, dir / "a.img");
  EXPECT_EQ(s.badSectorList, fs::path((dir / "a.img").string() + ".bad-sectors.txt"));
  EXPECT_NE(activityLog().find("Image Creation Type : Image\r\nDestination Image : " + (dir / "a.img").string() +
                               "\r\nMultifile : Checked"),
            std::string::npos);
}

TEST_F(ImageCreationPageTest, AnExistingFirstPieceNeedsOverwriteAndGivesItsRoomBack) {
  ImageCreationPage page(session);
  test::writeFile(dir / "b0.img", std::string(100, 'x'));
  auto refused = page.nextImage(dir / "b.img", false, false, freeSpace(1 << 30));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message, kImageExistsMessage);
  // 511,950 free bytes and the 100 of the replaced piece are enough.
  EXPECT_TRUE(page.nextImage(dir / "b.img", false, true, freeSpace(511950)));
  EXPECT_FALSE(page.nextImage(dir / "b.img", false, true, freeSpace(511900)));
}

TEST_F(ImageCreationPageTest, DestinationMustBeAFileOtherThanTheSource) {
  test::writeFile(dir / "src0.img", std::string(2000 * 512, '\0'));
  auto file = FileSectorSource::open((dir / "src0.img").string(), OpenMode::ReadOnly, true);
  ASSERT_TRUE(file);
  session.setSource(std::move(*file), makeImageDevice(1, (dir / "src0.img").string(), 2000 * 512));
  ImageCreationPage page(session);
  auto same = page.nextImage(dir / "src.img", false, true, freeSpace(1 << 30));
  ASSERT_FALSE(same);
  EXPECT_NE(same.error().message.find("is the source being imaged"), std::string::npos);
  auto folder = page.nextImage(dir.path(), false, true, freeSpace(1 << 30));
  ASSERT_FALSE(folder);
  EXPECT_NE(folder.error().message.find("must name an image file"), std::string::npos);
}

TEST_F(ImageCreationPageTest, NoFileTheCopyWritesOrRemovesMayBeTheSource) {
  // The copy writes its pieces and lists and removes the piece after its
  // last; none of them may be the source file.
  struct Case {
    std::string source;
    std::string destination;
    bool multiFile;
  };
  const std::vector<Case> cases = {
      {"disk1.img", "disk.img", false},  // the stale next piece a single file removes
      {"disk1.img", "disk.img", true},
      {"x.img.sha256", "x.img", false},
      {"x.img.md5", "x.img", false},
      {"x.img.bad-sectors.txt", "x.img", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    test::writeFile(dir / c.source, std::string(2000 * 512, '\0'));
    auto file = FileSectorSource::open((dir / c.source).string(), OpenMode::ReadOnly, true);
    ASSERT_TRUE(file);
    session.setSource(std::move(*file), makeImageDevice(1, (dir / c.source).string(), 2000 * 512));
    ImageCreationPage page(session);
    auto refused = page.nextImage(dir / c.destination, c.multiFile, true, freeSpace(1 << 30));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, (dir / c.source).string() + " is the source being imaged. Select different file");
  }
  // A name that touches none of them is fine.
  EXPECT_TRUE(ImageCreationPage(session).nextImage(dir / "other.img", false, true, freeSpace(1 << 30)));
  EXPECT_EQ(session.state.imaging.hashList, dir / "other.img");  // other.img.md5, other.img.sha256
}

TEST_F(ImageCreationPageTest, TargetDiskOfExactlyTheSizeIsAccepted) {
  struct Case {
    std::uint64_t targetBytes;
    bool accepted;
  };
  for (const Case& c : {Case{512000, true}, Case{512000 + 512, true}, Case{512000 - 512, false}}) {
    SCOPED_TRACE(c.targetBytes);
    ImageCreationPage page(session);
    test::ScriptedPrompter prompter;
    prompter.yesNoAnswers = {true};
    auto next = page.nextDisk(disk(c.targetBytes), prompter);
    EXPECT_EQ(static_cast<bool>(next), c.accepted);
    if (!c.accepted) {
      EXPECT_EQ(next.error().message, kInsufficientSpaceMessage);
      EXPECT_TRUE(prompter.questions.empty()) << "nothing is asked when the disk is too small";
    }
  }
}

TEST_F(ImageCreationPageTest, TargetDiskAsksBeforeAnythingIsWritten) {
  ImageCreationPage page(session);
  test::ScriptedPrompter prompter;
  prompter.yesNoAnswers = {false};
  auto declined = page.nextDisk(disk(1 << 20), prompter);
  ASSERT_FALSE(declined);
  EXPECT_TRUE(declined.error().message.empty()) << "No is not an error message";
  ASSERT_EQ(prompter.questions.size(), 1u);
  EXPECT_EQ(prompter.questions[0],
            "All data will be lost in Target Disk -\r\nDisk2 - Test Disk\r\n\r\n"
            "Are you sure you want to continue ?\r\n");
  const auto& s = session.state.imaging;
  EXPECT_TRUE(s.ImageToDisk);
  EXPECT_EQ(s.ImageTargetDrive, 2u);
  EXPECT_EQ(s.ImageTargetLabel, "Disk2 - Test Disk");
  EXPECT_NE(activityLog().find("Image Creation Type : Disk\r\nDestination Disk : Disk2\r\nModel Number : Test Disk\r\n"
                               "Total Heads : 16\r\nSector Per Cluster : 63\r\nDisk Size : 1 MB"),
            std::string::npos);

  TargetDisk busy = disk(1 << 20);
  busy.refusal = "Disk2 (/dev/x) has a mounted file system";
  auto refused = page.nextDisk(busy, prompter);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message, busy.refusal);
}

TEST_F(ImageCreationPageTest, OnlyADiskIsOpenedForWriting) {
  test::writeFile(dir / "plain-file", std::string(1 << 20, '\0'));
  ImageCreationPage page(session);
  test::ScriptedPrompter prompter;
  prompter.yesNoAnswers = {true};
  ASSERT_TRUE(page.nextDisk(disk(1 << 20, (dir / "plain-file").string()), prompter));
  auto opened = page.openTarget();
  ASSERT_FALSE(opened);
  EXPECT_NE(opened.error().message.find("not a disk"), std::string::npos);
}

// A fake /sys/block with disk sdx (8:16) and its partition sdx1 (8:17), and
// mount and swap tables written by each case.
class DiskUsageTest : public ::testing::Test {
 protected:
  DiskUsageTest() {
    test::writeFile(dir / "sys" / "block" / "sdx" / "dev", "8:16\n");
    test::writeFile(dir / "sys" / "block" / "sdx" / "sdx1" / "dev", "8:17\n");
    test::writeFile(dir / "sys" / "block" / "sdx" / "sdx1" / "partition", "1\n");
    fs::create_directories(dir / "sys" / "block" / "sdx" / "holders");
    fs::create_directories(dir / "sys" / "block" / "sdx" / "sdx1" / "holders");
    probe.sysBlock = dir / "sys" / "block";
    probe.mountInfo = dir / "mountinfo";
    probe.swaps = dir / "swaps";
    test::writeFile(probe.swaps, "Filename\tType\tSize\tUsed\tPriority\n");
    device.name = "Disk1";
    device.devicePath = "/dev/sdx";
  }
  test::TempDir dir;
  DiskUsageProbe probe;
  DeviceInfo device;
};

TEST_F(DiskUsageTest, MountsSwapAndHoldersMakeADiskBusy) {
  const std::string root = "22 1 0:21 / / rw,relatime - ext4 /dev/vda rw\n";
  struct Case {
    const char* name;
    std::string mountInfo;
    std::string swaps;
    const char* holder;  // under sdx1/holders
    const char* expected;  // part of the reason; empty: free
  };
  const std::vector<Case> cases = {
      {"free", root + "40 22 8:33 / /mnt/other rw - ext4 /dev/sdy1 rw\n", "", nullptr, ""},
      {"partition mounted", root + "36 22 8:17 / /mnt/data rw,relatime shared:1 - ext4 /dev/sdx1 rw\n", "", nullptr,
       "has a mounted file system (/dev/sdx1 on /mnt/data)"},
      {"whole disk mounted", root + "36 22 8:16 / /media rw - vfat /dev/sdx rw\n", "", nullptr, "/dev/sdx on /media"},
      {"named by source only", root + "40 22 0:45 / /srv rw - btrfs /dev/sdx1 rw\n", "", nullptr, "on /srv"},
      {"blank in mount point", root + "36 22 8:17 / /mnt/my\\040disk rw - ext4 /dev/sdx1 rw\n", "", nullptr,
       "on /mnt/my disk"},
      {"swap", root, "/dev/sdx1 partition 1024 0 -2\n", nullptr, "in use as swap (/dev/sdx1)"},
      {"held by lvm", root, "", "dm-0", "in use by dm-0 (sdx1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::writeFile(probe.mountInfo, c.mountInfo);
    test::writeFile(probe.swaps, "Filename\tType\tSize\tUsed\tPriority\n" + c.swaps);
    fs::path holder = probe.sysBlock / "sdx" / "sdx1" / "holders" / (c.holder ? c.holder : "none");
    if (c.holder) test::writeFile(holder, "");
    std::string reason = diskInUseReason(device, probe);
    if (std::string(c.expected).empty()) EXPECT_EQ(reason, "");
    else EXPECT_NE(reason.find(c.expected), std::string::npos) << reason;
    if (c.holder) fs::remove(holder);
  }
}

TEST_F(DiskUsageTest, TargetListLeavesOutFloppiesAndRefusesTheSourceLoop) {
  test::TempDir home;
  EnvironmentOptions options;
  options.configFile = home / "dravolin.ini";
  options.logDir = home.path();
  Session session(options);
  test::writeFile(home / "source.img", std::string(4096, '\0'));
  auto file = FileSectorSource::open((home / "source.img").string(), OpenMode::ReadOnly, true);
  ASSERT_TRUE(file);
  session.setSource(std::move(*file), makeImageDevice(3, (home / "source.img").string(), 4096));
  test::writeFile(probe.mountInfo, "");
  test::writeFile(probe.sysBlock / "loop9" / "loop" / "backing_file", (home / "source.img").string() + "\n");
  test::writeFile(probe.sysBlock / "loop8" / "loop" / "backing_file", (home / "other.img").string() + "\n");

  std::vector<DeviceInfo> devices(4);
  devices[0].name = "Disk0", devices[0].devicePath = "/dev/sdx";
  devices[1].name = "Disk1", devices[1].devicePath = "/dev/loop9";
  devices[2].name = "Disk2", devices[2].devicePath = "/dev/loop8";
  devices[3].name = "Floppy Drive", devices[3].devicePath = "/dev/fd0", devices[3].floppy = true;
  ImageCreationPage page(session, probe);
  auto targets = page.targetDisks(devices);
  ASSERT_EQ(targets.size(), 3u);
  EXPECT_EQ(targets[0].refusal, "");
  EXPECT_NE(targets[1].refusal.find("holds the source being imaged"), std::string::npos) << targets[1].refusal;
  EXPECT_EQ(targets[2].refusal, "");
}

}  // namespace
}  // namespace dravolin
