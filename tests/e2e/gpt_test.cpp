// dravolin on the GUID-partitioned fixture disk: the partitions are listed
// with the starts and lengths The Sleuth Kit's mmls reads and their GPT
// names, from the primary header and, on the damaged copy, from the backup;
// every file-system partition is searched and recovered byte for byte; the
// same listing comes from a read-only loop device attached to the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <regex>
#include <sstream>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::runDravolin;
using test::sha256File;
using test::TempDir;

struct MmlsRow {
  std::uint64_t start = 0, length = 0;
  std::string description;  // the GPT name
};

// The partition rows of mmls (numbered slots; "Meta" and unallocated rows left out).
std::vector<MmlsRow> readMmls() {
  std::ifstream in(test::fixturePath("gpt.img.mmls.txt"));
  const std::regex row(R"(^\d+:\s+\d+\s+(\d+)\s+\d+\s+(\d+)\s+(.*)$)");
  std::vector<MmlsRow> rows;
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, row)) rows.push_back({std::stoull(m[1]), std::stoull(m[2]), m[3]});
  }
  return rows;
}

struct LiveFile {
  int partition;
  std::string path, sha256;
};

std::vector<LiveFile> readLiveFiles() {
  std::ifstream in(test::fixturePath("gpt.img.manifest.tsv"));
  std::vector<LiveFile> files;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream s(line);
    for (std::string field; std::getline(s, field, '\t');) f.push_back(field);
    if (f.size() == 6 && f[1] == "live" && f[2] == "file" && f[3] != "0") files.push_back({std::stoi(f[0]), f[5], f[4]});
  }
  return files;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

const std::vector<std::string> kLabels = {"Partition - 1 ( FAT16 )", "Partition - 2 ( NTFS )",
                                          "Partition - 3 ( FAT32 )", "Partition - 4 ( FAT16 )",
                                          "Partition - 5 ( Linux filesystem )"};
const std::vector<std::string> kTypeGuids = {
    "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7",
    "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7",
    "0FC63DAF-8483-4772-8E79-3D69D8477DE4"};

// Checks a `partitions --json` listing against mmls and the names sfdisk wrote.
void expectListing(const test::CommandResult& result, bool fromBackup) {
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const json doc = json::parse(result.out);
  const std::vector<MmlsRow> mmls = readMmls();
  ASSERT_EQ(mmls.size(), kLabels.size()) << "gpt.img.mmls.txt";
  ASSERT_EQ(doc["partitions"].size(), mmls.size()) << result.out;
  EXPECT_EQ(doc["table"], "gpt");
  EXPECT_EQ(doc["gpt_backup_used"], fromBackup);
  for (std::size_t i = 0; i < mmls.size(); ++i) {
    const json& p = doc["partitions"][i];
    SCOPED_TRACE(kLabels[i]);
    EXPECT_EQ(p["label"], kLabels[i]);
    EXPECT_EQ(p["start"], mmls[i].start);
    EXPECT_EQ(p["end"].get<std::uint64_t>() - p["start"].get<std::uint64_t>(), mmls[i].length);
    EXPECT_EQ(p["name"], mmls[i].description);
    EXPECT_EQ(p["type_guid"], kTypeGuids[i]);
    EXPECT_EQ(p["volume_check"], i < 4) << "the four file systems pass their volume check";
  }
  const std::string backupLine = "dravolin: GPT: primary header damaged; using the backup header";
  EXPECT_EQ(result.err.find(backupLine) != std::string::npos, fromBackup) << result.err;
}

struct Image {
  std::string what;
  friend void PrintTo(const Image& c, std::ostream* os) { *os << c.what; }
  std::string file;  // under the fixtures folder
  bool fromBackup;
};

const Image kImages[] = {{"intact", "gpt.img", false},
                         {"primary header damaged", "damaged/gpt-primary-header-damaged.img", true}};

struct GptDiskTest : ::testing::TestWithParam<Image> {
  TempDir dir;
  fs::path image = test::fixturePath(GetParam().file);
  std::string imageHash;
  void SetUp() override {
    ASSERT_TRUE(fs::exists(image)) << image << " missing: run tests/fixtures/build-images.sh";
    imageHash = sha256File(image);
  }
  void TearDown() override { EXPECT_EQ(sha256File(image), imageHash) << "the source image changed"; }
};

TEST_P(GptDiskTest, ListsThePartitionsMmlsReadsWithTheirNames) {
  expectListing(runDravolin({"partitions", image.string(), "--json"}, dir / "home"), GetParam().fromBackup);
  const auto text = runDravolin({"partitions", image.string()}, dir / "home");
  ASSERT_EQ(text.exitCode, 0) << text.err;
  for (const auto& row : readMmls()) {
    EXPECT_NE(text.out.find(row.description), std::string::npos) << row.description;
    EXPECT_NE(text.out.find(std::to_string(row.start)), std::string::npos) << row.start;
  }
  for (const auto& label : kLabels) EXPECT_NE(text.out.find(label), std::string::npos) << label;
  // The activity report keeps the line about the backup too.
  const std::string activity = test::readFile(dir / "home" / "state" / "dravolin" / "Activity Log.txt");
  EXPECT_EQ(activity.find("GPT: primary header damaged; using the backup header") != std::string::npos,
            GetParam().fromBackup);
}

TEST_P(GptDiskTest, EveryFileSystemPartitionRecoversItsLiveFilesByteForByte) {
  const std::vector<LiveFile> files = readLiveFiles();
  for (int partition = 1; partition <= 4; ++partition) {
    SCOPED_TRACE("partition " + std::to_string(partition));
    const fs::path to = dir / ("out" + std::to_string(partition));
    const auto result = runDravolin({"recover", image.string(), "--partition", std::to_string(partition), "--all",
                                     "--to", to.string(), "--json"},
                                    dir / "home");
    ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
    std::map<std::string, fs::path> written;
    for (const auto& entry : fs::recursive_directory_iterator(to))
      if (entry.is_regular_file()) written[lower("/" + fs::relative(entry.path(), to).string())] = entry.path();
    int compared = 0;
    for (const auto& file : files) {
      if (file.partition != partition) continue;
      SCOPED_TRACE(file.path);
      auto found = written.find(lower(file.path));
      ASSERT_NE(found, written.end()) << "not recovered";
      EXPECT_EQ(sha256File(found->second), file.sha256);
      ++compared;
    }
    EXPECT_GT(compared, 30);
  }
  // The empty Linux partition holds no file system to search: one clear line.
  const auto noFileSystem = runDravolin({"scan", image.string(), "--partition", "5"}, dir / "home");
  EXPECT_EQ(noFileSystem.exitCode, 1);
  EXPECT_NE(noFileSystem.err.find("Partition - 5 ( Linux filesystem ): no FAT or NTFS file system found on it"),
            std::string::npos)
      << noFileSystem.err;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GptDiskTest, ::testing::ValuesIn(kImages), test::NameFromWhat{});

// Attaches the image read-only to a free loop device and detaches it again,
// whatever happens in between. Only the device losetup hands out is used.
class ReadOnlyLoopDevice {
 public:
  explicit ReadOnlyLoopDevice(const fs::path& image) {
    int status = 0;
    device_ = test::runShell("losetup -r -f --show '" + image.string() + "' 2>/dev/null", &status);
    while (!device_.empty() && std::isspace(static_cast<unsigned char>(device_.back()))) device_.pop_back();
    if (status != 0 || !device_.starts_with("/dev/loop")) device_.clear();
  }
  ~ReadOnlyLoopDevice() {
    if (!device_.empty()) test::runShell("losetup -d '" + device_ + "'");
  }
  ReadOnlyLoopDevice(const ReadOnlyLoopDevice&) = delete;
  ReadOnlyLoopDevice& operator=(const ReadOnlyLoopDevice&) = delete;
  const std::string& device() const { return device_; }

 private:
  std::string device_;
};

TEST(GptLoopDevice, ListsTheSamePartitionsAsTheImage) {
  TempDir dir;
  const fs::path image = test::fixturePath("gpt.img");
  ASSERT_TRUE(fs::exists(image));
  const ReadOnlyLoopDevice loop(image);
  if (loop.device().empty()) GTEST_SKIP() << "losetup is not permitted here: the loop-device listing is not tested";
  expectListing(runDravolin({"partitions", loop.device(), "--json"}, dir / "home"), false);
}

}  // namespace
}  // namespace dravolin
