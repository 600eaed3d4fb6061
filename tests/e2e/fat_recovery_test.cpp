// dravolin scan, recover and find on the FAT fixture images: what the
// manifests say each volume holds is listed, recovered byte for byte, and
// found by name; existing files at the destination meet every replace
// answer; the source image never changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "e2e/fixture_volume_test.h"
#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::runDravolin;
using test::sha256File;
using test::TempDir;

using Volume = test::FixtureVolume;

const Volume kVolumes[] = {{"fat12.img", 0}, {"fat16.img", 0}, {"fat32.img", 0}, {"mbr.img", 1}, {"mbr.img", 2},
                           {"mbr.img", 4},   {"gpt.img", 1},   {"gpt.img", 3},   {"gpt.img", 4}};

struct ManifestRow {
  bool deleted = false;
  bool folder = false;
  std::uint64_t size = 0;
  std::string sha256;
  std::string path;
};

struct Manifest {
  std::vector<ManifestRow> rows;
  std::vector<std::string> zeroLength, overwritten, fragmented;
};

Manifest readManifest(const Volume& volume) {
  Manifest manifest;
  std::ifstream in(test::fixturePath(std::string(volume.image) + ".manifest.tsv"));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    auto comment = [&](const std::string& key, std::vector<std::string>& into) {
      if (line.starts_with(key)) into.push_back(line.substr(key.size()));
    };
    if (line.starts_with("#")) {
      comment("# zero-length: ", manifest.zeroLength);
      comment("# overwritten: ", manifest.overwritten);
      comment("# fragmented: ", manifest.fragmented);
      continue;
    }
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string field; std::getline(s, field, '\t');) fields.push_back(field);
    if (fields.size() != 6) continue;
    if (std::stoi(fields[0]) != std::max(volume.partition, 1)) continue;
    manifest.rows.push_back({fields[1] == "deleted", fields[2] == "folder", std::stoull(fields[3]), fields[4], fields[5]});
  }
  return manifest;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The paths a manifest entry may show under: as written (FAT compares names
// without case), or, deleted, with the first character of a short name lost.
std::vector<std::string> candidatePaths(const ManifestRow& row) {
  std::vector<std::string> out{lower(row.path)};
  if (row.deleted) {
    const std::size_t slash = row.path.rfind('/');
    out.push_back(lower(row.path.substr(0, slash + 1) + "_" + row.path.substr(slash + 2)));
  }
  return out;
}

bool contains(const std::vector<std::string>& list, const std::string& value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

struct FatRecoveryTest : test::FixtureVolumeTest {};

TEST_P(FatRecoveryTest, ScanListsWhatTheManifestHolds) {
  const auto result = run({"scan", image.string(), "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const json doc = json::parse(result.out);
  std::map<std::string, json> byPath;
  for (const auto& entry : doc["entries"]) byPath[lower(entry["path"].get<std::string>())] = entry;
  const Manifest manifest = readManifest(GetParam());
  int checked = 0;
  for (const auto& row : manifest.rows) {
    SCOPED_TRACE(row.path);
    const json* found = nullptr;
    for (const auto& path : candidatePaths(row))
      if (byPath.contains(path)) found = &byPath[path];
    if (contains(manifest.zeroLength, row.path)) {
      EXPECT_EQ(found, nullptr) << "a zero-length file is not listed";
      continue;
    }
    ASSERT_NE(found, nullptr) << "not listed";
    const std::string type = row.folder ? (row.deleted ? "Deleted Folder" : "Folder")
                                        : (row.deleted ? "Deleted File" : "File");
    EXPECT_EQ((*found)["type"], type);
    EXPECT_EQ((*found)["deleted"], row.deleted);
    EXPECT_EQ((*found)["kind"], row.folder ? "folder" : "file");
    if (!row.folder) {
      EXPECT_EQ((*found)["size"], row.size);
    }
    ++checked;
  }
  EXPECT_GT(checked, 40);
  // The deleted short name keeps its lost first character as '_'.
  EXPECT_TRUE(byPath.contains("/_eadme.txt"));
  EXPECT_EQ(doc["summary"], doc["entries"].empty() ? "" : doc["summary"].get<std::string>());
  EXPECT_NE(doc["summary"].get<std::string>().find("Directories"), std::string::npos);
}

TEST_P(FatRecoveryTest, RecoversLiveAndDeletedFilesByteForByte) {
  const fs::path to = dir / "out";
  const auto result = run({"recover", image.string(), "--all", "--to", to.string(), "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
  const json doc = json::parse(result.out);
  EXPECT_EQ(doc["message"], "Saving completed successfully.");
  EXPECT_TRUE(doc["errors"].empty());
  std::map<std::string, fs::path> written;
  for (const auto& entry : fs::recursive_directory_iterator(to))
    if (entry.is_regular_file()) written[lower("/" + fs::relative(entry.path(), to).string())] = entry.path();
  const Manifest manifest = readManifest(GetParam());
  int compared = 0;
  for (const auto& row : manifest.rows) {
    if (row.folder || contains(manifest.zeroLength, row.path) || contains(manifest.overwritten, row.path)) continue;
    SCOPED_TRACE(row.path);
    std::optional<fs::path> file;
    for (const auto& path : candidatePaths(row))
      if (written.contains(path)) file = written[path];
    ASSERT_TRUE(file) << "not recovered";
    EXPECT_EQ(sha256File(*file), row.sha256);
    ++compared;
  }
  EXPECT_GT(compared, 40);
  EXPECT_EQ(doc["files_written"], written.size());
  // The recovery history holds the report and the final message.
  const std::string history = test::readFile(dir / "home" / "state" / "dravolin" / "Recovery Log.txt");
  EXPECT_NE(history.find("Saving Report :"), std::string::npos);
  EXPECT_NE(history.find("Saving completed successfully."), std::string::npos);
}

TEST_P(FatRecoveryTest, DeletedOnlyRecoversTheDeletedFilesAlone) {
  const fs::path to = dir / "out";
  const auto result = run({"recover", image.string(), "--all", "--deleted-only", "--to", to.string(), "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const Manifest manifest = readManifest(GetParam());
  std::size_t deletedFiles = 0;
  for (const auto& row : manifest.rows) deletedFiles += !row.folder && row.deleted;
  EXPECT_EQ(json::parse(result.out)["files_written"], deletedFiles);
}

std::string volumeTestName(const ::testing::TestParamInfo<Volume>& param) { return test::caseName(param.param.name()); }

INSTANTIATE_TEST_SUITE_P(Fixtures, FatRecoveryTest, ::testing::ValuesIn(kVolumes), volumeTestName);

struct FatCommandTest : ::testing::Test {
  TempDir dir;
  fs::path image = test::fixturePath("fat16.img");
  std::string imageHash;
  void SetUp() override {
    ASSERT_TRUE(fs::exists(image));
    imageHash = sha256File(image);
  }
  void TearDown() override { EXPECT_EQ(sha256File(image), imageHash) << "the source image changed"; }
  test::CommandResult run(const std::vector<std::string>& arguments) { return runDravolin(arguments, dir / "home"); }
};

TEST_F(FatCommandTest, EveryReplaceAnswerOnAFolderThatHoldsTheFiles) {
  const fs::path to = dir / "out";
  ASSERT_EQ(run({"recover", image.string(), "--path", "/Documents/Many notes", "--to", to.string()}).exitCode, 0);
  const fs::path note = to / "Documents" / "Many notes" / "note 01.txt";
  const std::string original = test::readFile(note);
  struct Case {
    const char* onExists;
    int exitCode;
    const char* message;
    const char* noteText;   // what note 01.txt holds afterwards
    bool renamedCopy;       // note 010.txt made
  };
  for (const Case& c : {Case{"skip", 1, "Saving not completed successfully.", "changed", false},
                        Case{"ask", 0, "Saving completed successfully.", "changed", true},
                        Case{"rename", 0, "Saving completed successfully.", "changed", true},
                        Case{"replace", 0, "Saving completed successfully.", nullptr, false}}) {
    SCOPED_TRACE(c.onExists);
    test::writeFile(note, "changed");
    fs::remove(to / "Documents" / "Many notes" / "note 010.txt");
    const auto result = run({"recover", image.string(), "--path", "/Documents/Many notes", "--to", to.string(),
                             "--on-exists", c.onExists});
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(test::readFile(note), c.noteText ? std::string(c.noteText) : original);
    EXPECT_EQ(fs::exists(to / "Documents" / "Many notes" / "note 010.txt"), c.renamedCopy);
    if (c.renamedCopy) {
      EXPECT_EQ(test::readFile(to / "Documents" / "Many notes" / "note 010.txt"), original);
    }
  }
}

TEST_F(FatCommandTest, PathSelectsAFolderOrAFileAndNothingElse) {
  const fs::path to = dir / "out";
  const auto result = run({"recover", image.string(), "--path", "/Documents/Work/Reports", "--path",
                           "/Documents/Letter to Anna.txt", "--to", to.string(), "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(to))
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), to).string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"Documents/Letter to Anna.txt",
                                             "Documents/Work/Reports/Archive/Old report 2019.txt",
                                             "Documents/Work/Reports/Archive/deep note.txt",
                                             "Documents/Work/Reports/Quarterly report fat16.txt"}));
  EXPECT_EQ(run({"recover", image.string(), "--to", to.string()}).exitCode, 2);
  EXPECT_EQ(run({"recover", image.string(), "--path", "/No/Such", "--to", to.string()}).exitCode, 1);
}

TEST_F(FatCommandTest, SavingFiltersPickTheFilesTheScanShows) {
  const json scan = json::parse(run({"scan", image.string(), "--json"}).out);
  struct Case {
    std::vector<std::string> options;
    std::function<bool(const json&)> wanted;
  };
  auto isoYear = [](const json& e, const char* field) { return e[field].get<std::string>().substr(0, 4); };
  for (const Case& c : {
           Case{{"--ext", "bin,CSV"},
                [](const json& e) {
                  const std::string name = lower(e["name"]);
                  return name.ends_with(".bin") || name.ends_with(".csv");
                }},
           Case{{"--modified", "2020-01-01..2020-12-31"}, [&](const json& e) { return isoYear(e, "modified_iso") == "2020"; }},
           Case{{"--created", "01/01/2016..31/12/2017", "--live-only"},
                [&](const json& e) {
                  const std::string year = isoYear(e, "created_iso");
                  return (year == "2016" || year == "2017") && !e["deleted"].get<bool>();
                }},
       }) {
    SCOPED_TRACE(c.options.front());
    const fs::path to = dir / "filtered";
    fs::remove_all(to);
    std::vector<std::string> arguments{"recover", image.string(), "--all", "--to", to.string()};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const auto result = run(arguments);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> expected, written;
    for (const auto& entry : scan["entries"])
      if (entry["kind"] == "file" && c.wanted(entry)) expected.push_back(entry["path"].get<std::string>().substr(1));
    for (const auto& entry : fs::recursive_directory_iterator(to))
      if (entry.is_regular_file()) written.push_back(fs::relative(entry.path(), to).string());
    std::sort(expected.begin(), expected.end());
    std::sort(written.begin(), written.end());
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(written, expected);
  }
  const auto none = run({"recover", image.string(), "--all", "--to", (dir / "none").string(), "--modified",
                         "1990-01-01..1990-12-31"});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.err.find("You have not selected any file/folder."), std::string::npos);
  EXPECT_EQ(run({"recover", image.string(), "--all", "--to", (dir / "x").string(), "--ext", "jpeg1"}).exitCode, 2);
  EXPECT_EQ(run({"recover", image.string(), "--all", "--to", (dir / "x").string(), "--modified", "2020"}).exitCode,
            2);
}

TEST_F(FatCommandTest, NameSearchPatternsAndFilters) {
  auto hits = [&](std::vector<std::string> extra) {
    std::vector<std::string> arguments{"find", image.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("--json");
    const auto result = run(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return json::parse(result.out)["hits"];
  };
  const json scan = json::parse(run({"scan", image.string(), "--json"}).out);
  // "*" lists every folder and file of the file system.
  EXPECT_EQ(hits({"*"}).size(), scan["entries"].size());
  for (const auto& hit : hits({"*.*"})) EXPECT_NE(hit["name"].get<std::string>().find('.'), std::string::npos);
  const json notes = hits({"NOTE ?1.TXT"});
  ASSERT_EQ(notes.size(), 3u);  // note 01, note 11, note 21
  EXPECT_EQ(notes[0]["path"], "/Documents/Many notes/note 21.txt");
  const json sized = hits({"*", "--size", "1..2KB"});
  EXPECT_FALSE(sized.empty());
  for (const auto& hit : sized) {
    EXPECT_EQ(hit["kind"], "file");
    EXPECT_GE(hit["size"].get<std::uint64_t>(), 1024u);
    EXPECT_LE(hit["size"].get<std::uint64_t>(), 2048u);
  }
  EXPECT_TRUE(hits({"*", "--date", "modified", "2030-01-01..2020-01-01"}).empty());
  for (const auto& hit : hits({"*", "--deleted", "only"})) EXPECT_TRUE(hit["deleted"].get<bool>());
  EXPECT_EQ(run({"find", image.string(), "*", "--size", "x..2KB"}).exitCode, 2);
}

TEST_F(FatCommandTest, WholeDiskIsRefused) {
  EXPECT_EQ(run({"scan", image.string(), "--whole-disk"}).exitCode, 2);
}

// On an intact volume nothing is lost: the exhaustive listing holds no
// "Lost" folder and counts the folders the directory walk counts.
TEST_F(FatCommandTest, AnExhaustiveListingShowsNoEmptyLost) {
  const json walk = json::parse(run({"scan", image.string(), "--json"}).out);
  const auto swept = run({"scan", image.string(), "--exhaustive", "--json"});
  ASSERT_EQ(swept.exitCode, 0) << swept.err;
  const json sweep = json::parse(swept.out);
  for (const auto& entry : sweep["entries"]) EXPECT_FALSE(entry["path"].get<std::string>().starts_with("/Lost")) << entry;
  EXPECT_EQ(sweep["directories"], walk["directories"]);
}

// A folder whose first cluster is overwritten: the exhaustive search shows
// its sub-folder under "Lost" with its files, and recovers them.
TEST_F(FatCommandTest, OrphanedFolderComesBackUnderLost) {
  const fs::path copy = dir / "orphan.img";
  fs::copy_file(image, copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
  const json volume = json::parse(run({"partitions", copy.string(), "--json"}).out)["partitions"][0]["volume"];
  const json scan = json::parse(run({"scan", copy.string(), "--json"}).out);
  std::uint64_t workCluster = 0;
  for (const auto& entry : scan["entries"])
    if (entry["path"] == "/Documents/Work") workCluster = entry["id"];
  ASSERT_GE(workCluster, 2u);
  const std::uint64_t sector = volume["cluster_base"].get<std::uint64_t>() +
                               workCluster * volume["sectors_per_cluster"].get<std::uint64_t>();
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(sector * 512));
    const std::string junk(512 * volume["sectors_per_cluster"].get<std::size_t>(), '\x5A');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    ASSERT_TRUE(f.good());
  }
  const auto lost = run({"scan", copy.string(), "--exhaustive", "--json"});
  ASSERT_EQ(lost.exitCode, 0) << lost.err;
  std::string quarterly;
  const json lostScan = json::parse(lost.out);
  for (const auto& entry : lostScan["entries"]) {
    const std::string path = entry["path"];
    if (path.ends_with("/Quarterly report fat16.txt")) quarterly = path;
  }
  ASSERT_TRUE(quarterly.starts_with("/Lost/")) << quarterly;
  const fs::path to = dir / "out";
  const auto saved = run({"recover", copy.string(), "--exhaustive", "--path", "/Lost", "--to", to.string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err << saved.out;
  const Manifest manifest = readManifest({"fat16.img", 0});
  for (const auto& row : manifest.rows) {
    if (row.path == "/Documents/Work/Reports/Quarterly report fat16.txt") {
      EXPECT_EQ(sha256File(to / quarterly.substr(1)), row.sha256);
    }
  }
}

// A long name holding a slash and a backslash (as a damaged or foreign
// volume may) is listed as it is and saved under a safe name.
TEST_F(FatCommandTest, NamesWithSlashesAreListedAndSavedSafely) {
  const fs::path copy = dir / "slashes.img";
  fs::copy_file(image, copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
  {
    // "Letter to Anna.txt" becomes "Le/\\er to Anna.txt" in its long-name entry.
    std::string bytes = test::readFile(copy);
    const std::string hello("L\0e\0t\0t\0e\0", 10);
    std::size_t at = 0;
    for (std::size_t from = 0; (from = bytes.find(hello, from)) != std::string::npos; ++from)
      if (from % 32 == 1 && static_cast<unsigned char>(bytes[from - 1 + 11]) == 0x0F) at = from;
    ASSERT_NE(at, 0u);
    bytes[at + 4] = '/';
    bytes[at + 6] = '\\';
    test::writeFile(copy, bytes);
  }
  const auto scanned = run({"scan", copy.string(), "--json"});
  ASSERT_EQ(scanned.exitCode, 0) << scanned.err;
  std::string names = "|";
  const json listing = json::parse(scanned.out);
  for (const auto& entry : listing["entries"])
    if (entry["path"].get<std::string>().starts_with("/Documents/")) names += entry["name"].get<std::string>() + "|";
  EXPECT_NE(names.find("|Le/\\er to Anna.txt|"), std::string::npos) << names;
  const fs::path to = dir / "out";
  const auto saved = run({"recover", copy.string(), "--all", "--to", to.string()});
  EXPECT_EQ(saved.exitCode, 0) << saved.err << saved.out;
  const Manifest manifest = readManifest({"fat16.img", 0});
  for (const auto& row : manifest.rows)
    if (row.path == "/Documents/Letter to Anna.txt")
      EXPECT_EQ(sha256File(to / "Documents" / "Le__er to Anna.txt"), row.sha256);
  EXPECT_TRUE(fs::exists(to / "Documents" / "Le__er to Anna.txt"));
}

}  // namespace
}  // namespace dravolin
