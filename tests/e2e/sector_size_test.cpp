// dravolin on a disk with 4,096-byte logical sectors (build-4k-images.sh):
// a GPT whose LBAs count 4,096-byte sectors, FAT16 and FAT32 volumes made
// with mkfs.fat -S 4096 and an NTFS volume made with mkntfs -s 4096. From
// the image file (whose layout tells the sector size) and from a read-only
// `losetup -b 4096` loop device of it (whose kernel says it), the listing
// shows the partitions where The Sleuth Kit's mmls -b 4096 sees them and
// `recover --all` gives every file of the manifest byte for byte, deleted
// ones included.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kImage = fs::path(DRAVOLIN_FIXTURES_4K_DIR) / "disk4k.img";

struct ManifestFile {
  int partition;
  std::string path, sha256;
};

std::vector<ManifestFile> readManifestFiles() {
  std::ifstream in(kImage.string() + ".manifest.tsv");
  std::vector<ManifestFile> files;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream s(line);
    for (std::string field; std::getline(s, field, '\t');) f.push_back(field);
    if (f.size() == 6 && f[2] == "file") files.push_back({std::stoi(f[0]), f[5], f[4]});
  }
  return files;
}

// A read-only loop device of the image with 4,096-byte sectors, detached
// whatever happens; empty where losetup is not permitted.
class Loop4K {
 public:
  Loop4K() {
    int status = 0;
    device_ = test::runShell("losetup -r -b 4096 -f --show '" + kImage.string() + "' 2>/dev/null", &status);
    while (!device_.empty() && (device_.back() == '\n' || device_.back() == ' ')) device_.pop_back();
    if (status != 0 || !device_.starts_with("/dev/loop")) device_.clear();
  }
  ~Loop4K() {
    if (!device_.empty()) test::runShell("losetup -d '" + device_ + "'");
  }
  Loop4K(const Loop4K&) = delete;
  Loop4K& operator=(const Loop4K&) = delete;
  const std::string& device() const { return device_; }

 private:
  std::string device_;
};

struct Expected {
  std::string label;
  std::uint64_t start, end, lbaStart;  // 512-byte sectors; the disk's own LBA
};
const Expected kPartitions[] = {{"Partition - 1 ( FAT16 )", 2048, 83968, 256},
                                {"Partition - 2 ( FAT32 )", 83968, 624640, 10496},
                                {"Partition - 3 ( NTFS )", 624640, 649216, 78080}};

void expectEverythingRecovered(const std::string& source, const fs::path& dir) {
  const auto listed = test::runDravolin({"partitions", source, "--json"}, dir / "home");
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  const json doc = json::parse(listed.out);
  EXPECT_EQ(doc.at("sector_size"), 4096);
  EXPECT_EQ(doc.at("table"), "gpt");
  ASSERT_EQ(doc.at("partitions").size(), std::size(kPartitions)) << listed.out;
  for (std::size_t i = 0; i < std::size(kPartitions); ++i) {
    const json& p = doc["partitions"][i];
    SCOPED_TRACE(kPartitions[i].label);
    EXPECT_EQ(p.at("label"), kPartitions[i].label);
    EXPECT_EQ(p.at("start"), kPartitions[i].start);
    EXPECT_EQ(p.at("end"), kPartitions[i].end);
    EXPECT_EQ(p.at("lba_start"), kPartitions[i].lbaStart);
    EXPECT_EQ(p.at("volume_check"), true);
  }

  const auto files = readManifestFiles();
  ASSERT_GT(files.size(), 100u);
  for (int partition = 1; partition <= 3; ++partition) {
    const fs::path to = dir / ("p" + std::to_string(partition));
    const auto saved = test::runDravolin(
        {"recover", source, "--partition", std::to_string(partition), "--all", "--to", to.string(), "-q"}, dir / "home");
    EXPECT_EQ(saved.exitCode, 0) << saved.err;
  }
  int checked = 0;
  for (const ManifestFile& f : files) {
    const fs::path saved = dir / ("p" + std::to_string(f.partition)) / fs::path(f.path).relative_path();
    SCOPED_TRACE(saved.string());
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_EQ(test::sha256File(saved), f.sha256);
    ++checked;
  }
  EXPECT_EQ(checked, static_cast<int>(files.size()));
}

TEST(SectorSize4K, ImageFileListsAndRecoversEveryFile) {
  ASSERT_TRUE(fs::exists(kImage)) << "run tests/fixtures/build-4k-images.sh";
  test::TempDir dir;
  expectEverythingRecovered(kImage.string(), dir.path());
}

TEST(SectorSize4K, LoopDeviceListsAndRecoversEveryFile) {
  ASSERT_TRUE(fs::exists(kImage)) << "run tests/fixtures/build-4k-images.sh";
  const Loop4K loop;
  if (loop.device().empty()) GTEST_SKIP() << "losetup is not permitted here: the 4096-byte loop device is not tested";
  test::TempDir dir;
  expectEverythingRecovered(loop.device(), dir.path());
}

// --sector-size overrides what the image shows: read as a 512-byte disk,
// the table is not a GPT any more (and the option takes 512 or 4096 only).
TEST(SectorSize4K, ForcedSizeIsTheOneUsed) {
  ASSERT_TRUE(fs::exists(kImage)) << "run tests/fixtures/build-4k-images.sh";
  test::TempDir dir;
  const auto forced = test::runDravolin({"partitions", kImage.string(), "--json", "--sector-size", "512"}, dir.path() / "home");
  ASSERT_EQ(forced.exitCode, 0) << forced.err;
  const json doc = json::parse(forced.out);
  EXPECT_EQ(doc.at("sector_size"), 512);
  EXPECT_TRUE(doc.at("partitions").empty()) << forced.out;
  const auto refused = test::runDravolin({"partitions", kImage.string(), "--sector-size", "1000"}, dir.path() / "home");
  EXPECT_EQ(refused.exitCode, 2);
}

}  // namespace
}  // namespace dravolin
