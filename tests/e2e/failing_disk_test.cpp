// The commands on a failing disk: a fixture served by the failing-disk FUSE
// file system (EIO on listed sectors), read as the served file and through a
// read-only loop device on it, which is how a failing USB disk reaches the
// program. One table of bad-sector layouts, one column per job; every cell
// checks that exactly the failing sectors are lost and everything else is
// byte-exact. A new layout is one more row of kLayouts, a new job one more
// entry of kJobs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "support/failing_disk.h"
#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using test::FailingDisk;

struct Layout {
  const char* what;
  const char* image;                // fixture
  std::vector<SectorRange> bad;     // failing sectors of the disk
  const char* file;                 // a file of the volume a job saves (whether or not its data fails)
  std::uint64_t volumeStart = 0;    // sector where the file's volume begins
};

// fat16.img is a bare FAT16 volume of 65,536 sectors. "/Fragments/Split file
// fat16.bin" (12,388 bytes) lies in sectors 472-483 and 504-516; "/Several
// clusters fat16.dat" in 220-235; the entries of "/Documents/Many notes" in
// 180-183 and the root folder in 132-163. ntfs.img is a bare NTFS volume
// whose MFT record of a folder lies in sectors 64-65.
const Layout kLayouts[] = {
    {"file data in both fragments of a file", "fat16.img", {{477, 478}, {510, 511}},
     "/Fragments/Split file fat16.bin"},
    {"the last eight sectors of the disk", "fat16.img", {{65528, 65536}}, "/Several clusters fat16.dat"},
    {"a scattered set", "fat16.img", {{230, 231}, {479, 480}, {504, 505}, {30000, 30001}, {65535, 65536}},
     "/Fragments/Split file fat16.bin"},
    {"a sector of a folder's cluster", "fat16.img", {{181, 182}}, "/Several clusters fat16.dat"},
    {"a sector of the root folder", "fat16.img", {{133, 134}}, "/Fragments/Split file fat16.bin"},
    {"the MFT record of a folder", "ntfs.img", {{64, 65}}, "/Several clusters ntfs.dat"},
};

std::set<SectorNumber> sectorsOf(const std::vector<SectorRange>& ranges) {
  std::set<SectorNumber> sectors;
  for (const SectorRange& r : ranges)
    for (SectorNumber s = r.start; s < r.end; ++s) sectors.insert(s);
  return sectors;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

// A file of the fixture as The Sleuth Kit sees it: its bytes and the disk
// sector of each of its 512-byte pieces.
struct FixtureFile {
  std::string bytes;
  std::vector<SectorNumber> sectors;
};

FixtureFile fixtureFile(const Layout& layout) {
  const std::string image = quote(test::fixturePath(layout.image).string());
  const std::string offset = " -o " + std::to_string(layout.volumeStart) + " ";
  std::string inode = test::runShell("ifind" + offset + "-n " + quote(layout.file) + " " + image);
  inode.erase(inode.find_last_not_of("\n ") + 1);
  FixtureFile file;
  if (inode.empty() || inode.find_first_not_of("0123456789-") != std::string::npos) return file;
  file.bytes = test::runShell("icat" + offset + image + " " + inode);
  const std::string stat = test::runShell("istat" + offset + image + " " + inode);
  const std::size_t pieces = (file.bytes.size() + kSectorSize - 1) / kSectorSize;
  if (const auto sectors = stat.find("Sectors:"); sectors != std::string::npos) {
    // FAT: the sectors of the file, in order.
    std::istringstream list(stat.substr(sectors + 8));
    for (SectorNumber s = 0; file.sectors.size() < pieces && list >> s;)
      file.sectors.push_back(layout.volumeStart + s);
    return file;
  }
  // NTFS: the clusters of the unnamed $DATA attribute, in order.
  const auto data = stat.find("Type: $DATA (128-");
  const std::string fsstat = test::runShell("fsstat" + offset + image);
  const auto size = fsstat.find("Cluster Size: ");
  if (data == std::string::npos || size == std::string::npos) return file;
  const std::uint64_t perCluster = std::stoull(fsstat.substr(size + 14)) / kSectorSize;
  std::istringstream list(stat.substr(stat.find('\n', data)));
  for (SectorNumber c = 0; file.sectors.size() < pieces && list >> c;)
    for (std::uint64_t i = 0; i < perCluster && file.sectors.size() < pieces; ++i)
      file.sectors.push_back(layout.volumeStart + c * perCluster + i);
  return file;
}

std::string sectorBytes(const std::string& bytes, SectorNumber sector) {
  return sector * kSectorSize < bytes.size() ? bytes.substr(sector * kSectorSize, kSectorSize) : std::string();
}

// What a job gets: the failing disk as a command names it, the layout, and a
// folder of its own for output and settings.
struct JobRun {
  const Layout& layout;
  std::string source;
  fs::path work;
  test::CommandResult run(std::vector<std::string> arguments) const {
    arguments.insert(arguments.end(), {"--bad-sectors", "retry-all", "--json"});
    return test::runDravolin(arguments, work / "home");
  }
};

// image: exactly the failing sectors read as zeros in the image, every other
// sector byte-exact; the count and the bad-sector list name exactly them;
// exit 0 (an image whose unreadable sectors are counted is a done job).
void imageJob(const JobRun& job) {
  const fs::path fixture = test::fixturePath(job.layout.image);
  const auto result = job.run({"image", job.source, "--whole-disk", "--to", (job.work / "copy.img").string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto doc = nlohmann::json::parse(result.out);
  const std::set<SectorNumber> bad = sectorsOf(job.layout.bad);
  EXPECT_EQ(doc["unreadable_sectors"], bad.size());
  std::set<SectorNumber> listed;
  std::ifstream list(doc["bad_sector_list"].get<std::string>());
  for (SectorNumber s = 0; list >> s;) listed.insert(s);
  EXPECT_EQ(listed, bad);

  const std::string original = test::readFile(fixture);
  const std::string copy = test::readFile(job.work / "copy.img");
  ASSERT_EQ(copy.size(), original.size());
  const std::string zeros(kSectorSize, '\0');
  std::vector<SectorNumber> wrong;
  for (SectorNumber s = 0; s < original.size() / kSectorSize; ++s) {
    const std::string expected = bad.contains(s) ? zeros : sectorBytes(original, s);
    if (sectorBytes(copy, s) != expected) wrong.push_back(s);
  }
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " sectors differ, the first " << wrong.front();
}

// recover of one file: the pieces of it in failing sectors are zeros in the
// saved file, the rest byte-exact; the file is named as incomplete and the
// run exits 1 when it lost anything, 0 otherwise.
void recoverJob(const JobRun& job) {
  const FixtureFile original = fixtureFile(job.layout);
  ASSERT_FALSE(original.sectors.empty()) << "The Sleuth Kit does not find " << job.layout.file;
  const auto result = job.run({"recover", job.source, "--path", job.layout.file, "--to", (job.work / "out").string()});
  const std::set<SectorNumber> bad = sectorsOf(job.layout.bad);
  std::string expected = original.bytes;
  std::size_t lost = 0;
  for (std::size_t i = 0; i < original.sectors.size(); ++i) {
    if (!bad.contains(original.sectors[i])) continue;
    ++lost;
    std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(i * kSectorSize),
                std::min(kSectorSize, expected.size() - i * kSectorSize), '\0');
  }
  const auto doc = nlohmann::json::parse(result.out);
  const bool searchLost = (doc.contains("losses") && !doc["losses"].empty()) ||
                          (doc.contains("unreadable") && !doc["unreadable"].empty());
  EXPECT_EQ(result.exitCode, lost || searchLost ? 1 : 0) << result.err;
  const fs::path saved = job.work / "out" / fs::path(job.layout.file).relative_path();
  ASSERT_TRUE(fs::exists(saved)) << result.out << result.err;
  const std::string got = test::readFile(saved);
  ASSERT_EQ(got.size(), expected.size());
  std::vector<std::size_t> wrong;
  for (std::size_t i = 0; i < original.sectors.size(); ++i)
    if (sectorBytes(got, i) != sectorBytes(expected, i)) wrong.push_back(i);
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " pieces of the file differ, the first " << wrong.front()
                             << " (disk sector " << original.sectors[wrong.front()] << ")";
  ASSERT_TRUE(doc["errors"].is_array());
  EXPECT_EQ(doc["errors"].size(), lost ? 1u : 0u) << result.out;
}

// What a listing holds, by what no damage can rename: kind, deleted, size
// and, on NTFS, the record number; on FAT (whose file ids count the files
// found so far) the folder and the dates. A name cut by a lost sector falls
// back to its short form, and a file whose folder record is lost moves under
// Lost, but neither changes its key.
std::multiset<std::string> listingKeys(const nlohmann::json& doc) {
  const bool ntfs = doc["file_system"] == "NTFS";
  std::multiset<std::string> keys;
  for (const auto& e : doc["entries"]) {
    if (e["path"].get<std::string>() == "/Lost") continue;  // the orphans' folder itself
    std::string key = e["kind"].get<std::string>() + (e["deleted"].get<bool>() ? " deleted " : " ") +
                      std::to_string(e["size"].get<std::uint64_t>());
    if (ntfs || e["kind"] == "folder") key += " id " + std::to_string(e["id"].get<std::uint64_t>());
    if (!ntfs) key += " in " + std::to_string(e["parent"].get<std::uint64_t>()) + " " + e["modified"].dump() + " " + e["created"].dump();
    keys.insert(std::move(key));
  }
  return keys;
}

std::set<SectorNumber> unreadableOf(const nlohmann::json& doc) {
  std::set<SectorNumber> sectors;
  if (doc.contains("unreadable"))
    for (const auto& r : doc["unreadable"])
      for (SectorNumber s = r[0].get<SectorNumber>(); s < r[1].get<SectorNumber>(); ++s) sectors.insert(s);
  return sectors;
}

// scan (normal and exhaustive): everything the healthy disk lists is listed
// again unless it lived in a lost sector, and then a named loss accounts for
// it; what could not be read is named, and the run exits 1 exactly when
// something was lost.
void scanJob(const JobRun& job, bool exhaustive) {
  std::vector<std::string> arguments{"scan", job.source};
  if (exhaustive) arguments.push_back("--exhaustive");
  const auto result = job.run(arguments);
  arguments[1] = test::fixturePath(job.layout.image).string();
  const auto healthy = job.run(arguments);
  ASSERT_EQ(healthy.exitCode, 0) << healthy.err;
  const auto doc = nlohmann::json::parse(result.out);
  ASSERT_TRUE(doc.contains("entries")) << result.out << result.err;
  const std::set<SectorNumber> bad = sectorsOf(job.layout.bad);
  const std::set<SectorNumber> unreadable = unreadableOf(doc);
  EXPECT_TRUE(std::includes(bad.begin(), bad.end(), unreadable.begin(), unreadable.end()))
      << "only failing sectors are named as unreadable";
  const bool lostSomething = !unreadable.empty() || (doc.contains("losses") && !doc["losses"].empty());
  EXPECT_EQ(result.exitCode, lostSomething ? 1 : 0) << result.err;

  const auto before = listingKeys(nlohmann::json::parse(healthy.out));
  const auto after = listingKeys(doc);
  std::vector<std::string> missing, extra;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(missing));
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(extra));
  EXPECT_TRUE(extra.empty()) << extra.size() << " entries appear only on the failing disk, the first " << extra.front();
  std::uint64_t accounted = 0;
  if (doc.contains("losses"))
    for (const auto& loss : doc["losses"]) {
      accounted += loss.value("entries_lost", std::uint64_t{0});
      if (loss.contains("records")) accounted += loss["records"].size();
      EXPECT_FALSE(loss["sectors"].empty()) << loss.dump();
    }
  EXPECT_LE(missing.size(), accounted) << missing.size() << " entries are missing, the losses account for "
                                       << accounted << "; the first missing " << (missing.empty() ? "" : missing.front())
                                       << "\n" << result.err;
}

void scanNormalJob(const JobRun& job) { scanJob(job, false); }
void scanExhaustiveJob(const JobRun& job) { scanJob(job, true); }

// carve of the whole disk: every failing sector and nothing else is named
// as unreadable, the run says it is incomplete (exit 1), and every carved
// file that does not touch a failing sector is byte-exact against the
// healthy disk's carving.
void carveJob(const JobRun& job) {
  const auto result = job.run({"carve", job.source, "--whole-disk", "--types", "all", "--to", (job.work / "out").string()});
  const auto healthy = job.run({"carve", test::fixturePath(job.layout.image).string(), "--whole-disk", "--types", "all",
                                "--to", (job.work / "healthy").string()});
  ASSERT_EQ(healthy.exitCode, 0) << healthy.err;
  const auto doc = nlohmann::json::parse(result.out);
  const std::set<SectorNumber> bad = sectorsOf(job.layout.bad);
  EXPECT_EQ(unreadableOf(doc), bad);
  EXPECT_EQ(result.exitCode, 1) << result.err;
  // A file cut differently because of zeros may shift what is found after
  // it; every file carved alike on both disks (same start, same length) and
  // clear of the failing sectors is byte-exact.
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> healthyFiles;
  const auto healthyDoc = nlohmann::json::parse(healthy.out);
  for (const auto& f : healthyDoc["files"])
    healthyFiles[{f["start_sector"].get<std::uint64_t>(), f["sectors"].get<std::uint64_t>()}] = f["path"].get<std::string>();
  std::size_t compared = 0;
  for (const auto& f : doc["files"]) {
    const auto start = f["start_sector"].get<std::uint64_t>();
    const auto sectors = f["sectors"].get<std::uint64_t>();
    const bool touched = std::any_of(bad.begin(), bad.end(), [&](SectorNumber s) { return s >= start && s < start + sectors; });
    if (touched) {
      EXPECT_TRUE(f.contains("unreadable") || !f["written"].get<bool>()) << "a carved file with lost sectors is named: " << f.dump();
      continue;
    }
    const auto twin = healthyFiles.find({start, sectors});
    if (twin == healthyFiles.end()) continue;
    EXPECT_EQ(test::readFile(f["path"].get<std::string>()), test::readFile(twin->second)) << f.dump();
    ++compared;
  }
  if (!healthyFiles.empty()) EXPECT_GT(compared, 0u);
}

// maxReads: how often one failing sector may be read under retry-all: twice
// (the transfer that met it and once alone) for each time the job reads it
// (the exhaustive scan sweeps a folder's cluster and then reads the folder;
// carving scans a sector and then writes it into the file it starts).
struct JobColumn {
  const char* name;
  void (*check)(const JobRun&);
  int maxReads;
};
const JobColumn kJobs[] = {{"image", imageJob, 2},
                           {"recover", recoverJob, 2},
                           {"scan", scanNormalJob, 2},
                           {"scan exhaustive", scanExhaustiveJob, 4},
                           {"carve", carveJob, 4}};

void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.what; }
void PrintTo(const JobColumn& job, std::ostream* out) { *out << job.name; }

using Access = FailingDisk::Access;
using Cell = std::tuple<Layout, JobColumn, Access>;

class FailingDiskTable : public ::testing::TestWithParam<Cell> {};

TEST_P(FailingDiskTable, ExactlyTheFailingSectorsAreLost) {
  const auto& [layout, job, access] = GetParam();
  const fs::path fixture = test::fixturePath(layout.image);
  const std::string before = test::sha256File(fixture);
  FailingDisk disk(fixture, layout.bad, access);
  if (!disk.unavailable().empty()) GTEST_SKIP() << disk.unavailable();
  test::TempDir work;
  job.check(JobRun{layout, disk.source(), work.path()});
  // Under retry-all each failing sector is read twice for each read of the
  // job: by the transfer that met it and once alone, never through a page or
  // a read-ahead window.
  for (const auto& [sector, reads] : disk.reads()) EXPECT_LE(reads, job.maxReads) << "sector " << sector;
  EXPECT_EQ(test::sha256File(fixture), before) << "the source is never written";
}

std::string cellName(const ::testing::TestParamInfo<Cell>& cell) {
  const Layout& layout = std::get<0>(cell.param);
  const Access access = std::get<2>(cell.param);
  return test::caseName(std::string(layout.what) + " " + std::get<1>(cell.param).name +
                        (access == Access::File ? " served file" : " loop device"));
}

INSTANTIATE_TEST_SUITE_P(Layouts, FailingDiskTable,
                         ::testing::Combine(::testing::ValuesIn(kLayouts), ::testing::ValuesIn(kJobs),
                                            ::testing::Values(Access::File, Access::LoopDevice)),
                         cellName);

}  // namespace
}  // namespace dravolin
