#include "disk/image_set.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "disk/logical_sector_size.h"

namespace dravolin {
namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::uint64_t fileSize(const fs::path& p) {
  std::error_code ec;
  auto size = fs::file_size(p, ec);
  return ec ? 0 : size;
}

}  // namespace

Result<ImageSetLayout> discoverImageFolder(const fs::path& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec))
    return makeError(ErrorKind::NotFound, folder.string() + ": not a folder");
  // Index the folder once by lower-case name.
  std::map<std::string, fs::path> byName;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.is_regular_file(ec)) byName.emplace(lower(entry.path().filename().string()), entry.path());
  }
  ImageSetLayout layout;
  for (std::uint64_t n = 0;; ++n) {
    auto it = byName.find("image" + std::to_string(n) + ".img");
    if (it == byName.end()) break;
    layout.pieces.push_back(it->second);
    layout.totalBytes += fileSize(it->second);
  }
  if (layout.pieces.empty())
    return makeError(ErrorKind::NotFound,
                     "Image path not found. Please specify image path.");
  layout.multiFile = !(layout.totalBytes > kImagePieceBytes && layout.pieces.size() == 1);
  return layout;
}

bool hasOwnExtension(const fs::path& name) {
  const std::string file = name.filename().string();
  const auto dot = file.rfind('.');
  // A leading dot starts a hidden name, not an extension.
  if (dot == std::string::npos || dot == 0 || dot + 1 == file.size() || file.size() - dot - 1 > 4) return false;
  return std::all_of(file.begin() + static_cast<std::ptrdiff_t>(dot) + 1, file.end(),
                     [](unsigned char c) { return std::isalnum(c) != 0; });
}

fs::path imagePieceName(const fs::path& destination, std::uint64_t n) {
  const fs::path file = destination.filename();
  std::string stem = file.string();
  if (hasOwnExtension(file)) stem.resize(stem.rfind('.'));
  // Always inside the destination's own folder.
  return destination.parent_path() / (stem + std::to_string(n) + ".img");
}

std::optional<ImageSetLayout> discoverPieceSeries(const fs::path& pieceZero) {
  std::string name = pieceZero.filename().string();
  if (name.size() < 5 || lower(name.substr(name.size() - 5)) != "0.img") return std::nullopt;
  std::string stem = pieceZero.string();
  stem.resize(stem.size() - 5);
  std::string extension = name.substr(name.size() - 4);  // keep the case as written
  auto piece = [&](std::uint64_t n) { return fs::path(stem + std::to_string(n) + extension); };
  std::error_code ec;
  if (!fs::is_regular_file(piece(1), ec)) return std::nullopt;
  ImageSetLayout layout;
  for (std::uint64_t n = 0; fs::is_regular_file(piece(n), ec); ++n) {
    layout.pieces.push_back(piece(n));
    layout.totalBytes += fileSize(piece(n));
  }
  layout.multiFile = true;
  return layout;
}

Result<std::unique_ptr<ImageSetSource>> ImageSetSource::open(const ImageSetLayout& layout,
                                                             std::uint64_t pieceSectors) {
  if (layout.pieces.empty() || pieceSectors == 0)
    return makeError(ErrorKind::InvalidArgument, "empty image set");
  std::unique_ptr<ImageSetSource> set(new ImageSetSource());
  set->layout_ = layout;
  set->pieceSectors_ = pieceSectors;
  set->firstPath_ = layout.pieces.front().string();
  for (const auto& path : layout.pieces) {
    auto file = FileSectorSource::open(path.string(), OpenMode::ReadOnly, true);
    if (!file) return std::unexpected(file.error());
    set->files_.push_back(std::move(*file));
  }
  // The size of a set is the sum of its pieces (a set the imaging wrote has
  // full pieces but the last, so this is also where its last sector ends).
  set->totalBytes_ = 0;
  for (const auto& file : set->files_) set->totalBytes_ += file->sizeInBytes();
  // Across the pieces: a partition of the table may start in a later one.
  set->logicalSectorSize_ = detectLogicalSectorSize(*set);
  return set;
}

TransferStatus ImageSetSource::readPiece(std::size_t piece, SectorNumber inPiece,
                                         std::uint32_t count, std::span<std::byte> out) {
  if (piece >= files_.size()) return TransferStatus::PastEnd;  // beyond the last piece
  return files_[piece]->read(inPiece, count, out);
}

std::unique_ptr<MappedSectors> ImageSetSource::map(SectorNumber first, std::uint32_t count) {
  if (!layout_.multiFile) return files_.front() ? files_.front()->map(first, count) : nullptr;
  const auto piece = static_cast<std::size_t>(first / pieceSectors_);
  const SectorNumber inPiece = first % pieceSectors_;
  if (piece >= files_.size() || !files_[piece] || count > pieceSectors_ - inPiece) return nullptr;
  return files_[piece]->map(inPiece, count);
}

TransferStatus ImageSetSource::read(SectorNumber first, std::uint32_t count,
                                    std::span<std::byte> out) {
  if (out.size() < std::uint64_t{count} * kSectorSize) return TransferStatus::IoError;
  if (!layout_.multiFile) return files_.front()->read(first, count, out);
  // Split at piece boundaries; the result is that of the last piece read.
  TransferStatus status = TransferStatus::Ok;
  std::uint64_t done = 0;
  bool firstPart = true;
  while (done < count) {
    SectorNumber sector = first + done;
    std::size_t piece = static_cast<std::size_t>(sector / pieceSectors_);
    SectorNumber inPiece = sector % pieceSectors_;
    auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count - done, pieceSectors_ - inPiece));
    auto part = out.subspan(done * kSectorSize, std::uint64_t{n} * kSectorSize);
    status = readPiece(piece, inPiece, n, part);
    if (status != TransferStatus::Ok) {
      std::memset(part.data(), 0, part.size());
      // A later piece that is missing is skipped silently; its sectors are zeros.
      if (!firstPart && (status == TransferStatus::Missing || status == TransferStatus::PastEnd)) status = TransferStatus::Ok;
      else if (firstPart) return status;
    }
    firstPart = false;
    done += n;
  }
  return status;
}

}  // namespace dravolin
