// dravolin carve on the modern carving fixture: files of many types made by
// Debian tools, back to back or with random slack, and stray headers in the
// filler. Every placed file is carved byte for byte into its type's folder;
// a stray header gives nothing; nothing else comes out.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "support/carving_manifest.h"
#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

TEST(ModernCarving, EveryPlacedFileIsCarvedByteExactAndNoStrayHeaderGivesAFile) {
  const fs::path folder = test::fixturePath("modern-carving");
  int status = -1;
  const std::string built = test::runShell("bash '" + std::string(DRAVOLIN_SOURCE_DIR) +
                                               "/tests/fixtures/build-modern-carving-image.sh' '" + folder.string() +
                                               "' 2>&1",
                                           &status);
  ASSERT_EQ(status, 0) << built;
  const auto placed = test::readCarvingManifest(folder / "modern-carving.img.manifest.tsv");
  ASSERT_FALSE(placed.empty());
  const fs::path image = folder / "modern-carving.img";
  const std::string before = test::sha256File(image);

  test::TempDir home;
  auto result = test::runDravolin({"carve", image.string(), "--whole-disk", "--types", "all,modern", "--to",
                                   (home / "out").string(), "--json"},
                                  home.path());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const json doc = json::parse(result.out);
  std::map<std::uint64_t, json> files;
  for (const auto& f : doc["files"]) files[f["start_sector"].get<std::uint64_t>()] = f;

  std::size_t expected = 0;
  for (const auto& p : placed) {
    SCOPED_TRACE(p.type + " at " + std::to_string(p.start));
    if (p.carvedType == "-") {
      EXPECT_EQ(files.count(p.start), 0u) << "a stray header gives nothing";
      continue;
    }
    ++expected;
    ASSERT_EQ(files.count(p.start), 1u) << "not found";
    const json& f = files[p.start];
    EXPECT_EQ(f["type"], p.carvedType);
    EXPECT_EQ(f["size"].get<std::uint64_t>(), p.size);
    EXPECT_FALSE(f.contains("complete"));
    const fs::path path = f["path"].get<std::string>();
    EXPECT_EQ(path.parent_path().filename(), p.carvedType) << "one folder per type";
    EXPECT_EQ(test::sha256File(path), p.sha256) << "byte-exact";
  }
  EXPECT_EQ(files.size(), expected) << "nothing else in the filler";
  EXPECT_EQ(doc["message"], "Raw Saving Completed Successfully.");
  EXPECT_EQ(test::sha256File(image), before);
}

// A JPEG whose scan stops parsing (a marker that is none, where another
// file's bytes overwrote it) is saved as far as it parsed and reported as
// partial; the source copy is the test's own.
TEST(ModernCarving, AJpegBrokenMidScanIsSavedAsPartial) {
  const fs::path folder = test::fixturePath("modern-carving");
  int status = -1;
  test::runShell("bash '" + std::string(DRAVOLIN_SOURCE_DIR) + "/tests/fixtures/build-modern-carving-image.sh' '" +
                     folder.string() + "' 2>&1",
                 &status);
  ASSERT_EQ(status, 0);
  const test::PlacedFile* jpeg = nullptr;
  const auto placed = test::readCarvingManifest(folder / "modern-carving.img.manifest.tsv");
  for (const auto& p : placed)
    if (p.type == "JPEG" && !jpeg) jpeg = &p;
  ASSERT_NE(jpeg, nullptr);
  test::TempDir home;
  std::string image = test::readFile(folder / "modern-carving.img");
  const std::size_t base = jpeg->start * 512;
  std::size_t cut = base + jpeg->size * 3 / 4;
  while (image[cut - 1] == '\xFF') ++cut;  // not the second byte of an FF pair
  image[cut] = '\xFF';
  image[cut + 1] = '\x37';
  test::writeFile(home / "damaged.img", image);
  auto result = test::runDravolin({"carve", (home / "damaged.img").string(), "--whole-disk", "--types", "jpg", "--to",
                                   (home / "out").string(), "--json"},
                                  home.path());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const json doc = json::parse(result.out);
  const json* file = nullptr;
  for (const auto& f : doc["files"])
    if (f["start_sector"].get<std::uint64_t>() == jpeg->start) file = &f;
  ASSERT_NE(file, nullptr);
  EXPECT_EQ((*file)["complete"], false);
  EXPECT_EQ((*file)["size"].get<std::uint64_t>(), cut - base);
  EXPECT_EQ(test::readFile((*file)["path"].get<std::string>()), image.substr(base, cut - base));
  EXPECT_NE(result.err.find("partial"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace dravolin
