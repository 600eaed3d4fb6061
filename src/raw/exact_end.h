#pragma once
// Where a carved file ends by its own format: the walk of its markers,
// chunks, records or tags from the header on gives the byte after its last
// byte. A header that does not parse as its format is no file of that type.
// Pure parsers over CandidateBytes, which fetches the bytes on demand (from
// memory, or through the carver's reads), so only candidates are parsed.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/byte_reader.h"

namespace dravolin {

// The format rule of a table row ("None": the row's sector rule only).
enum class EndRule : std::uint8_t {
  None, Jpeg, Png, Bmp, RiffAvi, RiffCdr, Zip, Pdf, Html, Xml, Rtf,
  // The modern types.
  Gif, Wav, Webp, Mp4, Mov, ThreeGp, M4a, Heic, Avif, Matroska, Webm, Mp3, Flac, Ogg, SevenZip, Gzip, Xz, Sqlite,
  Docx, Xlsx, Pptx, Odt, Ods, Odp, Epub, Tiff, Dng, Cr2, Nef, Arw,
  // More of the table's rows.
  Psd, Compound,
};

enum class EndOutcome {
  NotThisFormat,  // the header does not parse: no file of this type starts here
  Found,          // the file ends after length bytes
  Partial,        // the format stopped parsing after length bytes: saved as partial
  Unknown,        // the end lies past what could be looked at: the sector rule decides
};

struct ExactEnd {
  EndOutcome outcome = EndOutcome::Unknown;
  std::uint64_t length = 0;  // bytes from the header on (Found, Partial)
  // The sub-type a compound document's directory names ("DOC", "XLS",
  // "PPT", "PMD"), else empty.
  std::string_view subType{};
  bool operator==(const ExactEnd&) const = default;
};

// The bytes of a candidate from its header on.
class CandidateBytes {
 public:
  // Fills out (a whole number of sectors at a sector-aligned offset, less
  // at the end) and returns how many bytes it filled.
  using Fetch = std::function<std::size_t(std::uint64_t offset, std::span<std::byte> out)>;
  // Whether a sector's bytes start with a header of a selected type.
  using HeaderAt = std::function<bool(ByteSpan sector)>;

  CandidateBytes(std::uint64_t size, Fetch fetch, HeaderAt headerAt = {});
  explicit CandidateBytes(ByteSpan bytes, HeaderAt headerAt = {});

  // Bytes that may be looked at.
  std::uint64_t size() const { return size_; }
  // The n bytes at offset (n at most kMostAtOnce), or an empty span when
  // they are not all there.
  ByteSpan at(std::uint64_t offset, std::size_t n);
  // As many bytes as are there from offset, up to n (at most kMostAtOnce).
  ByteSpan upTo(std::uint64_t offset, std::size_t n);
  std::optional<std::uint8_t> u8(std::uint64_t offset);
  std::optional<std::uint16_t> u16be(std::uint64_t offset);
  std::optional<std::uint32_t> u32be(std::uint64_t offset);
  std::optional<std::uint16_t> u16le(std::uint64_t offset);
  std::optional<std::uint32_t> u32le(std::uint64_t offset);
  std::optional<std::uint64_t> u64le(std::uint64_t offset);
  // The first offset in [from, end) at which the pattern starts, whole
  // before end.
  std::optional<std::uint64_t> find(std::uint64_t from, std::uint64_t end, std::span<const std::byte> pattern);
  // Whether a header of a selected type starts the sector at this index
  // (counted from the candidate's header sector).
  bool headerAt(std::uint64_t sector);
  // Changes whenever spans handed out before may have become invalid.
  std::uint64_t generation() const { return generation_; }

  static constexpr std::size_t kMostAtOnce = 64 * 1024;

 private:
  std::uint64_t size_ = 0;
  ByteSpan whole_;  // everything in memory, or empty
  Fetch fetch_;
  HeaderAt headerAt_;
  std::vector<std::byte> buffer_;
  std::uint64_t bufferStart_ = 0;
  std::size_t bufferLength_ = 0;
  std::uint64_t generation_ = 0;
};

// The end of the candidate by its format, looking at most at limit bytes.
ExactEnd findExactEnd(EndRule rule, CandidateBytes& bytes, std::uint64_t limit);

}  // namespace dravolin
