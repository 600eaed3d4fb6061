#include "disk/split_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>

namespace dravolin {
namespace fs = std::filesystem;

namespace {

// The largest number of pieces looked for; far above what any tool writes.
constexpr std::uint64_t kMaxPieces = 1'000'000;

// How the pieces of one series are named.
struct SplitNaming {
  std::string stem;        // the path up to the suffix
  bool digits = false;     // ".001": numbers; "aa": letters
  std::size_t width = 0;   // suffix width of the first piece
  std::uint64_t firstIndex = 0;

  // Name of the piece with index n (counted from 0 for ".000", "aa").
  // Numbers grow past their width (".999", ".1000"); letters follow split's
  // own widening when the fixed width runs out ("yz", "zaaa", ...).
  std::vector<std::string> candidates(std::uint64_t n) const {
    if (digits) {
      std::string number = std::to_string(n);
      if (number.size() < width) number.insert(0, width - number.size(), '0');
      return {stem + number};
    }
    std::vector<std::string> out;
    if (auto fixed = letters(n, width, true)) out.push_back(stem + *fixed);
    // split without -a widens: after the suffixes that do not begin with
    // 'z' come "z" + one letter more, and so on.
    std::string prefix;
    std::size_t w = width;
    std::uint64_t index = n;
    for (int round = 0; round < 8; ++round) {
      const std::uint64_t below = capacity(w) / 26 * 25;  // suffixes not beginning with 'z'
      if (index < below) {
        if (round > 0) out.push_back(stem + prefix + *letters(index, w, false));
        break;
      }
      index -= below;
      prefix += 'z';
      ++w;
    }
    return out;
  }

  static std::uint64_t capacity(std::size_t w) {
    std::uint64_t c = 1;
    for (std::size_t i = 0; i < w && c < kMaxPieces * 26; ++i) c *= 26;
    return c;
  }
  static std::optional<std::string> letters(std::uint64_t n, std::size_t w, bool fixedOnly) {
    if (fixedOnly && n >= capacity(w)) return std::nullopt;
    std::string s(w, 'a');
    for (std::size_t i = w; i-- > 0;) {
      s[i] = static_cast<char>('a' + n % 26);
      n /= 26;
    }
    return s;
  }
};

bool allOf(const std::string& s, char c) { return !s.empty() && std::all_of(s.begin(), s.end(), [&](char x) { return x == c; }); }

std::optional<SplitNaming> namingOf(const fs::path& path) {
  const std::string full = path.string();
  const std::string name = path.filename().string();
  const auto dot = name.rfind('.');
  SplitNaming naming;
  if (dot != std::string::npos && dot > 0) {
    const std::string suffix = name.substr(dot + 1);
    const std::string stem = full.substr(0, full.size() - suffix.size());
    const bool numeric = suffix.size() >= 2 && std::all_of(suffix.begin(), suffix.end(), [](unsigned char c) { return std::isdigit(c); });
    if (numeric) {
      const std::string head = suffix.substr(0, suffix.size() - 1);
      if (!allOf(head, '0') || (suffix.back() != '0' && suffix.back() != '1')) return std::nullopt;
      naming.stem = stem;
      naming.digits = true;
      naming.width = suffix.size();
      naming.firstIndex = suffix.back() == '1' ? 1 : 0;
      // ".001" after a ".000" that exists is the second piece, not the first.
      std::error_code ec;
      if (naming.firstIndex == 1 && fs::is_regular_file(stem + std::string(suffix.size(), '0'), ec)) return std::nullopt;
      return naming;
    }
    if (suffix.size() >= 2 && allOf(suffix, 'a')) {
      naming.stem = stem;
      naming.width = suffix.size();
      return naming;
    }
  }
  // "NAMEaa": a series only when its "ab" piece is there, so that a file
  // that merely ends in "aa" stays a file of its own.
  if (name.size() > 2 && name.ends_with("aa")) {
    naming.stem = full.substr(0, full.size() - 2);
    naming.width = 2;
    std::error_code ec;
    if (!fs::is_regular_file(naming.stem + "ab", ec)) return std::nullopt;
    return naming;
  }
  return std::nullopt;
}

std::uint64_t sizeOf(const fs::path& p, std::error_code& ec) { return fs::file_size(p, ec); }

}  // namespace

Result<std::optional<SplitImageLayout>> discoverSplitImage(const fs::path& firstPiece) {
  const auto naming = namingOf(firstPiece);
  if (!naming) return std::optional<SplitImageLayout>{};
  SplitImageLayout layout;
  std::error_code ec;
  std::uint64_t n = naming->firstIndex;
  std::string missing;
  for (; n < naming->firstIndex + kMaxPieces; ++n) {
    std::string found;
    for (const auto& candidate : naming->candidates(n))
      if (fs::is_regular_file(candidate, ec)) {
        found = candidate;
        break;
      }
    if (found.empty()) {
      const auto names = naming->candidates(n);
      missing = names.empty() ? std::string() : names.front();
      break;
    }
    layout.pieces.emplace_back(found);
  }
  if (layout.pieces.empty()) return std::optional<SplitImageLayout>{};
  // A gap: any piece past the first missing one means the series lost a
  // piece in the middle; reading on would give a short disk.
  for (std::uint64_t later = n + 1; later < n + 64; ++later)
    for (const auto& candidate : naming->candidates(later))
      if (fs::is_regular_file(candidate, ec))
        return makeError(ErrorKind::Corrupt, missing + ": piece missing from the split image (" +
                                                  fs::path(candidate).filename().string() + " follows it)");
  layout.pieceBytes = sizeOf(layout.pieces.front(), ec);
  if (ec) return makeError(ErrorKind::Io, layout.pieces.front().string() + ": " + ec.message());
  if (layout.pieceBytes == 0 && layout.pieces.size() > 1)
    return makeError(ErrorKind::Corrupt, layout.pieces.front().string() + ": empty first piece of a split image");
  for (std::size_t i = 0; i < layout.pieces.size(); ++i) {
    const std::uint64_t bytes = sizeOf(layout.pieces[i], ec);
    if (ec) return makeError(ErrorKind::Io, layout.pieces[i].string() + ": " + ec.message());
    const bool last = i + 1 == layout.pieces.size();
    if ((!last && bytes != layout.pieceBytes) || (last && bytes > layout.pieceBytes))
      return makeError(ErrorKind::Corrupt,
                       layout.pieces[i].string() + ": piece of the split image has " + std::to_string(bytes) +
                           " bytes where every piece before the last has " + std::to_string(layout.pieceBytes) +
                           " (as " + layout.pieces.front().filename().string() + ")");
    layout.totalBytes += bytes;
  }
  return std::optional<SplitImageLayout>{std::move(layout)};
}

Result<std::unique_ptr<SplitImageSource>> SplitImageSource::open(const SplitImageLayout& layout) {
  if (layout.pieces.empty() || (layout.pieceBytes == 0 && layout.totalBytes != 0))
    return makeError(ErrorKind::InvalidArgument, "empty split image");
  std::unique_ptr<SplitImageSource> source(new SplitImageSource());
  source->layout_ = layout;
  for (const auto& piece : layout.pieces) {
    const int fd = ::open(piece.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return makeError(ErrorKind::Io, piece.string() + ": " + std::strerror(errno));
    source->descriptors_.push_back(fd);
  }
  return source;
}

SplitImageSource::~SplitImageSource() {
  for (int fd : descriptors_) ::close(fd);
}

TransferStatus SplitImageSource::read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (out.size() < bytes) return TransferStatus::IoError;
  if (first >= sectorCount()) return TransferStatus::PastEnd;
  std::uint64_t offset = first * kSectorSize;
  std::uint64_t done = 0;
  while (done < bytes) {
    if (offset >= layout_.totalBytes) {  // past the end of the last piece: zeros
      std::memset(out.data() + done, 0, bytes - done);
      break;
    }
    const auto piece = static_cast<std::size_t>(offset / layout_.pieceBytes);
    const std::uint64_t inPiece = offset % layout_.pieceBytes;
    const std::uint64_t want = std::min(bytes - done, layout_.pieceBytes - inPiece);
    const ssize_t got = ::pread(descriptors_[piece], out.data() + done, want, static_cast<off_t>(inPiece));
    if (got < 0) {
      if (errno == EINTR) continue;
      return TransferStatus::IoError;
    }
    if (got == 0) {  // a piece shorter than when it was opened
      std::memset(out.data() + done, 0, want);
      done += want;
      offset += want;
      continue;
    }
    done += static_cast<std::uint64_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return TransferStatus::Ok;
}

}  // namespace dravolin
