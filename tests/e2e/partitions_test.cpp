// The partition listing of the command line against The Sleuth Kit's mmls,
// on a fixture image and on a loop device attached to the same image.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "support/test_support.h"

namespace dravolin {
namespace {

using test::runDravolin;
using test::runShell;

struct Slice {
  std::uint64_t start;
  std::uint64_t length;
  bool operator==(const Slice&) const = default;
};

// Partitions that mmls lists (not the tables, gaps or the extended containers).
std::vector<Slice> mmlsPartitions(const std::string& image) {
  std::vector<Slice> out;
  std::istringstream lines(runShell("mmls '" + image + "'"));
  std::regex row(R"(^\d+:\s+\d+:\d+\s+(\d+)\s+(\d+)\s+(\d+)\s+(.*)$)");
  std::string line;
  std::smatch m;
  while (std::getline(lines, line))
    if (std::regex_match(line, m, row) && m[4].str().find("Extended") == std::string::npos)
      out.push_back({std::stoull(m[1]), std::stoull(m[3])});
  return out;
}

class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image) {
    int status = 0;
    path_ = runShell("losetup -r -f --show '" + image + "' 2>/dev/null", &status);
    while (!path_.empty() && path_.back() == '\n') path_.pop_back();
    if (status != 0) path_.clear();
  }
  ~LoopDevice() {
    if (!path_.empty()) runShell("losetup -d '" + path_ + "'");
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(PartitionsCommand, MbrFixtureMatchesMmls) {
  test::TempDir home;
  const std::string image = test::fixturePath("mbr.img").string();
  std::string before = test::sha256File(image);
  auto result = runDravolin({"partitions", image, "--json"}, home.path());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto doc = nlohmann::json::parse(result.out);
  std::vector<Slice> ours;
  std::vector<std::string> types;
  for (const auto& p : doc["partitions"]) {
    ours.push_back({p["start"].get<std::uint64_t>(), p["end"].get<std::uint64_t>() - p["start"].get<std::uint64_t>()});
    types.push_back(p["type"]);
    EXPECT_EQ(p["label"], "Partition - " + std::to_string(p["ordinal"].get<int>()) + " ( " + p["type"].get<std::string>() + " )");
    EXPECT_TRUE(p["volume_check"].get<bool>()) << p["label"];
  }
  EXPECT_EQ(ours, mmlsPartitions(image));
  EXPECT_EQ(types, (std::vector<std::string>{"FAT16", "FAT32", "NTFS", "FAT16"}));
  EXPECT_EQ(test::sha256File(image), before) << "the source must never change";
  // partitions writes no log.
  EXPECT_FALSE(std::filesystem::exists(home / "state" / "dravolin" / "Activity Log.txt"));
}

TEST(PartitionsCommand, UnpartitionedVolumesListOnePartitionFromSectorZero) {
  struct Case {
    const char* image;
    const char* label;
    std::uint64_t sectorsBeyondEnd;  // NTFS counts its volume without the backup boot sector
  };
  for (Case c : {Case{"fat12.img", "Partition - 1 ( FAT12 )", 0}, Case{"fat16.img", "Partition - 1 ( FAT16 )", 0},
                 Case{"fat32.img", "Partition - 1 ( FAT32 )", 0}, Case{"ntfs.img", "Partition - 1 ( NTFS )", 1}}) {
    test::TempDir home;
    auto result = runDravolin({"partitions", test::fixturePath(c.image).string(), "--json"}, home.path());
    ASSERT_EQ(result.exitCode, 0) << c.image << result.err;
    auto doc = nlohmann::json::parse(result.out);
    ASSERT_EQ(doc["partitions"].size(), 1u) << c.image;
    EXPECT_EQ(doc["partitions"][0]["label"], c.label);
    EXPECT_EQ(doc["partitions"][0]["start"], 0);
    EXPECT_EQ((doc["partitions"][0]["end"].get<std::uint64_t>() + c.sectorsBeyondEnd) * 512,
              std::filesystem::file_size(test::fixturePath(c.image)))
        << c.image;
    EXPECT_TRUE(doc["partitions"][0]["volume_check"].get<bool>()) << c.image;
  }
}

TEST(PartitionsCommand, LoopDeviceOfTheSameImagePrintsTheSame) {
  const std::string image = test::fixturePath("mbr.img").string();
  LoopDevice loop(image);
  if (loop.path().empty()) GTEST_SKIP() << "losetup could not attach a loop device here (not root?)";
  test::TempDir home;
  auto fromImage = runDravolin({"partitions", image}, home.path());
  auto fromLoop = runDravolin({"partitions", loop.path()}, home.path());
  ASSERT_EQ(fromLoop.exitCode, 0) << fromLoop.err;
  // The first line names the source; the listing below it must be identical.
  auto body = [](const std::string& s) { return s.substr(s.find('\n') + 1); };
  EXPECT_EQ(body(fromLoop.out), body(fromImage.out));
  EXPECT_NE(fromImage.out.find("Partition - 1 ( FAT16 )"), std::string::npos);

  // The attached loop device is listed among the disks with its backing file
  // and the size blockdev reports.
  auto disks = runDravolin({"disks", "--json"}, home.path());
  ASSERT_EQ(disks.exitCode, 0) << disks.err;
  bool found = false;
  const auto listed = nlohmann::json::parse(disks.out);
  for (const auto& d : listed["disks"]) {
    std::string device = d["device"];
    std::string size = runShell("blockdev --getsize64 '" + device + "' 2>/dev/null");
    if (!size.empty()) {
      EXPECT_EQ(std::stoull(size), d["size_bytes"].get<std::uint64_t>()) << device;
    }
    if (device == loop.path()) {
      found = true;
      EXPECT_EQ(d["model"], std::filesystem::canonical(image).string());
    }
  }
  EXPECT_TRUE(found) << "the loop device " << loop.path() << " is listed in:\n" << disks.out;
}

TEST(PartitionsCommand, BadSourcesAndUsage) {
  test::TempDir home;
  test::writeFile(home / "empty.img", "");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {{"partitions", "/nonexistent/disk.img"}, 1, "No such file or directory"},
      {{"partitions", "/dev/null"}, 1, "not a disk"},
      {{"partitions", (home / "empty.img").string()}, 0, "No partitions recognised."},
      {{"partitions"}, 2, "SOURCE is required"},
      {{"nonsense"}, 2, ""},
      {{"partitions", "Disk999"}, 1, "no such disk"},
  };
  for (const auto& c : cases) {
    auto r = runDravolin(c.args, home.path());
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "") << r.err;
    EXPECT_NE((r.err + r.out).find(c.message), std::string::npos) << r.err << r.out;
  }
}

}  // namespace
}  // namespace dravolin
