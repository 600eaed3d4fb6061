// dravolin lost, and scan/recover --lost N, on copies of mbr.img whose
// partition tables are gone (tests/fixtures/damaged/mbr-lost-tables.sh):
// every file system is found with the start and cluster size mmls listed
// before the wipe, each tree lists what the manifest says its volume holds
// and nothing of the other volumes, and its live files come back byte for
// byte. In the second copy the first FAT16 boot sector is gone too: that
// volume is inferred from its directories (start 0). No source changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <sstream>

#include "support/test_support.h"

namespace dravolin {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::TempDir;

fs::path damaged(const std::string& name) { return test::fixturePath("damaged/" + name); }

// What mmls listed before the wipe, in listing order (the manifest's
// partition numbers).
struct ListedVolume {
  std::uint64_t start = 0;
  std::string type;  // "FAT16", "FAT32" or "NTFS"
  std::uint32_t sectorsPerCluster = 0;
};

std::vector<ListedVolume> listedVolumes() {
  std::vector<ListedVolume> volumes;
  std::ifstream in(damaged("mbr-lost-tables.volumes.tsv"));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream s(line);
    for (std::string field; std::getline(s, field, '\t');) f.push_back(field);
    if (f.size() != 4) continue;
    const std::string type = f[2].find("FAT16") != std::string::npos   ? "FAT16"
                             : f[2].find("FAT32") != std::string::npos ? "FAT32"
                                                                       : "NTFS";
    volumes.push_back({std::stoull(f[0]), type, static_cast<std::uint32_t>(std::stoul(f[3]))});
  }
  return volumes;
}

struct ManifestRow {
  int partition = 0;
  bool deleted = false;
  bool folder = false;
  std::string sha256;
  std::string path;
};

struct Manifest {
  std::vector<ManifestRow> rows;
  std::vector<std::string> skipped;  // zero-length and overwritten files: not compared by content
};

Manifest readManifest() {
  Manifest manifest;
  std::ifstream in(test::fixturePath("mbr.img.manifest.tsv"));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    for (const std::string key : {"# zero-length: ", "# overwritten: "})
      if (line.starts_with(key)) manifest.skipped.push_back(line.substr(key.size()));
    if (line.starts_with("#")) continue;
    std::vector<std::string> f;
    std::stringstream s(line);
    for (std::string field; std::getline(s, field, '\t');) f.push_back(field);
    if (f.size() != 6) continue;
    manifest.rows.push_back({std::stoi(f[0]), f[1] == "deleted", f[2] == "folder", f[4], f[5]});
  }
  return manifest;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

struct Dravolin {
  TempDir dir;
  test::CommandResult operator()(const std::vector<std::string>& arguments) {
    return test::runDravolin(arguments, dir / "home");
  }
};

// One volume of one copy: which manifest partition it is, and whether its
// boot sector is gone (the volume is then inferred).
struct LostCase {
  std::string what;
  friend void PrintTo(const LostCase& c, std::ostream* os) { *os << c.what; }
  std::string image;
  int partition = 0;  // 1-based, as in the manifest and volumes.tsv
  bool inferred = false;
};

const LostCase kCases[] = {
    {"primary FAT16", "mbr-lost-tables.img", 1, false},
    {"primary FAT32", "mbr-lost-tables.img", 2, false},
    {"logical NTFS", "mbr-lost-tables.img", 3, false},
    {"logical FAT16", "mbr-lost-tables.img", 4, false},
    {"primary FAT16 without its boot sector", "mbr-lost-boot.img", 1, true},
};

class LostPartitionsTest : public ::testing::TestWithParam<LostCase> {
 protected:
  void SetUp() override {
    image = damaged(GetParam().image);
    ASSERT_TRUE(fs::exists(image)) << image;
    hash = test::sha256File(image);
  }
  void TearDown() override { EXPECT_EQ(test::sha256File(image), hash) << "the source image changed"; }

  // The found file system that stands for the case's volume: its ordinal.
  int findOrdinal(const json& found) {
    const ListedVolume volume = listedVolumes().at(static_cast<std::size_t>(GetParam().partition - 1));
    for (const json& f : found["file_systems"]) {
      const bool sameStart = GetParam().inferred ? f["start"] == 0 && f["inferred"] == true
                                                 : f["start"] == volume.start && f["inferred"] == false;
      if (sameStart && f["type"] == volume.type && f["sectors_per_cluster"] == volume.sectorsPerCluster)
        return f["ordinal"].get<int>();
    }
    return 0;
  }

  fs::path image;
  std::string hash;
  Dravolin run;
};

TEST_P(LostPartitionsTest, FindsListsAndRecoversTheVolume) {
  const LostCase& c = GetParam();
  const auto listed = run({"lost", image.string(), "--json", "-q"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  const json found = json::parse(listed.out);
  // Every volume mmls listed is found once; nothing else is.
  ASSERT_EQ(found["file_systems"].size(), listedVolumes().size()) << listed.out;
  const int ordinal = findOrdinal(found);
  ASSERT_GT(ordinal, 0) << "no found file system matches partition " << c.partition << ":\n" << listed.out;
  for (const json& f : found["file_systems"]) EXPECT_FALSE(f.contains("note")) << f.dump();

  // The tree: what the manifest says this volume holds, and nothing of the
  // other volumes (their names end in their partition number).
  const auto scanned = run({"scan", image.string(), "--lost", std::to_string(ordinal), "--json", "-q"});
  ASSERT_EQ(scanned.exitCode, 0) << scanned.err;
  std::set<std::string> paths;
  const json tree = json::parse(scanned.out);
  for (const json& e : tree["entries"]) paths.insert(lower(e["path"].get<std::string>()));
  const Manifest manifest = readManifest();
  for (const ManifestRow& row : manifest.rows) {
    if (row.partition == c.partition) {
      // FAT lists no zero-length file (it has no cluster).
      const bool skipped =
          std::find(manifest.skipped.begin(), manifest.skipped.end(), row.path) != manifest.skipped.end();
      if (!row.deleted && !skipped) {
        EXPECT_TRUE(paths.count(lower(row.path))) << row.path << " is not listed";
      }
    } else {
      const std::string suffix = " p" + std::to_string(row.partition);
      const std::string name = row.path.substr(row.path.rfind('/') + 1);
      if (name.find(suffix) != std::string::npos && row.path.rfind('/') == 0) {
        EXPECT_FALSE(paths.count(lower(row.path))) << row.path << " of another volume is listed";
      }
    }
  }

  const fs::path to = run.dir / "out";
  const auto recovered = run({"recover", image.string(), "--lost", std::to_string(ordinal), "--all", "--live-only",
                              "--to", to.string(), "-q"});
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  int compared = 0;
  for (const ManifestRow& row : manifest.rows) {
    if (row.partition != c.partition || row.folder || row.deleted) continue;
    if (std::find(manifest.skipped.begin(), manifest.skipped.end(), row.path) != manifest.skipped.end()) continue;
    const fs::path file = to / fs::path(row.path).relative_path();
    ASSERT_TRUE(fs::exists(file)) << row.path << " was not recovered";
    EXPECT_EQ(test::sha256File(file), row.sha256) << row.path;
    ++compared;
  }
  EXPECT_GT(compared, 10);
}

INSTANTIATE_TEST_SUITE_P(Volumes, LostPartitionsTest, ::testing::ValuesIn(kCases), test::NameFromWhat{});

// scan --lost N --load-log FOUND.ST2C: the found list comes from the log,
// then the second pass builds volume N's tree (NTFS from the logged lists,
// FAT from that volume's sectors); the listing is the one a new search gives.
struct LoggedCase {
  std::string what;
  int partition = 0;  // 1-based, as in volumes.tsv
};

const LoggedCase kLoggedCases[] = {
    {"FAT16", 1},
    {"FAT32", 2},
    {"NTFS", 3},
};

class LostFoundListLogTest : public ::testing::TestWithParam<LoggedCase> {};

TEST_P(LostFoundListLogTest, ScanFromTheLogListsWhatANewSearchLists) {
  Dravolin run;
  const fs::path image = damaged("mbr-lost-tables.img");
  const std::string hash = test::sha256File(image);
  const auto searched = run({"lost", image.string(), "--json", "-q", "--save-log", (run.dir / "found").string()});
  ASSERT_EQ(searched.exitCode, 0) << searched.err;
  const fs::path log = run.dir / "FOUND.ST2C";
  ASSERT_TRUE(fs::exists(log));
  const ListedVolume volume = listedVolumes().at(static_cast<std::size_t>(GetParam().partition - 1));
  int ordinal = 0;
  const json found = json::parse(searched.out);
  for (const json& f : found["file_systems"])
    if (f["start"] == volume.start && f["type"] == volume.type) ordinal = f["ordinal"].get<int>();
  ASSERT_GT(ordinal, 0) << searched.out;
  const std::string n = std::to_string(ordinal);

  const auto direct = run({"scan", image.string(), "--lost", n, "--json", "-q"});
  ASSERT_EQ(direct.exitCode, 0) << direct.err;
  const auto fromLog = run({"scan", image.string(), "--lost", n, "--load-log", log.string(), "--json", "-q"});
  ASSERT_EQ(fromLog.exitCode, 0) << fromLog.err;
  EXPECT_GT(json::parse(direct.out)["entries"].size(), 10u);
  EXPECT_EQ(fromLog.out, direct.out);
  if (volume.type == "NTFS") {
    // The NTFS lists are in the log: a same-size copy holding only zeros
    // lists the same tree.
    const fs::path zeros = run.dir / "zeros.img";
    { std::ofstream(zeros, std::ios::binary); }
    fs::resize_file(zeros, fs::file_size(image));
    const auto blank = run({"scan", zeros.string(), "--lost", n, "--load-log", log.string(), "--json", "-q"});
    ASSERT_EQ(blank.exitCode, 0) << blank.err;
    EXPECT_EQ(blank.out, direct.out);
  }
  // --lost takes a found list only: a results log is refused before anything is read.
  const auto wrongKind = run({"scan", image.string(), "--lost", n, "--load-log", (run.dir / "RESULT.ST4").string()});
  EXPECT_EQ(wrongKind.exitCode, 2) << wrongKind.err;
  EXPECT_EQ(test::sha256File(image), hash) << "the source image changed";
}

INSTANTIATE_TEST_SUITE_P(Volumes, LostFoundListLogTest, ::testing::ValuesIn(kLoggedCases), test::NameFromWhat{});

TEST(LostPartitions, AnEmptyRangeFindsNothingAndSaysSo) {
  Dravolin run;
  const fs::path image = damaged("mbr-lost-tables.img");
  // Sectors 0 to 2047 hold the wiped table and nothing else.
  const auto r = run({"lost", image.string(), "--range", "0", "2048"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("No file systems could be identified."), std::string::npos) << r.err;
  const auto beyond = run({"lost", image.string(), "--range", "0", "999999999"});
  EXPECT_EQ(beyond.exitCode, 1);
  EXPECT_NE(beyond.err.find("past the last sector"), std::string::npos) << beyond.err;
  const auto missing = run({"scan", image.string(), "--lost", "9"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("There is no found file system 9"), std::string::npos) << missing.err;
}

// A log name given in lower case is written upper-cased, as the wizard
// writes it, and is found again under the name as typed.
TEST(LostPartitions, ALogIsLoadedByTheNameItWasSavedUnder) {
  Dravolin run;
  const fs::path image = damaged("mbr-lost-tables.img");
  const auto saved = run({"lost", image.string(), "-q", "--save-log", (run.dir / "x.st2c").string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  EXPECT_TRUE(fs::exists(run.dir / "X.ST2C"));
  const auto loaded = run({"scan", image.string(), "--lost", "1", "--load-log", (run.dir / "x.st2c").string(), "--json", "-q"});
  ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
  EXPECT_GT(json::parse(loaded.out)["entries"].size(), 10u);
}

TEST(LostPartitions, AFoundListLogReloadsTheSameListWithoutTheDisk) {
  Dravolin run;
  const fs::path image = damaged("mbr-lost-tables.img");
  const fs::path log = run.dir / "found";
  const auto searched = run({"lost", image.string(), "--json", "--save-log", log.string()});
  ASSERT_EQ(searched.exitCode, 0) << searched.err;
  ASSERT_TRUE(fs::exists(run.dir / "FOUND.ST2C"));
  // A same-size copy holding only zeros: the list can only come from the log.
  const fs::path zeros = run.dir / "zeros.img";
  { std::ofstream(zeros, std::ios::binary); }
  fs::resize_file(zeros, fs::file_size(image));
  const auto loaded = run({"lost", zeros.string(), "--json", "--load-log", (run.dir / "FOUND.ST2C").string()});
  ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
  EXPECT_EQ(json::parse(loaded.out), json::parse(searched.out));
  EXPECT_FALSE(json::parse(loaded.out)["file_systems"].empty());
  // A damaged log changes nothing and says so.
  fs::resize_file(run.dir / "FOUND.ST2C", 100);
  const auto broken = run({"lost", zeros.string(), "--load-log", (run.dir / "FOUND.ST2C").string()});
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_NE(broken.err.find("Error in file."), std::string::npos) << broken.err;
}

}  // namespace
}  // namespace dravolin
