// dravolin on damaged copies of the fixtures (tests/fixtures/damaged): a
// volume or range past the end of the source is cut there, a corrupt file
// size is clipped, names that clash once made safe stay apart, partition
// entries of length 0 are refused and entries past the end of the disk are
// marked and still searched, a stray header at the end of a carving range
// hides nothing, a FAT12 chain longer than its file is not cut, and an image
// set is as large as its pieces. No damaged source changes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

fs::path damaged(const std::string& name) { return test::fixturePath("damaged/" + name); }

// What a write to a fixture would change: the sha256 of the file, or for a
// sparse one (a volume placed past 2 TiB is mostly holes) the places of its
// data and a hash of their bytes, so that it is not read hole by hole.
std::string contentFingerprint(const fs::path& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return "missing";
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (static_cast<std::uint64_t>(st.st_blocks) * 512 >= size / 2) return test::sha256File(path);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "unreadable";
  std::string fingerprint = std::to_string(size);
  std::string data;
  for (off_t at = 0; (at = ::lseek(fd, at, SEEK_DATA)) >= 0;) {
    const off_t end = ::lseek(fd, at, SEEK_HOLE);
    if (end <= at) break;
    fingerprint += " " + std::to_string(at) + "-" + std::to_string(end);
    std::string piece(static_cast<std::size_t>(end - at), '\0');
    if (::pread(fd, piece.data(), piece.size(), at) != static_cast<ssize_t>(piece.size())) fingerprint += " short";
    data += piece;
    at = end;
  }
  ::close(fd);
  return fingerprint + " " + std::to_string(std::hash<std::string>{}(data));
}

// sha256 of a file of a fixture manifest, by its path.
std::string manifestSha(const std::string& image, const std::string& path) {
  std::ifstream in(test::fixturePath(image + ".manifest.tsv"));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string field; std::getline(s, field, '\t');) fields.push_back(field);
    if (fields.size() == 6 && fields[5] == path) return fields[4];
  }
  return {};
}

bool hasEntry(const json& scan, const std::string& path) {
  for (const auto& e : scan["entries"])
    if (e["path"] == path) return true;
  return false;
}

struct DamagedRun {
  test::TempDir dir;
  test::CommandResult result;
  fs::path out() const { return dir / "out"; }
  std::string log(const std::string& name) const { return test::readFile(dir / "home" / "logs" / name); }
};

struct Case {
  const char* name;
  std::string source;  // under damaged/
  std::vector<std::string> arguments;  // "OUT" stands for the run's output folder
  int exitCode;
  std::vector<std::string> stderrHas;
  std::function<void(const DamagedRun&)> check;
};

TEST(DamagedImages, EachDamageEndsAsTheSoundBehaviourSays) {
  static const std::string cutAt = "the selection was cut at the end of the source, sector ";
  const std::vector<Case> cases = {
      // A boot sector claiming 0xFFFFFFFF sectors on a 30,720-sector image.
      {"exhaustive scan past the end",
       "fat16-oversized-count.img",
       {"scan", "--exhaustive", "--json"},
       0,
       {"End sector 4294967295 lies past the end of the source (30720 sectors): " + cutAt + "30720"},
       [](const DamagedRun& r) {
         const json scan = json::parse(r.result.out);
         EXPECT_TRUE(hasEntry(scan, "/hello.txt"));
         EXPECT_TRUE(hasEntry(scan, "/Documents/Letter to Anna.txt"));
         EXPECT_NE(r.log("Activity Log.txt").find(cutAt + "30720"), std::string::npos);
       }},
      {"carving range past the end",
       "fat16-oversized-count.img",
       {"carve", "--range", "0", "99999999", "--types", "jpeg", "--to", "OUT", "--json"},
       0,
       {"End sector 99999999 lies past the end of the source (30720 sectors): " + cutAt + "30720"},
       [](const DamagedRun& r) { EXPECT_EQ(json::parse(r.result.out)["current_sector"], 30720); }},
      {"image range past the end",
       "fat16-oversized-count.img",
       {"image", "--range", "0", "99999999", "--to", "OUT/copy.img"},
       0,
       {cutAt + "30720"},
       [](const DamagedRun& r) { EXPECT_EQ(fs::file_size(r.out() / "copy.img"), 30720u * 512); }},
      // A live file whose size field says 0xFFFFFFFF.
      {"corrupt file size",
       "fat16-oversized-file-size.img",
       {"recover", "--all", "--to", "OUT", "--json"},
       1,
       {"dravolin: 1 file(s) claimed more than the volume holds and were saved clipped"},
       [](const DamagedRun& r) {
         // The free-space question saw the clipped size (at most the 32 MiB
         // volume for that file), not 4 GiB.
         EXPECT_LT(json::parse(r.result.out)["selected_bytes"].get<std::uint64_t>(), 64u << 20);
         const fs::path saved = r.out() / "Several clusters fat16.dat";
         EXPECT_EQ(test::sha256File(saved), manifestSha("fat16.img", "/Several clusters fat16.dat"));
         for (const auto& f : fs::recursive_directory_iterator(r.out()))
           if (f.is_regular_file()) {
             EXPECT_LT(f.file_size(), 32u << 20) << f.path();
           }
         EXPECT_NE(r.log("Recovery Log.txt").find("Clipped : " + saved.string() + " : its size field claims 4294967295 bytes"),
                   std::string::npos);
       }},
      // A file ".." and a folder ".." in the root.
      {"names the same once made safe",
       "fat16-dotdot-names.img",
       {"recover", "--all", "--to", "OUT"},
       0,
       {},
       [](const DamagedRun& r) {
         EXPECT_EQ(test::sha256File(r.out() / "__"),
                   manifestSha("fat16.img", "/A long file name with Spaces and MixedCase fat16.txt"));
         for (const std::string path : {"/Letter to Anna.txt", "/Work/Reports/Archive/deep note.txt", "/Many notes/note 01.txt"})
           EXPECT_EQ(test::sha256File(r.out() / ("__0" + path)), manifestSha("fat16.img", "/Documents" + path)) << path;
       }},
      // A FAT12 chain one cluster longer than its file, in both FATs.
      {"FAT12 chain longer than its file",
       "fat12-long-chain.img",
       {"recover", "--path", "/Fragments", "--to", "OUT"},
       0,
       {},
       [](const DamagedRun& r) {
         std::string expected = test::readFile(damaged("fat12-long-chain.img.contiguous.sha256"));
         expected.resize(64);
         const std::string saved = test::sha256File(r.out() / "Fragments" / "Split file fat12.bin");
         EXPECT_EQ(saved, expected) << "copied from contiguous clusters";
         EXPECT_NE(saved, manifestSha("fat12.img", "/Fragments/Split file fat12.bin"));
       }},
      // Entry 1 of length 0, entry 2 of length 0xFFFFFFFF.
      {"partition entry of length 0",
       "mbr-bad-lengths.img",
       {"scan", "--partition", "1"},
       1,
       {"End sector should be bigger than Start sector"},
       [](const DamagedRun& r) { EXPECT_EQ(r.result.out.find("/Lost"), std::string::npos); }},
      {"partition entry past the end of the disk listed",
       "mbr-bad-lengths.img",
       {"partitions", "--json"},
       0,
       {},
       [](const DamagedRun& r) {
         const json listing = json::parse(r.result.out);
         const auto& parts = listing["partitions"];
         ASSERT_GE(parts.size(), 2u);
         EXPECT_EQ(parts[0]["beyond_end"], false);
         EXPECT_EQ(parts[1]["beyond_end"], true);
         EXPECT_EQ(parts[1]["beyond_end_text"], "beyond the end of the disk");
         int sum = 0;
         for (int share : listing["pie"]) {
           EXPECT_GE(share, 0);
           EXPECT_LE(share, 100);
           sum += share;
         }
         EXPECT_EQ(sum, 100);
       }},
      {"partition entry past the end of the disk searched",
       "mbr-bad-lengths.img",
       {"scan", "--partition", "2", "--json"},
       0,
       {"lies past the end of the source (204800 sectors): " + cutAt + "204800"},
       [](const DamagedRun& r) { EXPECT_TRUE(hasEntry(json::parse(r.result.out), "/Documents/Letter to Anna.txt")); }},
      // A stray ZIP header at 1000 of 3,000 sectors, a JPEG at 1500.
      {"stray header near the end of the range",
       "carving-stray-zip.img",
       {"carve", "--whole-disk", "--types", "zip,jpeg", "--to", "OUT", "--json"},
       0,
       {},
       [](const DamagedRun& r) {
         std::map<std::uint64_t, json> byStart;
         const json carved = json::parse(r.result.out);
         for (const auto& f : carved["files"]) byStart[f["start_sector"].get<std::uint64_t>()] = f;
         ASSERT_TRUE(byStart.count(1500)) << r.result.out;
         ASSERT_TRUE(byStart.count(100));
         EXPECT_EQ(byStart[1500]["type"], "JPEG");
         EXPECT_EQ(test::readFile(byStart[1500]["path"].get<std::string>()),
                   test::readFile(byStart[100]["path"].get<std::string>()));
       }},
      // Two 1.44 MB pieces.
      {"image set size",
       "floppy-image-set",
       {"partitions", "--json"},
       0,
       {},
       [](const DamagedRun& r) { EXPECT_EQ(json::parse(r.result.out)["disk_bytes"], 2u * 1474560); }},
  };

  std::map<fs::path, std::string> before;
  for (const auto& entry : fs::recursive_directory_iterator(test::fixturePath("damaged")))
    if (entry.is_regular_file()) before[entry.path()] = contentFingerprint(entry.path());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DamagedRun run;
    fs::create_directories(run.out());
    std::vector<std::string> arguments{c.arguments.front(), damaged(c.source).string()};
    for (std::size_t i = 1; i < c.arguments.size(); ++i) {
      std::string a = c.arguments[i];
      if (a.starts_with("OUT")) a = run.out().string() + a.substr(3);
      arguments.push_back(a);
    }
    arguments.insert(arguments.end(), {"--log-dir", (run.dir / "home" / "logs").string()});
    run.result = test::runDravolin(arguments, run.dir / "home");
    EXPECT_EQ(run.result.exitCode, c.exitCode) << run.result.err;
    for (const auto& text : c.stderrHas) EXPECT_NE(run.result.err.find(text), std::string::npos) << run.result.err;
    if (c.check) c.check(run);
  }

  for (const auto& [path, sha] : before) EXPECT_EQ(contentFingerprint(path), sha) << path;
}

}  // namespace
}  // namespace dravolin
