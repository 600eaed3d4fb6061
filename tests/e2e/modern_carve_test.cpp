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

}  // namespace
}  // namespace dravolin
