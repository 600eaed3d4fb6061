#pragma once
// Split raw images: one disk cut into numbered pieces by `split` or an
// acquisition tool ("card.dd.001", "card.dd.002", ...; "card.dd.000", ...;
// "card.dd.aa", "card.dd.ab", ...; "cardaa", "cardab", ...). Every piece
// but the last has the size of the first; the pieces joined are the disk.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "disk/sector_source.h"

namespace dravolin {

// The pieces of a split series in order with their common piece size (that
// of the first) and the total.
struct SplitImageLayout {
  std::vector<std::filesystem::path> pieces;
  std::uint64_t pieceBytes = 0;
  std::uint64_t totalBytes = 0;
};

// For a file whose name is the first piece of a series (".001" or ".000",
// ".aa", or a name ending in "aa" whose "ab" piece exists): the series.
// nullopt when the name is no first piece (then it is a plain image file).
// An error names the piece when the series has a gap (a later piece exists
// past a missing one) or a piece before the last is shorter or longer than
// the first.
Result<std::optional<SplitImageLayout>> discoverSplitImage(const std::filesystem::path& firstPiece);

class SplitImageSource final : public SectorSource {
 public:
  static Result<std::unique_ptr<SplitImageSource>> open(const SplitImageLayout& layout);
  ~SplitImageSource() override;

  std::uint64_t sizeInBytes() const override { return layout_.totalBytes; }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override;
  bool isImage() const override { return true; }
  std::string description() const override { return layout_.pieces.front().string(); }
  const SplitImageLayout& layout() const { return layout_; }

 private:
  SplitImageSource() = default;
  SplitImageLayout layout_;
  std::vector<int> descriptors_;
};

}  // namespace dravolin
