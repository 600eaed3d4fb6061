#include "logs/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;

TEST(LogFile, EntriesStartOnANewLineInTheCodePageAndAreCutAt200Bytes) {
  test::TempDir dir;
  LogFile log(LogKind::Activity, dir.path());
  ASSERT_TRUE(log.append("Step 1 : Desktop Recovery"));
  ASSERT_TRUE(log.append("Café " + std::string(300, 'x')));
  std::string content = test::readFile(dir / "Activity Log.txt");
  std::string second = "\r\nCaf\xE9 " + std::string(195, 'x');
  EXPECT_EQ(content, "\r\nStep 1 : Desktop Recovery" + second);
  EXPECT_EQ(log.path().filename(), "Activity Log.txt");
  EXPECT_EQ(LogFile(LogKind::Recovery, dir.path()).path().filename(), "Recovery Log.txt");
}

TEST(LogFile, SizeLimit) {
  struct Case {
    std::uint64_t size;
    bool restarted;
  };
  for (Case c : {Case{kLogSizeLimit, false}, Case{kLogSizeLimit + 1, true}}) {
    test::TempDir dir;
    fs::path file = dir / "Recovery Log.txt";
    test::writeFile(file, std::string(c.size, 'a'));
    LogFile log(LogKind::Recovery, dir.path());
    ASSERT_TRUE(log.append("new"));
    EXPECT_EQ(fs::file_size(file), c.restarted ? 5u : c.size + 5) << c.size;
  }
}

TEST(LogFile, ReadOnlyLogIsMadeWritableAndMissingFolderIsCreated) {
  test::TempDir dir;
  fs::path folder = dir / "a" / "b";
  LogFile log(LogKind::Activity, folder);
  ASSERT_TRUE(log.append("one"));
  fs::permissions(log.path(), fs::perms::owner_read | fs::perms::group_read, fs::perm_options::replace);
  EXPECT_TRUE(log.append("two"));
  EXPECT_EQ(test::readFile(log.path()), "\r\none\r\ntwo");
}

}  // namespace
}  // namespace dravolin
