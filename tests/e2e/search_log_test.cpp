// dravolin scan --save-log and --load-log on the fixture images: a log saved
// after a search reloads, on a copy of the image filled with zeros, to the
// same listing; recover from a reloaded NTFS log finds every file's record;
// a log of another disk or of another name is refused; the sources never change.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using test::runDravolin;
using test::sha256File;
using test::TempDir;

struct Row {
  std::string what;
  friend void PrintTo(const Row& c, std::ostream* os) { *os << c.what; }
  std::string image;
  std::vector<std::string> choice;
};

class SearchLogE2eTest : public ::testing::TestWithParam<Row> {
 protected:
  test::CommandResult run(std::vector<std::string> arguments) { return runDravolin(arguments, home.path()); }
  TempDir home;
};

TEST_P(SearchLogE2eTest, ALogReloadsToTheSameListingWithoutTheDisk) {
  const Row& row = GetParam();
  const fs::path image = test::fixturePath(row.image);
  const std::string sourceHash = sha256File(image);

  std::vector<std::string> scan{"scan", image.string(), "--json", "--save-log", (home / "result").string()};
  scan.insert(scan.end(), row.choice.begin(), row.choice.end());
  const auto searched = run(scan);
  ASSERT_EQ(searched.exitCode, 0) << searched.err;
  const fs::path log = home / "RESULT.ST4";
  ASSERT_TRUE(fs::exists(log)) << searched.err;

  // A copy of the same size that holds nothing: the listing can only come from the log.
  const fs::path zeros = home / "zeros.img";
  { std::ofstream(zeros, std::ios::binary); }
  fs::resize_file(zeros, fs::file_size(image));
  const auto reloaded = run({"scan", zeros.string(), "--json", "--load-log", log.string()});
  ASSERT_EQ(reloaded.exitCode, 0) << reloaded.err;
  EXPECT_EQ(reloaded.out, searched.out);
  EXPECT_NE(reloaded.err.find("same size"), std::string::npos) << reloaded.err;

  // Recover through the log reads the files' data from the source as a
  // search would have found it.
  std::vector<std::string> recover{"recover", image.string(), "--all", "--to", (home / "direct").string(), "-q"};
  recover.insert(recover.end(), row.choice.begin(), row.choice.end());
  const auto direct = run(recover);
  const auto fromLog = run({"recover", image.string(), "--all", "--to", (home / "fromlog").string(), "-q",
                            "--load-log", log.string()});
  EXPECT_EQ(fromLog.exitCode, direct.exitCode) << fromLog.err;
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(home / "direct")) {
    if (!entry.is_regular_file()) continue;
    ++files;
    const fs::path twin = home / "fromlog" / fs::relative(entry.path(), home / "direct");
    ASSERT_TRUE(fs::exists(twin)) << twin;
    EXPECT_EQ(sha256File(twin), sha256File(entry.path())) << twin;
  }
  EXPECT_GT(files, 0u);
  EXPECT_EQ(sha256File(image), sourceHash);
}

const Row kRows[] = {
    {"FAT16 directory tree", "fat16.img", {}},
    {"FAT32 exhaustive", "fat32.img", {"--exhaustive"}},
    {"NTFS MFT walk", "ntfs.img", {}},
    {"NTFS exhaustive", "ntfs.img", {"--exhaustive"}},
    {"FAT32 partition of an MBR disk", "mbr.img", {"--partition", "2"}},
};
INSTANTIATE_TEST_SUITE_P(Fixtures, SearchLogE2eTest, ::testing::ValuesIn(kRows), test::NameFromWhat{});

// A volume past sector 2^32 of a 2 TiB disk (a sparse file): the volume
// parameters the log keeps in 32 bits are rebuilt from its 64-bit start, so
// recover through the log reads the files where a search finds them, not
// zeros from near the start of the disk.
TEST(SearchLogE2eLargeDisk, ALogOfAVolumePastSectorTwoToThe32SavesTheSameFiles) {
  TempDir home;
  const fs::path image = test::fixturePath("damaged/fat16-past-2tib.img");
  const std::vector<std::string> range{"--range", "4294969344", "4295034880", "--fs", "FAT16"};
  auto withRange = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin() + 2, range.begin(), range.end());
    return runDravolin(arguments, home.path());
  };
  const auto searched = withRange({"scan", image.string(), "-q", "--save-log", (home / "big").string()});
  ASSERT_EQ(searched.exitCode, 0) << searched.err;
  const auto direct = withRange({"recover", image.string(), "--all", "--to", (home / "direct").string(), "-q"});
  ASSERT_EQ(direct.exitCode, 0) << direct.err;
  const auto fromLog = runDravolin({"recover", image.string(), "--all", "--to", (home / "fromlog").string(), "-q",
                                    "--load-log", (home / "BIG.ST4").string()},
                                   home.path());
  EXPECT_EQ(fromLog.exitCode, 0) << fromLog.err;
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(home / "direct")) {
    if (!entry.is_regular_file()) continue;
    ++files;
    const fs::path twin = home / "fromlog" / fs::relative(entry.path(), home / "direct");
    ASSERT_TRUE(fs::exists(twin)) << twin;
    EXPECT_EQ(sha256File(twin), sha256File(entry.path())) << twin;
  }
  EXPECT_GT(files, 10u);
  EXPECT_TRUE(fs::exists(home / "direct" / "Documents" / "Letter to Anna.txt"));
}

// A volume whose boot sector claims more sectors than the image holds: the
// search cuts its range at the end of the image, and the logs it writes
// (of the listing, and of a search for lost partitions whose found volume
// keeps the end its boot sector claims) load again on that image to the
// same listing.
TEST(SearchLogE2eShortImage, LogsOfAVolumeLongerThanTheImageLoadAgain) {
  TempDir home;
  const std::string image = test::fixturePath("damaged/ntfs-cut-short.img").string();
  const std::string st4 = (home / "SHORT.ST4").string(), st2c = (home / "SHORT.ST2C").string();
  auto run = [&](std::vector<std::string> arguments) { return runDravolin(arguments, home.path()); };
  const auto listed = run({"scan", image, "--json", "--save-log", st4});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  const auto lost = run({"lost", image, "-q", "--save-log", st2c});
  ASSERT_EQ(lost.exitCode, 0) << lost.err;
  const auto lostListed = run({"scan", image, "--json", "--lost", "1"});
  ASSERT_EQ(lostListed.exitCode, 0) << lostListed.err;
  struct Row {
    std::string log;
    std::vector<std::string> extra;
    std::string expected;
  };
  const Row rows[] = {{st4, {}, listed.out}, {st2c, {"--lost", "1"}, lostListed.out}};
  for (const Row& row : rows) {
    std::vector<std::string> arguments{"scan", image, "--json", "--load-log", row.log};
    arguments.insert(arguments.end(), row.extra.begin(), row.extra.end());
    const auto reloaded = run(arguments);
    EXPECT_EQ(reloaded.exitCode, 0) << row.log << reloaded.err;
    EXPECT_EQ(reloaded.out, row.expected) << row.log;
    EXPECT_EQ(reloaded.err.find("Wrong Disk"), std::string::npos) << reloaded.err;
  }
}

TEST(SearchLogE2eRefusals, ALogOfAnotherDiskOrNameIsRefused) {
  TempDir home;
  const fs::path image = test::fixturePath("fat12.img");
  ASSERT_EQ(runDravolin({"scan", image.string(), "--save-log", (home / "fat12").string(), "-q"}, home.path()).exitCode,
            0);
  fs::copy_file(home / "FAT12.ST4", home / "fat12.txt");
  struct Refusal {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
  };
  const Refusal rows[] = {
      {{"scan", test::fixturePath("fat16.img").string(), "--load-log", (home / "FAT12.ST4").string()}, 1,
       "You Have Selected Wrong Disk."},
      {{"scan", image.string(), "--load-log", (home / "fat12.txt").string()}, 2, "is not a search log"},
      {{"scan", image.string(), "--load-log", (home / "FAT12.ST4").string(), "--partition", "1"}, 2,
       "leave out --partition"},
      {{"scan", image.string(), "--json", "--load-log", (home / "NONE.ST4").string()}, 1, "Unable to open file."},
  };
  for (const Refusal& row : rows) {
    const auto result = runDravolin(row.arguments, home.path());
    EXPECT_EQ(result.exitCode, row.exitCode) << row.arguments.back() << result.err;
    EXPECT_NE((result.err + result.out).find(row.message), std::string::npos) << result.err << result.out;
  }
}

// A name read from a log is made safe as a name read from a disk: one that
// climbs out of the destination is saved inside it.
TEST(SearchLogE2eNames, ANameFromALogStaysInsideTheDestination) {
  TempDir home;
  const fs::path image = test::fixturePath("fat16.img");
  ASSERT_EQ(runDravolin({"scan", image.string(), "--save-log", (home / "names").string(), "-q"}, home.path()).exitCode,
            0);
  std::string bytes = test::readFile(home / "NAMES.ST4");
  const std::u16string name = u"Letter to Anna.txt", climbing = u"../../../escaped.t";
  ASSERT_EQ(name.size(), climbing.size());
  const std::string from(reinterpret_cast<const char*>(name.data()), name.size() * 2);
  const std::string to(reinterpret_cast<const char*>(climbing.data()), climbing.size() * 2);
  const std::size_t at = bytes.find(from);
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, from.size(), to);
  test::writeFile(home / "CLIMB.ST4", bytes);
  const fs::path destination = home / "a" / "b" / "c" / "out";
  const auto result = runDravolin({"recover", image.string(), "--all", "--to", destination.string(), "-q",
                                   "--load-log", (home / "CLIMB.ST4").string()},
                                  home.path());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(fs::exists(home / "a" / "escaped.t"));
  EXPECT_FALSE(fs::exists(home / "escaped.t"));
  EXPECT_TRUE(fs::exists(destination / "Documents" / ".._.._.._escaped.t"));
}

}  // namespace
}  // namespace dravolin
