// What a saved file keeps besides its bytes: after `recover --all` every file
// and folder has the modified and accessed times the listing shows (FAT
// times read as local time, here in a zone three hours east of UTC; NTFS
// times as UTC), and the sparse NTFS files of the fixture take little more
// than their data at the destination unless --no-sparse is given, with the
// same bytes either way; the free-space check counts only the allocated bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "e2e/fixture_volume_test.h"
#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

using Volume = test::FixtureVolume;

const Volume kVolumes[] = {{"fat16.img", 0}, {"fat32.img", 0}, {"mbr.img", 1}, {"ntfs.img", 0},
                           {"ntfs-full.img", 0}};

// The seconds since 1970 of an ISO text of the listing: "...Z" is UTC, a
// time without a zone is local, a date alone is local midnight.
std::optional<std::time_t> isoSeconds(const std::string& text) {
  std::tm t{};
  int filled = 0;
  if (text.size() >= 19) {
    filled = std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                         &t.tm_sec);
    if (filled != 6) return std::nullopt;
  } else if (text.size() == 10) {
    if (std::sscanf(text.c_str(), "%d-%d-%d", &t.tm_year, &t.tm_mon, &t.tm_mday) != 3) return std::nullopt;
  } else {
    return std::nullopt;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  if (text.ends_with("Z")) return timegm(&t);
  t.tm_isdst = -1;
  return std::mktime(&t);
}

struct SavedTimesTest : test::FixtureVolumeTest {
  std::optional<std::string> oldZone;
  void SetUp() override {
    test::FixtureVolumeTest::SetUp();
    if (const char* zone = std::getenv("TZ")) oldZone = zone;
    // Not UTC, so that a local time applied as UTC (or the reverse) shows.
    ::setenv("TZ", "XYZ-3", 1);
    ::tzset();
  }
  void TearDown() override {
    if (oldZone) ::setenv("TZ", oldZone->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
    test::FixtureVolumeTest::TearDown();
  }
};

TEST_P(SavedTimesTest, SavedFilesAndFoldersKeepTheListedTimes) {
  const auto scan = run({"scan", image.string(), "--json"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  // Entries by path; a path listed twice (a deleted and a live entry of one
  // name) is saved under two names and left out.
  std::map<std::string, std::vector<json>> byPath;
  const json listing = json::parse(scan.out);
  for (const auto& entry : listing["entries"]) byPath[entry["path"].get<std::string>()].push_back(entry);

  const fs::path to = dir / "out";
  const auto saved = run({"recover", image.string(), "--all", "--to", to.string(), "--json"});
  ASSERT_EQ(saved.exitCode, 0) << saved.err << saved.out;

  int files = 0, folders = 0;
  for (const auto& [path, entries] : byPath) {
    if (entries.size() != 1) continue;
    const json& entry = entries.front();
    const fs::path target = to / path.substr(1);
    struct stat st {};
    // Read nothing before this: reading a file may move its access time.
    if (::lstat(target.c_str(), &st) != 0) continue;
    SCOPED_TRACE(path);
    const bool folder = entry["kind"] == "folder";
    EXPECT_EQ(S_ISDIR(st.st_mode), folder);
    const auto modified = isoSeconds(entry["modified_iso"].get<std::string>());
    if (!modified) continue;  // no time listed: the time of saving stays
    EXPECT_EQ(st.st_mtim.tv_sec, *modified) << entry["modified_iso"];
    if (const auto accessed = isoSeconds(entry["accessed_iso"].get<std::string>())) {
      EXPECT_EQ(st.st_atim.tv_sec, *accessed) << entry["accessed_iso"];
    }
    ++(folder ? folders : files);
  }
  EXPECT_GT(files, 10);
  EXPECT_GT(folders, 2);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SavedTimesTest, ::testing::ValuesIn(kVolumes),
                         [](const ::testing::TestParamInfo<Volume>& param) { return test::caseName(param.param.name()); });

// The files the fixture made sparse (a hole in the middle, a hole at the
// end) are saved byte for byte; as holes they take far less than their
// size, and with --no-sparse at least all of it.
TEST(SparseSaving, SparseFilesStaySparseUnlessNoSparseIsGiven) {
  test::TempDir dir;
  const fs::path image = test::fixturePath("ntfs-full.img");
  ASSERT_TRUE(fs::exists(image)) << image << " missing: run tests/fixtures/build-images.sh";
  const std::string imageHash = test::sha256File(image);
  std::map<std::string, std::string> hashes;  // path -> sha256 of the manifest
  {
    std::ifstream in(test::fixturePath("ntfs-full.img.manifest.tsv"));
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> fields;
      std::stringstream s(line);
      for (std::string field; std::getline(s, field, '\t');) fields.push_back(field);
      if (fields.size() >= 6 && fields[5].starts_with("/Sparse/")) hashes[fields[5]] = fields[4];
    }
  }
  ASSERT_EQ(hashes.size(), 2u) << "the fixture's sparse files";

  for (const bool sparse : {true, false}) {
    SCOPED_TRACE(sparse ? "holes" : "--no-sparse");
    const fs::path to = dir.path() / (sparse ? "holes" : "full");
    std::vector<std::string> arguments = {"recover", image.string(), "--path", "/Sparse", "--to", to.string()};
    if (!sparse) arguments.push_back("--no-sparse");
    const auto saved = test::runDravolin(arguments, dir.path() / "home");
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    for (const auto& [path, hash] : hashes) {
      SCOPED_TRACE(path);
      const fs::path file = to / path.substr(1);
      struct stat st {};
      ASSERT_EQ(::stat(file.c_str(), &st), 0);
      EXPECT_EQ(test::sha256File(file), hash);
      const auto allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
      const auto size = static_cast<std::uint64_t>(st.st_size);
      if (sparse) {
        EXPECT_LT(allocated, size / 4) << allocated << " bytes allocated for " << size;
      } else {
        EXPECT_GE(allocated, size) << allocated << " bytes allocated for " << size;
      }
    }
  }
  EXPECT_EQ(test::sha256File(image), imageHash) << "the source image changed";
}

// The free-space check counts the bytes that will be allocated: the sparse
// files (1.3 MB, 56 KB of them allocated) fit on a 400 KB file system, and
// with --no-sparse the saving is not started. Needs a tmpfs mount (root);
// skipped where mounting is not allowed.
TEST(SparseSaving, TheFreeSpaceCheckCountsTheAllocatedBytes) {
  test::TempDir dir;
  const fs::path image = test::fixturePath("ntfs-full.img");
  ASSERT_TRUE(fs::exists(image)) << image << " missing: run tests/fixtures/build-images.sh";
  const fs::path small = dir.path() / "small";
  fs::create_directories(small);
  int status = 0;
  test::runShell("mount -t tmpfs -o size=400k tmpfs '" + small.string() + "' 2>/dev/null", &status);
  if (status != 0) GTEST_SKIP() << "a tmpfs cannot be mounted here";
  struct Unmount {
    fs::path path;
    ~Unmount() { test::runShell("umount '" + path.string() + "'"); }
  } unmount{small};

  const auto holes = test::runDravolin({"recover", image.string(), "--path", "/Sparse", "--to", (small / "a").string()},
                                       dir.path() / "home");
  EXPECT_EQ(holes.exitCode, 0) << holes.err;
  EXPECT_TRUE(fs::exists(small / "a" / "Sparse" / "disk image.vhd"));
  const auto full = test::runDravolin(
      {"recover", image.string(), "--path", "/Sparse", "--to", (small / "b").string(), "--no-sparse"},
      dir.path() / "home");
  EXPECT_EQ(full.exitCode, 1) << full.err;
  EXPECT_NE(full.err.find("too little free space"), std::string::npos) << full.err;
}

}  // namespace
}  // namespace dravolin
