#pragma once
// The files of an image, all in the destination's folder: piece n is the
// destination's name without its extension, then n, then ".img"
// (imagePieceName). Without splitting there is one piece, numbered 0, or,
// when asked to keep the name, the destination itself; with splitting every
// piece but the last holds exactly the piece size, so a shorter last piece
// marks the end of the set.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "common/error.h"

namespace dravolin {

class ImagePieceWriter {
 public:
  // overwrite: an existing piece is replaced; otherwise a piece whose name
  // is taken is refused.
  // keepName: the single image is the destination itself. resume: pieces
  // are opened as they are (made when missing), never truncated, so a
  // rescue that continues writes into the image it began.
  ImagePieceWriter(std::filesystem::path destination, bool overwrite, bool keepName = false, bool resume = false)
      : destination_(std::move(destination)), overwrite_(overwrite), keepName_(keepName), resume_(resume) {}
  ~ImagePieceWriter();
  ImagePieceWriter(const ImagePieceWriter&) = delete;
  ImagePieceWriter& operator=(const ImagePieceWriter&) = delete;

  // Closes the open piece and creates the next one (piece 0 first). With
  // overwrite an existing file of that name is made writable again and
  // truncated; without it the piece is created as a new file, and a name
  // that is taken (by an earlier image, or one another run is writing) is
  // an error that names the file.
  Result<void> createNext();
  bool isOpen() const { return fd_ >= 0; }
  // Writes whole sectors at a sector offset inside the open piece.
  Result<void> write(std::uint64_t sectorInPiece, std::span<const std::byte> data);
  // Closes the open piece; an error of the file system at close is reported.
  Result<void> close();

  std::uint64_t pieceCount() const { return pieces_.size(); }
  const std::vector<std::filesystem::path>& pieces() const { return pieces_; }
  const std::filesystem::path& destination() const { return destination_; }

 private:
  std::filesystem::path destination_;
  bool overwrite_ = false;
  bool keepName_ = false;
  bool resume_ = false;
  std::vector<std::filesystem::path> pieces_;
  int fd_ = -1;
};

// The file of piece n: imagePieceName, or with keepName (a single image
// whose name has an extension of its own) the destination itself.
std::filesystem::path imageFileName(const std::filesystem::path& destination, std::uint64_t n, bool keepName);

// Removes piece n of a destination when a file of that name exists (left
// from an earlier, longer image). True when a file was removed.
bool removeStalePiece(const std::filesystem::path& destination, std::uint64_t n);

// Number of pieces an image of the given size is cut into.
std::uint64_t piecesNeeded(std::uint64_t sectors, bool multiFile, std::uint64_t pieceSectors);

}  // namespace dravolin
