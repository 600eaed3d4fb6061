// Split raw images: which names open a series, the joined bytes across
// pieces whose size is no multiple of 512, and the refusals that name the
// piece.
#include "disk/split_image.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;

// Pieces of 700 bytes holding the bytes 0, 1, 2, ... (mod 251) of one disk.
void writeSeries(const fs::path& dir, const std::vector<std::string>& names, std::size_t total) {
  std::size_t at = 0;
  for (const auto& name : names) {
    std::string bytes;
    for (std::size_t i = 0; i < 700 && at < total; ++i, ++at) bytes.push_back(static_cast<char>(at % 251));
    test::writeFile(dir / name, bytes);
  }
}

TEST(SplitImage, NamesThatOpenASeriesAndWhatTheyRead) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    const char* open;
    std::size_t pieces;  // 0: not a series
  };
  const Case cases[] = {
      {"numbers from 001", {"d.001", "d.002", "d.003"}, "d.001", 3},
      {"numbers from 000", {"d.000", "d.001", "d.002"}, "d.000", 3},
      {"001 after an existing 000 is no first piece", {"d.000", "d.001", "d.002"}, "d.001", 0},
      {"a later piece is no first piece", {"d.001", "d.002"}, "d.002", 0},
      {"letters after a dot", {"d.aa", "d.ab", "d.ac"}, "d.aa", 3},
      {"letters without a dot", {"daa", "dab", "dac"}, "daa", 3},
      {"a name ending in aa without its ab", {"data.aa2", "casaa"}, "casaa", 0},
      {"a plain image", {"disk.img"}, "disk.img", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const std::size_t total = 700 * (c.files.size() - 1) + 300;
    writeSeries(dir.path(), c.files, total);
    auto found = discoverSplitImage(dir / c.open);
    ASSERT_TRUE(found) << found.error().message;
    if (c.pieces == 0) {
      EXPECT_FALSE(found->has_value());
      continue;
    }
    ASSERT_TRUE(found->has_value());
    EXPECT_EQ((*found)->pieces.size(), c.pieces);
    EXPECT_EQ((*found)->totalBytes, total);
    auto source = SplitImageSource::open(**found);
    ASSERT_TRUE(source);
    // Sector 1 straddles the first two pieces (bytes 512..1023); the last
    // sector ends past the disk and reads as zeros there.
    std::vector<std::byte> out(2 * kSectorSize);
    ASSERT_EQ((*source)->read(1, 2, out), TransferStatus::Ok);
    for (std::size_t i = 0; i < out.size(); ++i) {
      const std::size_t at = 512 + i;
      ASSERT_EQ(out[i], at < total ? static_cast<std::byte>(at % 251) : std::byte{0}) << "byte " << at;
    }
    EXPECT_EQ((*source)->read((*source)->sectorCount(), 1, out), TransferStatus::PastEnd);
  }
}

TEST(SplitImage, GapsAndPiecesOfTheWrongSizeAreNamed) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    const char* resize;      // piece given another size, or ""
    std::size_t size;
    const char* named;       // the piece the error names
  };
  const Case cases[] = {
      {"missing middle piece", {"d.001", "d.002", "d.004"}, "", 0, "d.003"},
      {"short middle piece", {"d.001", "d.002", "d.003"}, "d.002", 699, "d.002"},
      {"long last piece", {"d.aa", "d.ab", "d.ac"}, "d.ac", 701, "d.ac"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    writeSeries(dir.path(), c.files, 700 * c.files.size());
    if (*c.resize) fs::resize_file(dir / c.resize, c.size);
    auto found = discoverSplitImage(dir / c.files.front());
    ASSERT_FALSE(found);
    EXPECT_TRUE(found.error().message.starts_with((dir / c.named).string() + ": ")) << found.error().message;
  }
}

}  // namespace
}  // namespace dravolin
