// Split raw images and container images (E01, qcow2, VMDK, VHD, VHDX) as
// SOURCE: each form of the FAT16 fixture, built by
// tests/fixtures/build-container-images.sh, scans, recovers and images
// exactly as the raw image does; a split series with a missing or a short
// middle piece is an error naming that piece.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

fs::path formsDir() { return DRAVOLIN_CONTAINER_FIXTURES_DIR; }

struct Form {
  const char* what;
  const char* path;  // under the forms folder
};

const Form kForms[] = {
    {"split dot 001", "split-001/fat16.img.001"}, {"split dot 000", "split-000/fat16.img.000"},
    {"split dot aa", "split-dot-aa/fat16.img.aa"}, {"split NAMEaa", "split-aa/fat16aa"},
    {"E01", "fat16.E01"},                       {"E01 in segments", "segments/fat16.E01"},
    {"qcow2", "fat16.qcow2"},
    {"VMDK", "fat16.vmdk"},                     {"VHD", "fat16.vhd"},
    {"VHDX", "fat16.vhdx"},
};

// Relative path -> sha256 of every file recover --all wrote.
std::map<std::string, std::string> recoverAll(const fs::path& source, const fs::path& to, const fs::path& home) {
  const auto result = test::runDravolin({"recover", source.string(), "--all", "--to", to.string(), "--json"}, home);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::map<std::string, std::string> files;
  if (!fs::exists(to)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(to))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), to).string()] = test::sha256File(entry.path());
  return files;
}

// The sha256 of every live file with data the manifest lists.
std::set<std::string> liveManifestHashes() {
  std::set<std::string> hashes;
  std::ifstream in(formsDir() / "source.manifest.tsv");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    if (line.starts_with("#")) continue;
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
      fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    // partition state kind size sha256 path
    if (fields.size() >= 6 && fields[1] == "live" && fields[2] == "file" && fields[3] != "0") hashes.insert(fields[4]);
  }
  return hashes;
}

class SplitContainerSource : public ::testing::TestWithParam<Form> {
 protected:
  test::TempDir dir;
};

TEST_P(SplitContainerSource, ScansRecoversAndImagesAsTheRawImage) {
  const fs::path raw = formsDir() / "source.img";
  const fs::path form = formsDir() / GetParam().path;
  ASSERT_TRUE(fs::exists(form)) << form;

  const auto rawScan = test::runDravolin({"scan", raw.string(), "--json"}, dir / "home");
  ASSERT_EQ(rawScan.exitCode, 0) << rawScan.err;
  const auto scan = test::runDravolin({"scan", form.string(), "--json"}, dir / "home");
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(json::parse(scan.out), json::parse(rawScan.out));

  const auto rawFiles = recoverAll(raw, dir / "raw", dir / "home");
  const auto files = recoverAll(form, dir / "form", dir / "home");
  EXPECT_EQ(files, rawFiles);
  std::set<std::string> recovered;
  for (const auto& [path, hash] : files) recovered.insert(hash);
  const auto live = liveManifestHashes();
  ASSERT_GT(live.size(), 20u);
  for (const auto& hash : live) EXPECT_TRUE(recovered.contains(hash)) << "live file " << hash << " not recovered";

  // The whole disk copied from the form is the raw image, byte for byte (up
  // to its own end: a VHD's disk is rounded up to whole cylinders, in zeros).
  fs::create_directories(dir / "copy");
  const auto imaged = test::runDravolin(
      {"image", form.string(), "--whole-disk", "--to", (dir / "copy" / "disk.img").string(), "--json"}, dir / "home");
  ASSERT_EQ(imaged.exitCode, 0) << imaged.err;
  const json pieces = json::parse(imaged.out)["pieces"];
  ASSERT_EQ(pieces.size(), 1u) << imaged.out;
  const fs::path copy = pieces[0].get<std::string>();
  const auto rawBytes = fs::file_size(raw);
  ASSERT_GE(fs::file_size(copy), rawBytes);
  std::string bytes = test::readFile(copy);
  EXPECT_EQ(bytes.find_first_not_of('\0', rawBytes), std::string::npos);
  bytes.resize(rawBytes);
  EXPECT_TRUE(bytes == test::readFile(raw)) << "the copy differs from the raw image";
}

INSTANTIATE_TEST_SUITE_P(Forms, SplitContainerSource, ::testing::ValuesIn(kForms), test::NameFromWhat{});

// A split series that lost a middle piece, or whose middle piece was cut
// short, is refused with the piece named, never read as a shorter disk; so
// is an E01 set that lost a segment.
TEST(SplitImageDamage, MissingOrShortMiddlePieceIsAnErrorNamingIt) {
  struct Case {
    const char* what;
    const char* folder;  // the form copied
    const char* first;   // what is opened
    const char* piece;   // the piece damaged
    bool remove;         // removed, else cut by one byte
    const char* after;   // for a segment set: the last segment found before the gap
  };
  const Case cases[] = {
      {"missing .003", "split-001", "fat16.img.001", "fat16.img.003", true, nullptr},
      {"short .002", "split-001", "fat16.img.001", "fat16.img.002", false, nullptr},
      {"missing E02", "segments", "fat16.E01", "fat16.E02", true, "fat16.E01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    fs::create_directories(dir / "pieces");
    for (const auto& entry : fs::directory_iterator(formsDir() / c.folder))
      fs::copy_file(entry.path(), dir / "pieces" / entry.path().filename());
    const fs::path damaged = dir / "pieces" / c.piece;
    if (c.remove) fs::remove(damaged);
    else fs::resize_file(damaged, fs::file_size(damaged) - 1);
    const std::string named = c.after ? "the segment file after " + (dir / "pieces" / c.after).string() + " is missing"
                                      : "dravolin: " + damaged.string() + ": ";
    for (const char* command : {"scan", "partitions"}) {
      const auto result = test::runDravolin({command, (dir / "pieces" / c.first).string()}, dir / "home");
      EXPECT_EQ(result.exitCode, 1) << command;
      EXPECT_NE(result.err.find(named), std::string::npos) << command << ": " << result.err;
      EXPECT_TRUE(result.out.empty()) << result.out;
    }
  }
}

}  // namespace
}  // namespace dravolin
