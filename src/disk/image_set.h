#pragma once
// Image sets: one image file ("Image0.img") or numbered pieces of
// 1,331,200 sectors each ("image0.img", "image1.img", ...), the last one
// possibly shorter. Sector s lives in piece s / 1,331,200.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "disk/file_source.h"

namespace dravolin {

inline constexpr std::uint64_t kImagePieceSectors = 1331200;                      // 650 MiB
inline constexpr std::uint64_t kImagePieceBytes = kImagePieceSectors * kSectorSize;  // 681,574,400

// What discovery found: the files of the set in order, their total size and
// whether they are addressed as pieces.
struct ImageSetLayout {
  std::vector<std::filesystem::path> pieces;
  std::uint64_t totalBytes = 0;
  bool multiFile = true;
};

// Finds the pieces "image" + n + ".img" in a folder (names matched without
// regard to case, as the set may come from a file system that ignores case).
// The set is addressed as one file only when it is a single file larger than
// one piece. Returns an error when the folder holds no piece 0.
Result<ImageSetLayout> discoverImageFolder(const std::filesystem::path& folder);

// For a file named <stem>0.img (as the imaging writes its pieces): the set
// <stem>0.img, <stem>1.img, ... when <stem>1.img exists; otherwise nullopt.
std::optional<ImageSetLayout> discoverPieceSeries(const std::filesystem::path& pieceZero);

// Whether a file name ends in an extension of its own: a dot, not the
// first character, followed by one to four letters or digits ("sdb.dd",
// "disk.img"; not "backup", ".hidden" or "my.backup").
bool hasOwnExtension(const std::filesystem::path& name);

// Name of piece n for a destination path, in the destination's folder: its
// name without its extension (when it has one of its own), then n, then
// ".img" ("D:/x/disk.img" -> "D:/x/disk0.img", "D:/x/backup" ->
// "D:/x/backup0.img").
std::filesystem::path imagePieceName(const std::filesystem::path& destination, std::uint64_t n);

class ImageSetSource final : public SectorSource {
 public:
  // pieceSectors is the piece size; only tests use a smaller one.
  static Result<std::unique_ptr<ImageSetSource>> open(const ImageSetLayout& layout,
                                                      std::uint64_t pieceSectors = kImagePieceSectors);

  std::uint64_t sizeInBytes() const override { return totalBytes_; }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override;
  bool isImage() const override { return true; }
  bool failsBySector() const override { return !layout_.multiFile; }
  // In place when the sectors lie in one piece that is present.
  std::unique_ptr<MappedSectors> map(SectorNumber first, std::uint32_t count) override;
  bool mapsInPlace() const override { return true; }
  std::string description() const override { return firstPath_; }
  // Found in the first piece (see disk/logical_sector_size.h).
  std::uint32_t logicalSectorSize() const override { return logicalSectorSize_; }
  void setLogicalSectorSize(std::uint32_t bytes) override {
    if (isSupportedLogicalSectorSize(bytes)) logicalSectorSize_ = bytes;
  }
  const ImageSetLayout& layout() const { return layout_; }

 private:
  ImageSetSource() = default;
  TransferStatus readPiece(std::size_t piece, SectorNumber inPiece, std::uint32_t count,
                           std::span<std::byte> out);
  ImageSetLayout layout_;
  std::vector<std::unique_ptr<FileSectorSource>> files_;  // null where a piece is missing
  std::uint64_t pieceSectors_ = kImagePieceSectors;
  std::uint64_t totalBytes_ = 0;
  std::string firstPath_;
  std::uint32_t logicalSectorSize_ = kDefaultLogicalSectorSize;
};

}  // namespace dravolin
