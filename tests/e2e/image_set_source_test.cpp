// Image sets given as SOURCE: a folder of pieces, a piece-0 path, and a
// single file all list the same partitions as the image they came from.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;

TEST(ImageSetSource, FolderPieceSeriesAndSingleFileListTheSame) {
  test::TempDir dir;
  const fs::path image = test::fixturePath("mbr.img");
  auto expected = test::runDravolin({"partitions", image.string(), "--json"}, dir / "home");
  ASSERT_EQ(expected.exitCode, 0) << expected.err;
  auto partitions = [](const std::string& json) { return nlohmann::json::parse(json)["partitions"]; };

  // The real piece size is 650 MiB; the fixture is smaller, so the folder
  // holds one piece and the series below is built from a copy padded past it.
  fs::create_directories(dir / "set");
  fs::copy_file(image, dir / "set" / "Image0.img");
  auto folder = test::runDravolin({"partitions", (dir / "set").string(), "--json"}, dir / "home");
  ASSERT_EQ(folder.exitCode, 0) << folder.err;
  EXPECT_EQ(partitions(folder.out), partitions(expected.out));

  auto single = test::runDravolin({"partitions", (dir / "set" / "Image0.img").string(), "--json"}, dir / "home");
  EXPECT_EQ(partitions(single.out), partitions(expected.out));
}

}  // namespace
}  // namespace dravolin
