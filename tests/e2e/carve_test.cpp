// dravolin carve on the carving fixture: random filler with real files of
// many types at known sectors. Every placed file of a selected type is found,
// in its type's folder, starting with the original bytes and as long as the
// carving rules make it; RIFF goes to AVI when AVI and CDR are both chosen;
// compound documents follow the chosen sub-types; a bitmap header with size
// 0 is rejected and the PNG right after it found; the source never changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "disk/fault_injecting_source.h"
#include "disk/file_source.h"
#include "logs/log_file.h"
#include "raw/raw_carver.h"
#include "support/carving_manifest.h"
#include "unit/raw/raw_test_support.h"
#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::runDravolin;
using test::TempDir;

constexpr std::size_t kSector = 512;
using Placed = test::PlacedFile;

class CarveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = test::fixturePath("carving");
    int status = -1;
    std::string out = test::runShell("bash '" + std::string(DRAVOLIN_SOURCE_DIR) +
                                         "/tests/fixtures/build-carving-image.sh' '" + folder_.string() + "' 2>&1",
                                     &status);
    ASSERT_EQ(status, 0) << out;
    placed_ = test::readCarvingManifest(folder_ / "carving.img.manifest.tsv");
    image_ = test::readFile(folder_ / "carving.img");
  }

  static fs::path imagePath() { return folder_ / "carving.img"; }

  // Runs carve with --json into a fresh folder; the files by start sector.
  // The tests of the table's sector rules keep whole sectors.
  std::map<std::uint64_t, json> carve(const std::vector<std::string>& extra, json* document = nullptr,
                                      bool wholeSectors = true) {
    std::vector<std::string> args = {"carve", imagePath().string(), "--to", (home_ / "out").string(), "--json"};
    if (wholeSectors) args.push_back("--whole-sectors");
    args.insert(args.end(), extra.begin(), extra.end());
    auto result = runDravolin(args, home_.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    json doc = json::parse(result.out);
    if (document) *document = doc;
    std::map<std::uint64_t, json> files;
    for (const auto& f : doc["files"]) files[f["start_sector"].get<std::uint64_t>()] = f;
    return files;
  }

  // Checks one placed file against what was carved for it.
  void expectCarved(const Placed& p, const json& file, const std::string& type) {
    SCOPED_TRACE(p.type + " at " + std::to_string(p.start));
    EXPECT_EQ(file["type"], type);
    EXPECT_EQ(file["sectors"].get<std::uint64_t>(), p.carvedSectors);
    const fs::path path = file["path"].get<std::string>();
    EXPECT_EQ(path.parent_path().filename(), type) << "one folder per type";
    EXPECT_EQ(path.extension(), "." + type);
    test::expectCarvedFile(p, test::readFile(path), image_);
  }

  TempDir home_;
  static inline fs::path folder_;
  static inline std::vector<Placed> placed_;
  static inline std::string image_;
};

TEST_F(CarveTest, EveryPlacedFileIsFoundWithItsSizeAndTheSourceIsUnchanged) {
  const std::string before = test::sha256File(imagePath());
  json doc;
  auto files = carve({"--whole-disk", "--types", "all"}, &doc);
  ASSERT_FALSE(placed_.empty());
  std::size_t expected = 0;
  for (const auto& p : placed_) {
    if (p.carvedType == "-") {
      EXPECT_EQ(files.count(p.start), 0u) << "the bitmap with size 0 is rejected";
      EXPECT_EQ(files.count(p.start + 1), 1u) << "and the scan resumes at the next sector";
      continue;
    }
    ++expected;
    ASSERT_EQ(files.count(p.start), 1u) << p.type << " at " << p.start;
    expectCarved(p, files[p.start], p.carvedType);
  }
  EXPECT_EQ(files.size(), expected) << "nothing else in the filler";
  EXPECT_EQ(doc["files_found"].get<std::size_t>(), expected);
  EXPECT_EQ(doc["aborted"], false);
  EXPECT_EQ(doc["message"], "Raw Saving Completed Successfully.");
  std::uint64_t bytes = 0;
  for (const auto& [start, f] : files) bytes += f["sectors"].get<std::uint64_t>() * kSector;
  EXPECT_EQ(doc["bytes_recovered"].get<std::uint64_t>(), bytes);
  // Files of a type are numbered from 0 in the order found; compound
  // documents share one counter.
  std::map<std::string, int> next;
  for (const auto& [start, f] : files) {
    std::string type = f["type"];
    std::string counter = type == "XLS" || type == "PPT" || type == "DOC" ? "compound" : type;
    EXPECT_EQ(fs::path(f["path"].get<std::string>()).stem(), std::to_string(next[counter]++)) << type;
  }
  EXPECT_EQ(test::sha256File(imagePath()), before);
}

// By default a file whose format gives its end is cut there: every such
// placed file comes out byte for byte (its manifest size and sha256); the
// types without an exact end keep their sector rule; the bitmap header with
// size 0 does not parse and gives nothing.
TEST_F(CarveTest, FilesWhoseFormatGivesTheirEndAreCarvedByteExact) {
  const std::set<std::string> exact = {"JPEG", "PNG", "BMP", "PDF", "ZIP", "HTML", "RTF", "XML", "AVI", "DOC", "XLS", "PPT"};
  json doc;
  auto files = carve({"--whole-disk", "--types", "all"}, &doc, false);
  std::size_t expected = 0;
  for (const auto& p : placed_) {
    SCOPED_TRACE(p.type + " at " + std::to_string(p.start));
    if (p.carvedType == "-") {
      EXPECT_EQ(files.count(p.start), 0u);
      continue;
    }
    ++expected;
    ASSERT_EQ(files.count(p.start), 1u);
    const json& f = files[p.start];
    EXPECT_EQ(f["type"], p.carvedType);
    EXPECT_FALSE(f.contains("complete"));
    const fs::path path = f["path"].get<std::string>();
    if (exact.count(p.type)) {
      EXPECT_EQ(f["size"].get<std::uint64_t>(), p.size);
      EXPECT_EQ(f["sectors"].get<std::uint64_t>(), (p.size + kSector - 1) / kSector);
      EXPECT_EQ(test::sha256File(path), p.sha256) << "byte-exact";
    } else {
      expectCarved(p, f, p.carvedType);
    }
  }
  EXPECT_EQ(files.size(), expected) << "nothing else in the filler";
  std::uint64_t bytes = 0;
  for (const auto& [start, f] : files) bytes += f["size"].get<std::uint64_t>();
  EXPECT_EQ(doc["bytes_recovered"].get<std::uint64_t>(), bytes);
  EXPECT_EQ(doc["message"], "Raw Saving Completed Successfully.");
  // A compound document of a sub-type not chosen gives nothing.
  fs::remove_all(home_ / "out");
  auto xls = carve({"--whole-disk", "--types", "xls"}, nullptr, false);
  ASSERT_EQ(xls.size(), 1u);
  for (const auto& p : placed_)
    if (p.type == "XLS") {
      EXPECT_EQ(test::sha256File(xls.begin()->second["path"].get<std::string>()), p.sha256);
    }
}

TEST_F(CarveTest, RiffGoesToAviWhenAviAndCdrAreChosenAndToCdrAlone) {
  const Placed* avi = nullptr;
  for (const auto& p : placed_)
    if (p.type == "AVI") avi = &p;
  ASSERT_NE(avi, nullptr);
  auto both = carve({"--whole-disk", "--types", "cdr,avi"});
  ASSERT_EQ(both.size(), 1u);
  expectCarved(*avi, both.begin()->second, "AVI");
  fs::remove_all(home_ / "out");
  auto cdr = carve({"--whole-disk", "--types", "CDR"});
  ASSERT_EQ(cdr.size(), 1u);
  expectCarved(*avi, cdr.begin()->second, "CDR");
}

TEST_F(CarveTest, CompoundDocumentsFollowTheChosenSubTypes) {
  struct Case {
    std::string types;
    std::set<std::string> wanted;
  };
  for (const Case& c : {Case{"XLS", {"XLS"}}, Case{"DOC,PPT", {"DOC", "PPT"}}, Case{"DOC", {"DOC"}}}) {
    SCOPED_TRACE(c.types);
    fs::remove_all(home_ / "out");
    auto files = carve({"--whole-disk", "--types", c.types});
    std::size_t count = 0;
    for (const auto& p : placed_) {
      if (p.carvedType != "DOC" && p.carvedType != "XLS" && p.carvedType != "PPT") continue;
      if (c.wanted.count(p.carvedType)) {
        ++count;
        ASSERT_EQ(files.count(p.start), 1u) << p.carvedType;
        expectCarved(p, files[p.start], p.carvedType);
      } else {
        EXPECT_EQ(files.count(p.start), 0u) << p.carvedType << " is dropped";
        EXPECT_FALSE(fs::exists(home_ / "out" / p.carvedType));
      }
    }
    EXPECT_EQ(files.size(), count);
  }
}

TEST_F(CarveTest, ARangeCarvesOnlyWhatStartsInIt) {
  auto files = carve({"--range", "1000", "1900", "--types", "all"});
  for (const auto& p : placed_) {
    const bool inside = p.start >= 1000 && p.start < 1900 && p.carvedType != "-";
    EXPECT_EQ(files.count(p.start), inside ? 1u : 0u) << p.type << " at " << p.start;
  }
  EXPECT_FALSE(files.empty());
}

TEST_F(CarveTest, AnImageMadeByDravolinCarvesTheSame) {
  fs::create_directories(home_ / "set");
  auto imaged = runDravolin({"image", imagePath().string(), "--whole-disk", "--to", (home_ / "set" / "disk.img").string(),
                             "--multifile", "--quiet"},
                            home_.path());
  ASSERT_EQ(imaged.exitCode, 0) << imaged.err;
  auto direct = carve({"--whole-disk", "--types", "all"}, nullptr, false);
  fs::remove_all(home_ / "out");
  auto args = std::vector<std::string>{"carve", (home_ / "set" / "disk0.img").string(), "--whole-disk", "--types", "all",
                                       "--to", (home_ / "out").string(), "--json"};
  auto fromSet = runDravolin(args, home_.path());
  ASSERT_EQ(fromSet.exitCode, 0) << fromSet.err;
  std::map<std::uint64_t, std::uint64_t> a, b;
  for (const auto& [start, f] : direct) a[start] = f["sectors"];
  const json doc = json::parse(fromSet.out);
  for (const auto& f : doc["files"]) b[f["start_sector"]] = f["sectors"];
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a.empty());
}

TEST_F(CarveTest, TextOutputListsTheFilesAndTheTotals) {
  auto result = runDravolin({"carve", imagePath().string(), "--whole-disk", "--types", "png", "--to",
                             (home_ / "out").string()},
                            home_.path());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find((home_ / "out" / "PNG" / "0.PNG").string() + "  (PNG, start sector "), std::string::npos);
  EXPECT_NE(result.out.find("Files Found : 3\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Current Sector : 20000 / 20000\n"), std::string::npos);
  EXPECT_NE(result.out.find("Raw Saving Completed Successfully.\n"), std::string::npos);
}

// A second run into the same folder overwrites nothing: its files are
// numbered after the first run's, which stay byte for byte.
TEST_F(CarveTest, ASecondRunIntoTheSameFolderKeepsTheFirstRunsFiles) {
  auto first = carve({"--whole-disk", "--types", "png"});
  ASSERT_EQ(first.size(), 3u);
  std::map<std::string, std::string> before;
  for (const auto& entry : fs::recursive_directory_iterator(home_ / "out"))
    if (entry.is_regular_file()) before[entry.path().string()] = test::readFile(entry.path());
  auto second = carve({"--whole-disk", "--types", "png"});
  ASSERT_EQ(second.size(), 3u);
  std::set<std::string> names;
  for (const auto& [start, f] : second) {
    const fs::path path = f["path"].get<std::string>();
    names.insert(path.filename().string());
    EXPECT_EQ(test::readFile(path), test::readFile(first[start]["path"].get<std::string>())) << path;
  }
  EXPECT_EQ(names, (std::set<std::string>{"3.PNG", "4.PNG", "5.PNG"}));
  for (const auto& [path, bytes] : before) EXPECT_EQ(test::readFile(path), bytes) << path << " is kept";
}

TEST_F(CarveTest, RefusalsAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  };
  const std::string out = (home_ / "out").string();
  test::writeFile(home_ / "afile", "x");
  const std::vector<Case> cases = {
      {{"--types", "jpeg", "--to", out}, 2, "--whole-disk"},  // never chosen implicitly
      {{"--whole-disk", "--types", "jpeg,gof", "--to", out}, 2, "GOF"},  // GIF is a modern type now
      {{"--whole-disk", "--types", ",", "--to", out}, 2, "Please select extensions to start."},
      {{"--whole-disk", "--types", "jpeg", "--to", (home_ / "afile" / "x").string()}, 1,
       "Not a valid Destination. Please specify destination."},
      {{"--whole-disk", "--to", out}, 2, "--types"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"carve", imagePath().string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto result = runDravolin(args, home_.path());
    EXPECT_EQ(result.exitCode, c.exitCode) << c.message << "\n" << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
}

// A carving that could not write what it found, or wrote files with sectors
// it could not read, says it failed, names the files, and exits 1.
TEST_F(CarveTest, ACarvingThatLostWhatItFoundSaysItFailed) {
  const Placed* jpeg = nullptr;
  for (const auto& p : placed_)
    if (p.carvedType == "JPEG" && p.carvedSectors >= 4 && !jpeg) jpeg = &p;
  ASSERT_NE(jpeg, nullptr);
  const SectorNumber bad = jpeg->start + 2;

  struct Case {
    const char* what;
    bool readOnly;                    // the destination is a read-only drive
    std::set<SectorNumber> failing;   // sectors of the image that cannot be read
  };
  for (const Case& c : {Case{"a read-only destination", true, {}},
                        Case{"an unreadable sector inside a carved file", false, {bad}}}) {
    SCOPED_TRACE(c.what);
    if (c.readOnly) {
      // Through the command line: every file is "not written:", none is
      // claimed, and the errors say why.
      test::ReadOnlyFolder folder(home_ / "ro");
      if (!folder.usable()) {
        std::cerr << "[ SKIPPED  ] " << c.what << ": no way to make a folder read-only here\n";
        continue;
      }
      const std::vector<std::string> args{"carve", imagePath().string(), "--whole-disk", "--types", "jpeg,png",
                                          "--to", folder.path().string()};
      const auto text = runDravolin(args, home_.path());
      EXPECT_EQ(text.exitCode, 1) << text.err;
      EXPECT_EQ(text.out.find("Raw Saving Completed Successfully."), std::string::npos) << text.out;
      EXPECT_NE(text.out.find("Raw Saving Not Completed Successfully.\n"), std::string::npos) << text.out;
      EXPECT_NE(text.out.find("not written: " + (folder.path() / "JPEG" / "0.JPEG").string()), std::string::npos);
      EXPECT_NE(text.err.find("Read-only file system"), std::string::npos) << text.err;
      auto withJson = args;
      withJson.push_back("--json");
      const auto machine = runDravolin(withJson, home_.path());
      EXPECT_EQ(machine.exitCode, 1) << machine.err;
      const json doc = json::parse(machine.out);
      EXPECT_EQ(doc["message"], "Raw Saving Not Completed Successfully.");
      EXPECT_EQ(doc["files_written"], 0);
      ASSERT_FALSE(doc["files"].empty());
      EXPECT_EQ(doc["files"].size(), doc["files_found"].get<std::size_t>());
      EXPECT_EQ(doc["errors"].size(), doc["files"].size());
      for (const auto& f : doc["files"]) {
        EXPECT_EQ(f["written"], false);
        EXPECT_NE(f["error"].get<std::string>().find("Read-only file system"), std::string::npos) << f.dump();
      }
      continue;
    }
    // Through the carver on the image with a failing sector, retried
    // sector by sector as the command line does without a terminal: the
    // file holding it is written with that sector as zeros and named.
    auto image = FileSectorSource::open(imagePath().string(), OpenMode::ReadOnly, true);
    ASSERT_TRUE(image.has_value());
    FaultInjectingSource failing(**image, c.failing);
    SectorReader reader(failing);
    reader.setPolicy(BadSectorPolicy::RetryAll);
    SignatureTable table = buildSignatureTable(test::ticksOf({"JPEG"}));
    LogFile activity(LogKind::Activity, home_ / "logs");
    LogFile recovery(LogKind::Recovery, home_ / "logs");
    RawCarvingSettings settings;
    settings.start = 0;
    settings.end = failing.sectorCount();
    settings.target.savingPath = home_ / "holes";
    fs::create_directories(settings.target.savingPath);
    RawCarver carver(reader, table, activity, recovery, settings);
    test::CarvingJob job;
    carver.run(job);
    const RawCarvingResult& result = carver.result();
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.message, kRawSavingNotCompletedMessage);
    EXPECT_EQ(result.unreadable, (std::vector<SectorRange>{{bad, bad + 1}}));
    std::size_t withHoles = 0;
    for (const CarvedFile& f : result.files) {
      EXPECT_TRUE(f.written) << f.path;
      if (f.unreadable.empty()) continue;
      ++withHoles;
      EXPECT_EQ(f.startSector, jpeg->start);
      EXPECT_EQ(f.unreadable, (std::vector<SectorRange>{{bad, bad + 1}}));
      // The file holds zeros exactly where the sector could not be read.
      const std::string bytes = test::readFile(f.path);
      ASSERT_GE(bytes.size(), 3 * kSector);
      EXPECT_EQ(bytes.substr(2 * kSector, kSector), std::string(kSector, '\0'));
      EXPECT_EQ(bytes.substr(0, 2 * kSector), image_.substr(jpeg->start * kSector, 2 * kSector));
      const std::string line = "Unreadable Sectors : " + f.path + " : " + describeSectorRanges(f.unreadable);
      EXPECT_NE(test::readFile(recovery.path()).find(line), std::string::npos) << line;
      EXPECT_NE(test::readFile(activity.path()).find(line), std::string::npos) << line;
    }
    EXPECT_EQ(withHoles, 1u);
    EXPECT_NE(test::readFile(recovery.path()).find("Raw Saving Not Completed Successfully."), std::string::npos);
  }
}

}  // namespace
}  // namespace dravolin
