#include "disk/image_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "disk/sector_reader.h"
#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;

// Writes a piece whose sectors hold their absolute sector number in their first 8 bytes.
void writePiece(const fs::path& path, SectorNumber firstSector, std::uint64_t sectors) {
  std::string bytes(sectors * kSectorSize, '\0');
  for (std::uint64_t s = 0; s < sectors; ++s) {
    SectorNumber n = firstSector + s;
    std::memcpy(bytes.data() + s * kSectorSize, &n, sizeof n);
  }
  test::writeFile(path, bytes);
}

SectorNumber sectorTag(const std::vector<std::byte>& buffer, std::size_t index) {
  SectorNumber n = 0;
  std::memcpy(&n, buffer.data() + index * kSectorSize, sizeof n);
  return n;
}

TEST(ImageSetDiscovery, MatchesPieceNamesWithoutRegardToCase) {
  test::TempDir dir;
  writePiece(dir / "Image0.img", 0, 4);
  writePiece(dir / "IMAGE1.IMG", 4, 2);
  writePiece(dir / "image3.img", 0, 1);  // not contiguous: not part of the set
  auto layout = discoverImageFolder(dir.path());
  ASSERT_TRUE(layout);
  ASSERT_EQ(layout->pieces.size(), 2u);
  EXPECT_EQ(layout->totalBytes, 6 * kSectorSize);
  EXPECT_TRUE(layout->multiFile);
}

TEST(ImageSetDiscovery, EmptyFolderIsAnError) {
  test::TempDir dir;
  auto layout = discoverImageFolder(dir.path());
  ASSERT_FALSE(layout);
  EXPECT_EQ(layout.error().message, "Image path not found. Please specify image path.");
}

TEST(ImageSetDiscovery, PieceSeriesFromTheNameOfPieceZero) {
  test::TempDir dir;
  writePiece(dir / "disk0.img", 0, 3);
  EXPECT_FALSE(discoverPieceSeries(dir / "disk0.img")) << "a lone piece 0 is a single file";
  writePiece(dir / "disk1.img", 3, 3);
  auto series = discoverPieceSeries(dir / "disk0.img");
  ASSERT_TRUE(series);
  EXPECT_EQ(series->pieces.size(), 2u);
  EXPECT_FALSE(discoverPieceSeries(dir / "disk1.img"));
  EXPECT_EQ(imagePieceName("/x/disk.img", 7), fs::path("/x/disk7.img"));
}

TEST(ImageSetSource, AddressesSectorsAcrossPieceBoundaries) {
  test::TempDir dir;
  constexpr std::uint64_t piece = 8;  // a small piece size stands in for 1,331,200
  writePiece(dir / "image0.img", 0, piece);
  writePiece(dir / "image1.img", piece, piece);
  writePiece(dir / "image2.img", 2 * piece, 3);
  auto layout = discoverImageFolder(dir.path());
  ASSERT_TRUE(layout);
  auto set = ImageSetSource::open(*layout, piece);
  ASSERT_TRUE(set);
  EXPECT_EQ((*set)->sectorCount(), 2 * piece + 3);
  struct Case {
    SectorNumber first;
    std::uint32_t count;
  };
  for (Case c : {Case{7, 1}, Case{8, 1}, Case{6, 4}, Case{4, 4}, Case{6, 12}, Case{15, 4}}) {
    std::vector<std::byte> buffer(c.count * kSectorSize);
    ASSERT_EQ((*set)->read(c.first, c.count, buffer), TransferStatus::Ok) << c.first;
    for (std::uint32_t i = 0; i < c.count; ++i) EXPECT_EQ(sectorTag(buffer, i), c.first + i) << c.first << "+" << i;
  }
}

TEST(ImageSetSource, RealPieceSizeBoundary) {
  // Sparse pieces of the real size: the last sector of piece 0 and the first of piece 1.
  test::TempDir dir;
  fs::path p0 = dir / "image0.img", p1 = dir / "image1.img";
  { std::ofstream(p0, std::ios::binary); }
  fs::resize_file(p0, kImagePieceBytes);
  writePiece(p1, kImagePieceSectors, 2);
  {
    std::fstream f(p0, std::ios::in | std::ios::out | std::ios::binary);
    SectorNumber last = kImagePieceSectors - 1;
    f.seekp(static_cast<std::streamoff>(last * kSectorSize));
    f.write(reinterpret_cast<const char*>(&last), sizeof last);
  }
  auto layout = discoverImageFolder(dir.path());
  ASSERT_TRUE(layout);
  auto set = ImageSetSource::open(*layout);
  ASSERT_TRUE(set);
  SectorReader reader(**set);
  std::vector<std::byte> buffer(4 * kSectorSize);
  // 1,331,198 .. 1,331,201: two sectors from each piece.
  EXPECT_EQ(reader.ReadSector(kImagePieceSectors - 2, 4, buffer), 1);
  EXPECT_EQ(sectorTag(buffer, 1), kImagePieceSectors - 1);
  EXPECT_EQ(sectorTag(buffer, 2), kImagePieceSectors);
  EXPECT_EQ(sectorTag(buffer, 3), kImagePieceSectors + 1);
}

TEST(ImageSetSource, OneLargeFileIsAddressedAsASingleImage) {
  test::TempDir dir;
  fs::path p0 = dir / "Image0.img";
  { std::ofstream(p0, std::ios::binary); }
  fs::resize_file(p0, kImagePieceBytes + 4 * kSectorSize);
  auto layout = discoverImageFolder(dir.path());
  ASSERT_TRUE(layout);
  EXPECT_FALSE(layout->multiFile);
  auto set = ImageSetSource::open(*layout);
  ASSERT_TRUE(set);
  EXPECT_EQ((*set)->sectorCount(), kImagePieceSectors + 4);
  std::vector<std::byte> buffer(kSectorSize);
  EXPECT_EQ((*set)->read(kImagePieceSectors + 3, 1, buffer), TransferStatus::Ok);
}

}  // namespace
}  // namespace dravolin
