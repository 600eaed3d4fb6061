// exFAT end to end over the images of tests/fixtures/build-exfat-images.sh,
// with The Sleuth Kit's listing and the files as written as the oracle:
// every live file listed with its path and size and saved byte-exact, every
// deleted file whose clusters were contiguous saved byte-exact, the deleted
// entries fls lists all listed, the source unchanged; and on the SD-card
// disk with its MBR wiped the search for lost partitions finds the volume
// at its start sector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace dravolin::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

fs::path exfatFixtures() {
  if (const char* dir = std::getenv("DRAVOLIN_EXFAT_FIXTURES")) return dir;
  return fixturePath("exfat");
}

struct ManifestRow {
  bool deleted = false;
  std::uint64_t size = 0;
  std::string sha256;
  bool contiguous = false;
  std::string path;
};

std::vector<ManifestRow> readManifest(const fs::path& file) {
  std::vector<ManifestRow> rows;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string state, size, sha, contiguous, start, path;
    std::getline(fields, state, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, sha, '\t');
    std::getline(fields, contiguous, '\t');
    std::getline(fields, start, '\t');
    std::getline(fields, path);
    if (path.empty()) continue;
    rows.push_back({state == "deleted", std::stoull(size), sha, contiguous == "1", path});
  }
  return rows;
}

// The deleted regular files of `fls -r -p`: "r/r * 123:\tpath".
std::vector<std::string> flsDeletedFiles(const fs::path& file) {
  std::vector<std::string> paths;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.starts_with("r/r * ")) continue;
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string path = "/" + line.substr(tab + 1);
    if (path.starts_with("/$OrphanFiles")) continue;
    paths.push_back(path);
  }
  return paths;
}

struct ExfatImage {
  const char* image;
  friend void PrintTo(const ExfatImage& i, std::ostream* os) { *os << i.image; }
};

class ExfatRecoveryTest : public ::testing::TestWithParam<ExfatImage> {
 protected:
  void SetUp() override {
    if (fs::exists(exfatFixtures() / "SKIPPED"))
      GTEST_SKIP() << "exFAT fixtures were not built: " << readFile(exfatFixtures() / "SKIPPED");
    image = exfatFixtures() / GetParam().image;
    ASSERT_TRUE(fs::exists(image)) << image << " missing: run tests/fixtures/build-exfat-images.sh";
    imageHash = sha256File(image);
  }
  void TearDown() override {
    if (!imageHash.empty()) EXPECT_EQ(sha256File(image), imageHash) << "the source image changed";
  }
  TempDir dir;
  fs::path image;
  std::string imageHash;
};

TEST_P(ExfatRecoveryTest, ListsAndSavesWhatTheSleuthKitSees) {
  const auto manifest = readManifest(image.string() + ".manifest");
  ASSERT_FALSE(manifest.empty());

  const CommandResult partitions = runDravolin({"partitions", image.string(), "--json"}, dir / "home");
  ASSERT_EQ(partitions.exitCode, 0) << partitions.err;
  const json listing = json::parse(partitions.out);
  ASSERT_EQ(listing["partitions"].size(), 1u);
  EXPECT_EQ(listing["partitions"][0]["type"], "exFAT");
  EXPECT_EQ(listing["partitions"][0]["label"], "Partition - 1 ( exFAT )");

  const CommandResult scan = runDravolin({"scan", image.string(), "--json", "-q"}, dir / "home");
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const json doc = json::parse(scan.out);
  EXPECT_EQ(doc["file_system"], "exFAT");
  std::map<std::string, json> files;
  for (const json& entry : doc["entries"])
    if (entry["kind"] == "file") files[entry["path"].get<std::string>()] = entry;

  for (const ManifestRow& row : manifest) {
    SCOPED_TRACE(row.path);
    auto it = files.find(row.path);
    ASSERT_NE(it, files.end()) << "not listed";
    EXPECT_EQ(it->second["size"].get<std::uint64_t>(), row.size);
    EXPECT_EQ(it->second["deleted"].get<bool>(), row.deleted);
  }
  for (const std::string& path : flsDeletedFiles(image.string() + ".fls.txt")) {
    auto it = files.find(path);
    ASSERT_NE(it, files.end()) << path << ": deleted in fls, not listed";
    EXPECT_TRUE(it->second["deleted"].get<bool>()) << path;
  }

  const fs::path out = dir / "out";
  const CommandResult recover = runDravolin({"recover", image.string(), "--all", "--to", out.string(), "-q"},
                                            dir / "home");
  ASSERT_EQ(recover.exitCode, 0) << recover.err;
  std::size_t deletedChecked = 0;
  for (const ManifestRow& row : manifest) {
    SCOPED_TRACE(row.path);
    if (row.deleted && !row.contiguous) continue;
    const fs::path saved = out / fs::path(row.path).relative_path();
    ASSERT_TRUE(fs::exists(saved)) << "not saved";
    EXPECT_EQ(sha256File(saved), row.sha256);
    if (row.deleted) ++deletedChecked;
  }
  // Every image deletes files; at least one of them was contiguous.
  EXPECT_GT(deletedChecked, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, ExfatRecoveryTest,
                         ::testing::Values(ExfatImage{"exfat.img"}, ExfatImage{"exfat-sd.img"},
                                           ExfatImage{"exfat-gpt.img"}),
                         [](const auto& info) {
                           std::string name = info.param.image;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(ExfatLostPartition, FindsTheVolumeOfAnSdCardWithoutItsMbr) {
  if (fs::exists(exfatFixtures() / "SKIPPED")) GTEST_SKIP() << "exFAT fixtures were not built";
  TempDir dir;
  const fs::path disk = dir / "sd-no-mbr.img";
  fs::copy_file(exfatFixtures() / "exfat-sd.img", disk);
  {
    std::fstream f(disk, std::ios::in | std::ios::out | std::ios::binary);
    const std::string zeros(512, '\0');
    f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  const CommandResult partitions = runDravolin({"partitions", disk.string(), "--json"}, dir / "home");
  ASSERT_TRUE(json::parse(partitions.out)["partitions"].empty()) << partitions.out;

  const CommandResult lost = runDravolin({"lost", disk.string(), "--json", "-q"}, dir / "home");
  ASSERT_EQ(lost.exitCode, 0) << lost.err;
  const json doc = json::parse(lost.out);
  ASSERT_EQ(doc["file_systems"].size(), 1u) << lost.out;
  EXPECT_EQ(doc["file_systems"][0]["type"], "exFAT");
  EXPECT_EQ(doc["file_systems"][0]["label"], "File System 1 - exFAT");
  EXPECT_EQ(doc["file_systems"][0]["start"], 8192);

  // Chosen, it is searched as a partition: the live files come back.
  const fs::path out = dir / "out";
  const CommandResult recover =
      runDravolin({"recover", disk.string(), "--lost", "1", "--all", "--to", out.string(), "-q"}, dir / "home");
  ASSERT_EQ(recover.exitCode, 0) << recover.err;
  for (const ManifestRow& row : readManifest(exfatFixtures() / "exfat-sd.img.manifest")) {
    if (row.deleted) continue;
    EXPECT_EQ(sha256File(out / fs::path(row.path).relative_path()), row.sha256) << row.path;
  }
}

// The root folder's cluster wiped: the search finds nothing from the root,
// switches to the exhaustive sweep, and every top folder comes back under
// "Lost" with its files (a 1,000-file folder over many clusters included),
// saved byte-exact.
TEST(ExfatExhaustive, FoldersOfAWipedRootComeBackUnderLost) {
  if (fs::exists(exfatFixtures() / "SKIPPED")) GTEST_SKIP() << "exFAT fixtures were not built";
  TempDir dir;
  const fs::path disk = dir / "no-root.img";
  fs::copy_file(exfatFixtures() / "exfat.img", disk);
  {
    std::fstream f(disk, std::ios::in | std::ios::out | std::ios::binary);
    std::string boot(512, '\0');
    f.read(boot.data(), 512);
    auto u32 = [&](std::size_t at) {
      std::uint32_t v = 0;
      for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(boot[at + static_cast<std::size_t>(i)]);
      return v;
    };
    const std::uint64_t sectorBytes = 1ULL << static_cast<unsigned char>(boot[108]);
    const std::uint64_t clusterSectors = 1ULL << static_cast<unsigned char>(boot[109]);
    const std::uint64_t rootAt = (u32(88) + (u32(96) - 2) * clusterSectors) * sectorBytes;
    f.seekp(static_cast<std::streamoff>(rootAt));
    const std::string zeros(clusterSectors * sectorBytes, '\0');
    f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  const CommandResult scan = runDravolin({"scan", disk.string(), "--json", "-q"}, dir / "home");
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  std::vector<std::string> lost;
  const json doc = json::parse(scan.out);
  for (const json& entry : doc["entries"])
    if (entry["kind"] == "file" && entry["path"].get<std::string>().starts_with("/Lost/Dir"))
      lost.push_back(entry["path"].get<std::string>());
  const fs::path out = dir / "out";
  const CommandResult recover = runDravolin({"recover", disk.string(), "--all", "--to", out.string(), "-q"},
                                            dir / "home");
  ASSERT_EQ(recover.exitCode, 0) << recover.err;
  std::size_t checked = 0;
  for (const ManifestRow& row : readManifest(exfatFixtures() / "exfat.img.manifest")) {
    const auto second = row.path.find('/', 1);
    if (row.deleted || second == std::string::npos) continue;  // root files went with the root
    const std::string inFolder = row.path.substr(second);
    auto it = std::find_if(lost.begin(), lost.end(), [&](const std::string& p) {
      return p.ends_with(inFolder) && p.find('/', 6) == p.size() - inFolder.size();
    });
    ASSERT_NE(it, lost.end()) << row.path << " not under Lost";
    EXPECT_EQ(sha256File(out / fs::path(*it).relative_path()), row.sha256) << *it;
    ++checked;
  }
  EXPECT_GT(checked, 1000u);
}

TEST(ExfatSearchLog, SaveLogSaysItIsNotAvailableAndWritesNothing) {
  if (fs::exists(exfatFixtures() / "SKIPPED")) GTEST_SKIP() << "exFAT fixtures were not built";
  TempDir dir;
  const fs::path log = dir / "results.ST4";
  const CommandResult scan =
      runDravolin({"scan", (exfatFixtures() / "exfat-gpt.img").string(), "--save-log", log.string(), "-q"},
                  dir / "home");
  EXPECT_EQ(scan.exitCode, 1);
  EXPECT_NE(scan.err.find("Search logs are not available for exFAT volumes: no log was written."),
            std::string::npos) << scan.err;
  EXPECT_FALSE(fs::exists(log));
}

}  // namespace
}  // namespace dravolin::test
