#include "app/wizard_steps.h"

#include <gtest/gtest.h>

#include "app/log_operations.h"
#include "app/messages.h"
#include "disk/memory_source.h"
#include "support/test_support.h"

namespace dravolin {
namespace {

class WizardStepsTest : public ::testing::Test {
 protected:
  WizardStepsTest() : session(test::isolatedEnvironment(dir)) {
    auto source = std::make_unique<MemorySectorSource>(1000);
    session.setSource(std::move(source), makeImageDevice(3, "/tmp/Image0.img", 1000 * 512));
  }
  std::string activityLog() { return test::readFile(dir / "Activity Log.txt"); }
  test::TempDir dir;
  Session session;
};

TEST_F(WizardStepsTest, StartBlockAndStep1) {
  std::tm t{};
  t.tm_hour = 9, t.tm_min = 5, t.tm_wday = 0, t.tm_mon = 11, t.tm_mday = 6, t.tm_year = 126;
  session.writeStartBlock(t);
  session.reader()->setPolicy(BadSectorPolicy::SkipAll);
  commitStep1(session, kDesktopRecovery);
  EXPECT_EQ(session.state.SelectedDrive, 3u);
  EXPECT_TRUE(session.state.SourceIsImage);
  EXPECT_EQ(session.reader()->policy(), BadSectorPolicy::Retry) << "Desktop Step 1 resets the policy";
  std::string log = activityLog();
  EXPECT_EQ(log.rfind("\r\n-----------------------Start--------------------------\r\nDravolin - Desktop Recovery\r\n"
                      "Version 0.1.0\r\n9:05 - Sunday, December 06, 2026",
                      0),
            0u);
  EXPECT_NE(log.find("Step 1 : Desktop Recovery\r\n-------\r\nDevice Information : \r\nPhysical Disk Number : 3"),
            std::string::npos);
}

TEST_F(WizardStepsTest, ImageAndRawModesSetTheirValues) {
  commitStep1(session, kImageRecovery);
  EXPECT_TRUE(session.state.ImageCreationMode);
  EXPECT_EQ(session.state.RecoveryMode, kImageRecovery);
  commitStep1(session, kRawRecovery);
  EXPECT_FALSE(session.state.ImageCreationMode);
  EXPECT_NE(activityLog().find("Step 1 : Raw Recovery"), std::string::npos);
}

TEST_F(WizardStepsTest, WholeDiskStartDependsOnModeAndExhaustiveBox) {
  struct Case {
    RecoveryMode mode;
    bool imaging;
    bool image;
    bool box;
    std::optional<SectorNumber> start;
  };
  for (Case c : {Case{kImageRecovery, true, false, false, 0}, Case{kDesktopRecovery, false, true, true, 0},
                 Case{kDesktopRecovery, false, false, true, 63}, Case{kRawRecovery, false, false, false, 63},
                 Case{kDesktopRecovery, false, false, false, std::nullopt}}) {
    session.state.RecoveryMode = c.mode;
    session.state.ImageCreationMode = c.imaging;
    session.state.SourceIsImage = c.image;
    auto r = commitWholeDisk(session, c.box);
    if (!c.start) {
      ASSERT_FALSE(r);
      EXPECT_EQ(r.error().message, "Select partition type");
      continue;
    }
    ASSERT_TRUE(r);
    EXPECT_EQ(session.state.PartitionStart, *c.start);
    EXPECT_EQ(session.state.PartitionEnd, 1000);
    EXPECT_EQ(toText(session.state.FileSystemType), "UNKNOWN");
  }
}

TEST_F(WizardStepsTest, ManualRangeRenamesAWholeDiskSelectionAndLogsIt) {
  session.state.FileSystemType = FsType::Unknown;
  ASSERT_TRUE(commitManualRange(session, "63", "900", FsType::Fat32).has_value());
  EXPECT_EQ(session.state.selectedNodeText, "Partition - 1 (FAT32 )");
  EXPECT_EQ(session.reader()->selectionEnd(), 900);
  EXPECT_NE(activityLog().find("Step 2 (a) :\r\n-------\r\nPartition Range Information : \r\nStarting Range : 63\r\n"
                               "Ending Range : 900\r\nFile System : FAT32"),
            std::string::npos);
  auto refused = commitManualRange(session, "900", "63", FsType::Fat32);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message, "End sector should be bigger than start sector.");
}

TEST_F(WizardStepsTest, PartitionCommitLogsItsPropertiesAndRunsTheVolumeCheck) {
  PartitionEntry p;
  p.ordinal = 2;
  p.fileSystem = FsType::Fat16;
  p.start = 100;
  p.end = 100 + 2048 * 700;
  auto committed = commitPartition(session, p);
  ASSERT_TRUE(committed) << committed.error().message;
  EXPECT_FALSE(*committed) << "a blank volume fails the check";
  EXPECT_EQ(session.state.PartitionStart, 100u);
  EXPECT_NE(activityLog().find("Selected Information : Partition - 2 ( FAT16 )\r\nPartition Type : FAT16\r\n"
                               "Partition Size : 700 MB\r\nStart Sector : 100\r\nEnd Sector : 1433700\r\n"
                               "Search Exhaustive : Not Checked"),
            std::string::npos);
}

TEST_F(WizardStepsTest, LogOperations) {
  test::ScriptedPrompter prompter;
  EXPECT_FALSE(viewLog(session.recoveryLog(), prompter));
  EXPECT_FALSE(clearLog(session.recoveryLog(), prompter));
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{"Recovery History file not found",
                                                         "Recovery Log.txt file not found"}));
  session.activityLog().append("x");
  prompter.yesNoAnswers = {false, true};
  EXPECT_FALSE(clearLog(session.activityLog(), prompter));
  EXPECT_TRUE(clearLog(session.activityLog(), prompter));
  EXPECT_EQ(prompter.questions.back(), "Are you sure you want to delete Activity Report");
  EXPECT_FALSE(std::filesystem::exists(session.activityLog().path()));
}

TEST(MessageCatalog, LanguageFileThenBuiltInThenFallback) {
  test::TempDir dir;
  test::writeFile(dir / "EnglishW.dat", "# labels\n67=Elapsed:\r\n82=Day\nbad line\n99=Two\\nlines\n100=end\\\n");
  MessageCatalog catalog(dir.path());
  EXPECT_EQ(catalog.text(67), "Elapsed:");
  EXPECT_EQ(catalog.text(82), "Day");
  EXPECT_EQ(catalog.text(99), "Two\nlines");
  EXPECT_EQ(catalog.text(100), "end\\") << "a backslash at the end of a line stays";
  EXPECT_EQ(catalog.text(58), "Select Disk");
  EXPECT_EQ(catalog.text(12345, "keep"), "keep");
  std::string text = "unchanged";
  EXPECT_FALSE(GetMSG(58, text, dir / "EnglishW.dat"));
  EXPECT_EQ(text, "unchanged");
  EXPECT_TRUE(GetMSG(67, text, dir / "EnglishW.dat"));
  EXPECT_EQ(text, "Elapsed:");
  EXPECT_FALSE(GetMSG(67, text, dir / "missing.dat"));
}

}  // namespace
}  // namespace dravolin
