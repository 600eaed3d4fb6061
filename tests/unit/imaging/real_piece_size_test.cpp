// The real piece size of 650 MiB (1,331,200 sectors) on sparse sources: a
// source of one sector more than a piece gives a second piece of 512 bytes,
// a source of exactly one piece gives one piece, and re-imaging into the
// same name with fewer pieces removes only the stale next piece.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "disk/file_source.h"
#include "imaging/image_creation.h"
#include "imaging_test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;

// A sparse file of the given size with the pattern of its sector number
// written into a few marked sectors.
void makeSparseSource(const fs::path& path, std::uint64_t sectors, const std::vector<std::uint64_t>& marked) {
  { std::ofstream create(path, std::ios::binary); }
  fs::resize_file(path, sectors * kSectorSize);
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  std::vector<std::byte> sector(kSectorSize);
  for (auto s : marked) {
    test::fillSector(sector.data(), s);
    file.seekp(static_cast<std::streamoff>(s * kSectorSize));
    file.write(reinterpret_cast<const char*>(sector.data()), kSectorSize);
  }
}

std::string sectorAt(const fs::path& path, std::uint64_t sector) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(sector * kSectorSize));
  std::string bytes(kSectorSize, '\0');
  in.read(bytes.data(), kSectorSize);
  return in ? bytes : std::string();
}

std::string patternOf(std::uint64_t sector) { return test::asString(test::patternBytes(sector, 1)); }

std::unique_ptr<ImagingResult> imageWhole(const fs::path& sourcePath, const fs::path& destination, LogFile& log) {
  auto source = FileSectorSource::open(sourcePath.string(), OpenMode::ReadOnly, true);
  if (!source) throw std::runtime_error(source.error().message);
  SectorReader reader(**source);
  reader.setSelectionEnd(static_cast<std::int64_t>((*source)->sectorCount()));
  ImagingRequest request;
  request.source = &reader;
  request.end = (*source)->sectorCount();
  request.settings.ImageDestination = destination;
  request.settings.MultiFileImage = true;
  request.settings.overwrite = true;  // each copy replaces the image of the one before
  request.activityLog = &log;
  test::RecordingJob job;
  auto result = std::make_unique<ImagingResult>();
  EXPECT_TRUE(runImageCreation(job, request, *result));
  return result;
}

TEST(RealPieceSize, OneSectorMoreThanAPieceThenExactlyOnePiece) {
  test::TempDir dir;
  LogFile log(LogKind::Activity, dir.path());
  const fs::path destination = dir / "Image.img";
  // Left from an older image of four pieces.
  test::writeFile(dir / "Image2.img", "stale piece 2");
  test::writeFile(dir / "Image3.img", "stale piece 3");

  const std::uint64_t piece = kImagePieceSectors;
  makeSparseSource(dir / "plus-one.raw", piece + 1, {0, piece - 1, piece});
  auto two = imageWhole(dir / "plus-one.raw", destination, log);
  ASSERT_TRUE(two->completed);
  ASSERT_EQ(two->pieces.size(), 2u);
  EXPECT_EQ(fs::file_size(dir / "Image0.img"), 681574400u);
  EXPECT_EQ(fs::file_size(dir / "Image1.img"), 512u);
  EXPECT_EQ(sectorAt(dir / "Image0.img", 0), patternOf(0));
  EXPECT_EQ(sectorAt(dir / "Image0.img", piece - 1), patternOf(piece - 1));
  EXPECT_EQ(sectorAt(dir / "Image1.img", 0), patternOf(piece));
  EXPECT_FALSE(fs::exists(dir / "Image2.img")) << "the stale next piece goes";
  EXPECT_TRUE(fs::exists(dir / "Image3.img")) << "only the next piece is removed";
  fs::remove(dir / "plus-one.raw");

  makeSparseSource(dir / "exact.raw", piece, {0, piece - 1});
  auto one = imageWhole(dir / "exact.raw", destination, log);
  ASSERT_TRUE(one->completed);
  ASSERT_EQ(one->pieces.size(), 1u) << "no empty second piece";
  EXPECT_EQ(fs::file_size(dir / "Image0.img"), 681574400u);
  EXPECT_EQ(sectorAt(dir / "Image0.img", piece - 1), patternOf(piece - 1));
  EXPECT_FALSE(fs::exists(dir / "Image1.img")) << "the stale next piece goes";
  EXPECT_TRUE(fs::exists(dir / "Image3.img")) << "pieces after the next one stay";
}

}  // namespace
}  // namespace dravolin
