#include "raw/exact_end.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "raw/file_end.h"
#include "raw/modern_end.h"

namespace dravolin {
namespace {

using namespace std::string_view_literals;

// Bytes read ahead at once: a few of the scan's transfers' worth of sectors.
constexpr std::size_t kBufferBytes = 1024 * 1024;

std::span<const std::byte> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

ExactEnd notThis() { return {EndOutcome::NotThisFormat, 0}; }
ExactEnd found(std::uint64_t length) { return {EndOutcome::Found, length}; }
ExactEnd partial(std::uint64_t length) { return {EndOutcome::Partial, length}; }
ExactEnd unknown() { return {EndOutcome::Unknown, 0}; }

bool textAt(CandidateBytes& bytes, std::uint64_t offset, std::string_view text) {
  ByteSpan got = bytes.at(offset, text.size());
  return !got.empty() && std::memcmp(got.data(), text.data(), text.size()) == 0;
}

// A file found by a size of its own that reaches past what can be read is
// kept as far as it can be read.
ExactEnd bySize(std::uint64_t length, std::uint64_t limit) {
  return length <= limit ? found(length) : partial(limit);
}

// ---- JPEG: markers from SOI to EOI; segments skipped by their length (so
// an Exif thumbnail's own EOI inside APP1 is passed over), the entropy-coded
// data after each SOS passed up to the next marker.

bool isFrameMarker(std::uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }
bool isSegmentMarker(std::uint8_t m) { return (m >= 0xC0 && m <= 0xCF) || (m >= 0xDA && m <= 0xDF) || m >= 0xE0; }

ExactEnd jpegEnd(CandidateBytes& bytes, std::uint64_t limit) {
  if (bytes.u8(0) != 0xFF || bytes.u8(1) != 0xD8) return notThis();
  std::uint64_t pos = 2;
  bool frame = false, scan = false;
  // Damage after the first scan began leaves a partial picture; before it,
  // the header was not a JPEG.
  auto broken = [&](std::uint64_t at) { return scan ? partial(at) : notThis(); };
  static constexpr std::byte kFF[] = {std::byte{0xFF}};
  while (pos < limit) {
    const std::uint64_t markerStart = pos;
    auto lead = bytes.u8(pos);
    if (!lead) return unknown();
    if (*lead != 0xFF) return broken(markerStart);
    // Fill bytes before a marker.
    std::uint64_t at = pos + 1;
    while (bytes.u8(at) == 0xFF && at - pos < 64) ++at;
    auto marker = bytes.u8(at);
    if (!marker) return unknown();
    pos = at + 1;
    if (*marker == 0xD9) return scan && frame ? found(pos) : notThis();
    if ((*marker >= 0xD0 && *marker <= 0xD7) || *marker == 0x01) {
      if (!scan) return notThis();  // restart markers belong to a scan
      continue;
    }
    if (!isSegmentMarker(*marker)) return broken(markerStart);
    auto length = bytes.u16be(pos);
    if (!length) return unknown();
    if (*length < 2) return broken(markerStart);
    if (isFrameMarker(*marker)) {
      if (*length < 8) return broken(markerStart);
      frame = true;
    }
    const std::uint64_t segmentEnd = pos + *length;
    if (*marker != 0xDA) {
      pos = segmentEnd;
      continue;
    }
    if (!frame) return notThis();
    scan = true;
    // The entropy-coded data: FF 00 is a data byte, FF D0..D7 a restart,
    // FF FF fill; any other FF xx is the next marker.
    std::uint64_t p = segmentEnd;
    for (;;) {
      auto ff = bytes.find(p, limit, kFF);
      if (!ff) return unknown();
      auto next = bytes.u8(*ff + 1);
      if (!next) return unknown();
      if (*next == 0x00 || (*next >= 0xD0 && *next <= 0xD7)) {
        p = *ff + 2;
        continue;
      }
      pos = *ff;  // a marker, perhaps after fill bytes
      break;
    }
  }
  return unknown();
}

// ---- PNG: chunks from IHDR to IEND and its CRC.

bool chunkTypeLetters(ByteSpan type) {
  return std::all_of(type.begin(), type.end(), [](std::byte b) {
    const auto c = std::to_integer<unsigned char>(b);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  });
}

ExactEnd pngEnd(CandidateBytes& bytes, std::uint64_t limit) {
  if (!textAt(bytes, 0, "\x89PNG\r\n\x1A\n"sv)) return notThis();
  if (bytes.u32be(8) != 13u || !textAt(bytes, 12, "IHDR"sv)) return notThis();
  std::uint64_t pos = 8;
  while (pos < limit) {
    auto length = bytes.u32be(pos);
    ByteSpan type = bytes.at(pos + 4, 4);
    if (!length || type.empty()) return unknown();
    if (*length > 0x7FFFFFFFu || !chunkTypeLetters(type)) return partial(pos);
    const std::uint64_t next = pos + 12 + *length;
    if (textAt(bytes, pos + 4, "IEND"sv)) return bySize(next, limit);
    pos = next;
  }
  return unknown();
}

// ---- BMP: the file size of the header, when the header parses.

ExactEnd bmpEnd(CandidateBytes& bytes, std::uint64_t limit) {
  constexpr std::uint64_t kFileHeader = 14;
  constexpr std::uint64_t kMostBytes = 0x6400000;
  auto size = bytes.u32le(2);
  auto dataOffset = bytes.u32le(10);
  auto infoSize = bytes.u32le(14);
  if (!textAt(bytes, 0, "BM"sv) || !size || !dataOffset || !infoSize) return notThis();
  static constexpr std::uint32_t kInfoSizes[] = {12, 40, 52, 56, 64, 108, 124};
  if (std::find(std::begin(kInfoSizes), std::end(kInfoSizes), *infoSize) == std::end(kInfoSizes)) return notThis();
  const auto planes = bytes.u16le(*infoSize == 12 ? 22 : 26);
  const auto bits = bytes.u16le(*infoSize == 12 ? 24 : 28);
  static constexpr std::uint16_t kBits[] = {1, 2, 4, 8, 16, 24, 32, 64};
  if (planes != 1 || !bits || std::find(std::begin(kBits), std::end(kBits), *bits) == std::end(kBits)) return notThis();
  if (*size < kFileHeader + *infoSize || *dataOffset < kFileHeader + *infoSize || *dataOffset > *size ||
      *size > kMostBytes)
    return notThis();
  return bySize(*size, limit);
}

// ---- RIFF: the size of the RIFF chunk, for the form types of the row.

ExactEnd riffEnd(CandidateBytes& bytes, std::uint64_t limit, std::uint64_t most,
                 std::initializer_list<std::string_view> forms) {
  auto size = bytes.u32le(4);
  ByteSpan form = bytes.at(8, 4);
  if (!textAt(bytes, 0, "RIFF"sv) || !size || form.empty() || *size < 4) return notThis();
  const bool known = std::any_of(forms.begin(), forms.end(), [&](std::string_view f) {
    return std::memcmp(form.data(), f.data(), f.size()) == 0;
  });
  if (!known) return notThis();
  const std::uint64_t length = 8 + std::uint64_t{*size} + (*size & 1);
  if (length > most) return notThis();
  return bySize(length, limit);
}

// ---- ZIP: local entries, the central directory, the end record and its
// comment. Entries whose sizes follow their data (a data descriptor) are
// passed by looking for an end record that the central directory before
// it agrees with.

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint64_t kEndRecordSize = 22;

bool plausibleLocalHeader(CandidateBytes& bytes, std::uint64_t pos) {
  auto version = bytes.u16le(pos + 4);
  auto method = bytes.u16le(pos + 8);
  auto nameLength = bytes.u16le(pos + 26);
  if (!version || !method || !nameLength) return false;
  static constexpr std::uint16_t kMethods[] = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 12, 14, 18, 19, 93, 95, 96, 97, 98, 99};
  return (*version & 0xFF) <= 100 && std::find(std::begin(kMethods), std::end(kMethods), *method) != std::end(kMethods) &&
         *nameLength >= 1 && *nameLength <= 4096;
}

std::optional<std::uint64_t> endRecordEnd(CandidateBytes& bytes, std::uint64_t at) {
  auto comment = bytes.u16le(at + 20);
  if (!comment) return std::nullopt;
  return at + kEndRecordSize + *comment;
}

ExactEnd zipByEndRecord(CandidateBytes& bytes, std::uint64_t from, std::uint64_t limit) {
  static constexpr std::byte kEnd[] = {std::byte{'P'}, std::byte{'K'}, std::byte{5}, std::byte{6}};
  for (std::uint64_t p = from; p < limit;) {
    auto at = bytes.find(p, limit, kEnd);
    if (!at) return unknown();
    auto cdSize = bytes.u32le(*at + 12);
    auto cdOffset = bytes.u32le(*at + 16);
    if (!cdSize || !cdOffset) return unknown();
    bool agrees = false;
    if (*cdOffset == 0xFFFFFFFFu || *cdSize == 0xFFFFFFFFu) {
      agrees = *at >= 20 && bytes.u32le(*at - 20) == kZip64LocatorSignature;
    } else {
      agrees = std::uint64_t{*cdOffset} + *cdSize == *at &&
               (*cdSize == 0 || bytes.u32le(*cdOffset) == kCentralSignature);
    }
    if (agrees) {
      auto end = endRecordEnd(bytes, *at);
      return end ? bySize(*end, limit) : unknown();
    }
    p = *at + 1;
  }
  return unknown();
}

}  // namespace

ExactEnd zipEnd(CandidateBytes& bytes, std::uint64_t limit) {
  if (bytes.u32le(0) != kLocalSignature || !plausibleLocalHeader(bytes, 0)) return notThis();
  std::uint64_t pos = 0;
  while (pos < limit) {
    auto signature = bytes.u32le(pos);
    if (!signature) return unknown();
    if (*signature == kLocalSignature) {
      if (!plausibleLocalHeader(bytes, pos)) return unknown();
      auto flags = bytes.u16le(pos + 6);
      auto compressed = bytes.u32le(pos + 18);
      auto nameLength = bytes.u16le(pos + 26);
      auto extraLength = bytes.u16le(pos + 28);
      if (!flags || !compressed || !nameLength || !extraLength) return unknown();
      if ((*flags & 0x08) != 0 || *compressed == 0xFFFFFFFFu) return zipByEndRecord(bytes, pos + 30, limit);
      pos += 30 + std::uint64_t{*nameLength} + *extraLength + *compressed;
    } else if (*signature == kCentralSignature) {
      auto nameLength = bytes.u16le(pos + 28);
      auto extraLength = bytes.u16le(pos + 30);
      auto commentLength = bytes.u16le(pos + 32);
      if (!nameLength || !extraLength || !commentLength) return unknown();
      pos += 46 + std::uint64_t{*nameLength} + *extraLength + *commentLength;
    } else if (*signature == kZip64EndSignature) {
      auto size = bytes.u64le(pos + 4);
      if (!size || *size > limit) return unknown();
      pos += 12 + *size;
    } else if (*signature == kZip64LocatorSignature) {
      pos += 20;
    } else if (*signature == kEndSignature) {
      auto end = endRecordEnd(bytes, pos);
      return end ? bySize(*end, limit) : unknown();
    } else {
      // Something else between the entries (a data descriptor of another
      // writer, damage): the end record decides.
      return zipByEndRecord(bytes, pos, limit);
    }
  }
  return unknown();
}

namespace {

// ---- PDF: the last "%%EOF" of the file: one followed by more objects or a
// cross-reference section (a linearized file's first part, an incremental
// update) is not the last.

bool isPdfSpace(std::uint8_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0; }
bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// Whether the bytes from pos go on as PDF body: "N G obj" or "xref".
bool pdfGoesOn(CandidateBytes& bytes, std::uint64_t pos) {
  ByteSpan ahead = bytes.upTo(pos, 64);
  std::size_t i = 0;
  while (i < ahead.size() && isPdfSpace(std::to_integer<std::uint8_t>(ahead[i])) && ahead[i] != std::byte{0}) ++i;
  auto rest = std::string_view(reinterpret_cast<const char*>(ahead.data()) + i, ahead.size() - i);
  if (rest.starts_with("xref")) return true;
  std::size_t j = 0;
  auto digits = [&] {
    const std::size_t from = j;
    while (j < rest.size() && isDigit(static_cast<std::uint8_t>(rest[j]))) ++j;
    return j > from;
  };
  auto spaces = [&] {
    const std::size_t from = j;
    while (j < rest.size() && (rest[j] == ' ' || rest[j] == '\r' || rest[j] == '\n')) ++j;
    return j > from;
  };
  return digits() && spaces() && digits() && spaces() && rest.substr(j).starts_with("obj");
}

ExactEnd pdfEnd(CandidateBytes& bytes, std::uint64_t limit) {
  auto version = bytes.u8(5);
  if (!textAt(bytes, 0, "%PDF-"sv) || !version || !isDigit(*version)) return notThis();
  static constexpr std::string_view kEof = "%%EOF";
  for (std::uint64_t p = 5; p < limit;) {
    auto at = bytes.find(p, limit, bytesOf(kEof));
    if (!at) return unknown();
    std::uint64_t end = *at + kEof.size();
    if (bytes.u8(end) == '\r') ++end;
    if (bytes.u8(end) == '\n') ++end;
    if (!pdfGoesOn(bytes, end)) return found(end);
    p = end;
  }
  return unknown();
}

// ---- Text: HTML to its closing tag, XML to the end of its root element,
// RTF to the brace that closes its group. Text holds no NUL: a NUL, or the
// header of another file at a sector start, ends a page that never closed
// (partial), as far as its text goes.

char lower(std::uint8_t c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); }

// Calls step(offset, byte) for every byte from `from` until step returns
// false (then its offset), a NUL or a sector that starts another file
// (then nothing, and *cut is where the text stops), or the limit.
template <typename Step>
std::optional<std::uint64_t> walkText(CandidateBytes& bytes, std::uint64_t from, std::uint64_t limit,
                                      std::optional<std::uint64_t>& cut, Step step) {
  for (std::uint64_t pos = from; pos < limit;) {
    ByteSpan chunk = bytes.upTo(pos, std::min<std::uint64_t>(CandidateBytes::kMostAtOnce, limit - pos));
    if (chunk.empty()) return std::nullopt;
    // The chunk stays valid while the bytes are not read again elsewhere.
    const std::uint64_t generation = bytes.generation();
    for (std::size_t i = 0; i < chunk.size() && bytes.generation() == generation; ++i, ++pos) {
      if (pos % kSectorSize == 0 && pos > 0 && bytes.headerAt(pos / kSectorSize)) {
        cut = pos;
        return std::nullopt;
      }
      if (bytes.generation() != generation) break;  // read again: the same byte from the new chunk
      const auto c = std::to_integer<std::uint8_t>(chunk[i]);
      if (c == 0) {
        cut = pos;
        return std::nullopt;
      }
      if (!step(pos, c)) return pos;
    }
  }
  return std::nullopt;
}

// The end after a closing mark at `end`: its line break goes with it.
ExactEnd closedAt(CandidateBytes& bytes, std::uint64_t end) {
  if (bytes.u8(end) == '\r') ++end;
  if (bytes.u8(end) == '\n') ++end;
  return found(end);
}

ExactEnd textOutcome(CandidateBytes& bytes, std::optional<std::uint64_t> closedEnd, std::optional<std::uint64_t> cut) {
  if (closedEnd) return closedAt(bytes, *closedEnd);
  if (!cut) return unknown();
  // Zeros and slack after the text do not belong to it.
  std::uint64_t end = *cut;
  while (end > 0) {
    auto c = bytes.u8(end - 1);
    if (!c || (*c != 0 && *c != ' ' && *c != '\r' && *c != '\n' && *c != '\t')) break;
    --end;
  }
  return end > 0 ? partial(end) : notThis();
}

bool lowerTextAt(CandidateBytes& bytes, std::uint64_t offset, std::string_view text) {
  ByteSpan got = bytes.at(offset, text.size());
  if (got.empty()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (lower(std::to_integer<std::uint8_t>(got[i])) != text[i]) return false;
  return true;
}

ExactEnd htmlEnd(CandidateBytes& bytes, std::uint64_t limit) {
  std::optional<std::uint64_t> cut, closed;
  walkText(bytes, 0, limit, cut, [&](std::uint64_t pos, std::uint8_t c) {
    if (c == '<' && lowerTextAt(bytes, pos, "</html>")) {
      closed = pos + 7;
      return false;
    }
    return true;
  });
  return textOutcome(bytes, closed, cut);
}

bool isNameByte(std::uint8_t c) {
  return c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '/' && c != '>' && c != 0;
}

ExactEnd xmlEnd(CandidateBytes& bytes, std::uint64_t limit) {
  if (!textAt(bytes, 0, "<?xml"sv)) return notThis();
  // States: in the prolog (skipping declarations, comments, doctype), then
  // inside the root element counting its name's openings and closings.
  std::string root;
  std::uint64_t depth = 0;
  std::optional<std::uint64_t> skipUntil;  // inside a markup that is passed over
  std::optional<std::uint64_t> cut, closed;
  auto nameAt = [&](std::uint64_t pos) {
    std::string name;
    for (ByteSpan s = bytes.upTo(pos, 256); name.size() < s.size();) {
      const auto c = std::to_integer<std::uint8_t>(s[name.size()]);
      if (!isNameByte(c)) break;
      name += static_cast<char>(c);
    }
    return name;
  };
  auto endsTagAt = [&](std::uint64_t pos) {
    auto c = bytes.u8(pos);
    return c && (*c == '>' || *c == '/' || *c == ' ' || *c == '\t' || *c == '\r' || *c == '\n');
  };
  // Where the markup starting at pos ends ('>'), and whether it closed itself.
  auto tagEnd = [&](std::uint64_t pos) -> std::optional<std::pair<std::uint64_t, bool>> {
    static constexpr std::byte kGt[] = {std::byte{'>'}};
    auto gt = bytes.find(pos, std::min<std::uint64_t>(limit, pos + 65536), kGt);
    if (!gt) return std::nullopt;
    return std::pair{*gt, *gt > pos && bytes.u8(*gt - 1) == '/'};
  };
  walkText(bytes, 5, limit, cut, [&](std::uint64_t pos, std::uint8_t c) {
    if (skipUntil) {
      if (pos < *skipUntil) return true;
      skipUntil.reset();
    }
    if (c != '<') return true;
    if (root.empty()) {
      std::string_view closer;
      if (textAt(bytes, pos, "<?"sv)) closer = "?>";
      else if (textAt(bytes, pos, "<!--"sv)) closer = "-->";
      else if (textAt(bytes, pos, "<!"sv)) closer = ">";
      // What cannot be closed is walked over: the text's own end (a NUL,
      // the next file) then cuts it.
      if (!closer.empty()) {
        auto end = bytes.find(pos + 2, std::min<std::uint64_t>(limit, pos + 1048576), bytesOf(closer));
        if (end) skipUntil = *end + closer.size();
        return true;
      }
      root = nameAt(pos + 1);
      if (root.empty()) return false;
      depth = 1;
      auto tag = tagEnd(pos);
      if (!tag) return true;
      if (tag->second) {
        closed = tag->first + 1;
        return false;
      }
      skipUntil = tag->first + 1;
      return true;
    }
    if (textAt(bytes, pos, "<!--"sv)) {
      auto end = bytes.find(pos + 4, limit, bytesOf("-->"sv));
      if (end) skipUntil = *end + 3;
      return true;
    }
    const bool closing = bytes.u8(pos + 1) == '/';
    const std::uint64_t nameStart = pos + (closing ? 2 : 1);
    if (!textAt(bytes, nameStart, root) || !endsTagAt(nameStart + root.size())) return true;
    auto tag = tagEnd(pos);
    if (!tag) return true;
    skipUntil = tag->first + 1;
    if (closing) {
      if (--depth == 0) {
        closed = tag->first + 1;
        return false;
      }
    } else if (!tag->second) {
      ++depth;
    }
    return true;
  });
  return textOutcome(bytes, closed, cut);
}

ExactEnd rtfEnd(CandidateBytes& bytes, std::uint64_t limit) {
  if (!textAt(bytes, 0, "{\\rtf"sv)) return notThis();
  std::uint64_t depth = 0;
  bool escaped = false;
  std::optional<std::uint64_t> cut, closed;
  walkText(bytes, 0, limit, cut, [&](std::uint64_t pos, std::uint8_t c) {
    if (escaped) {
      escaped = false;
      return true;
    }
    if (c == '\\') escaped = true;
    else if (c == '{') ++depth;
    else if (c == '}' && depth > 0 && --depth == 0) {
      closed = pos + 1;
      return false;
    }
    return true;
  });
  return textOutcome(bytes, closed, cut);
}

// ---- PSD (and PSB): the header, then four sections each led by its
// length (colour mode data, image resources, layers and masks), then the
// merged image: raw (width x height x channels x depth) or RLE (a table of
// row lengths, then the rows).

ExactEnd psdEnd(CandidateBytes& bytes, std::uint64_t limit) {
  ByteSpan header = bytes.at(0, 26);
  auto version = bytes.u16be(4);
  if (header.empty() || !textAt(bytes, 0, "8BPS"sv) || !version || (*version != 1 && *version != 2)) return notThis();
  const bool big = *version == 2;
  const auto channels = bytes.u16be(12), depth = bytes.u16be(22);
  const auto height = bytes.u32be(14), width = bytes.u32be(18);
  if (!channels || !depth || !height || !width || *channels == 0 || *channels > 56 || *height == 0 || *width == 0 ||
      (*depth != 1 && *depth != 8 && *depth != 16 && *depth != 32))
    return notThis();
  std::uint64_t pos = 26;
  for (int section = 0; section < 3; ++section) {
    std::uint64_t length = 0;
    if (section == 2 && big) {
      auto high = bytes.u32be(pos), low = bytes.u32be(pos + 4);
      if (!high || !low) return unknown();
      length = std::uint64_t{*high} << 32 | *low;
      pos += 8;
    } else {
      auto value = bytes.u32be(pos);
      if (!value) return unknown();
      length = *value;
      pos += 4;
    }
    if (length > limit - std::min(limit, pos)) return section == 0 ? notThis() : unknown();
    pos += length;
  }
  auto compression = bytes.u16be(pos);
  if (!compression) return unknown();
  pos += 2;
  const std::uint64_t rows = std::uint64_t{*height} * *channels;
  if (*compression == 0) return bySize(pos + (std::uint64_t{*width} * *depth + 7) / 8 * rows, limit);
  if (*compression != 1) return unknown();
  const std::uint64_t entry = big ? 4 : 2;
  std::uint64_t data = 0;
  for (std::uint64_t r = 0; r < rows; ++r) {
    auto n = big ? bytes.u32be(pos + r * entry) : std::optional<std::uint32_t>(bytes.u16be(pos + r * entry));
    if (!n || (!big && !bytes.u16be(pos + r * entry))) return unknown();
    data += *n;
  }
  return bySize(pos + rows * entry + data, limit);
}

// ---- Compound documents: the file holds the header sector and every
// sector its FAT marks as used; the directory names the sub-type.

ExactEnd compoundEnd(CandidateBytes& bytes, std::uint64_t limit) {
  constexpr std::uint32_t kFree = 0xFFFFFFFF, kEndOfChain = 0xFFFFFFFE;
  if (!textAt(bytes, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv)) return notThis();
  auto major = bytes.u16le(26), shift = bytes.u16le(30);
  auto fatCount = bytes.u32le(44), directory = bytes.u32le(48), difat = bytes.u32le(68), difatCount = bytes.u32le(72);
  if (!major || !shift || !fatCount || !directory || !difat || !difatCount) return unknown();
  if (!((*major == 3 && *shift == 9) || (*major == 4 && *shift == 12)) || *fatCount == 0) return notThis();
  const std::uint64_t sector = std::uint64_t{1} << *shift;
  const std::uint64_t perSector = sector / 4;
  auto offsetOf = [&](std::uint64_t n) { return (n + 1) * sector; };
  // The FAT's own sectors: 109 in the header, the rest in the DIFAT chain.
  std::vector<std::uint32_t> fatSectors;
  for (std::uint32_t i = 0; i < std::min<std::uint32_t>(*fatCount, 109); ++i) {
    auto f = bytes.u32le(76 + 4ull * i);
    if (!f) return unknown();
    fatSectors.push_back(*f);
  }
  std::uint64_t furthest = 0;
  std::uint32_t next = *difat;
  for (std::uint32_t chain = 0; fatSectors.size() < *fatCount && next < kEndOfChain && chain < *difatCount; ++chain) {
    furthest = std::max<std::uint64_t>(furthest, next);
    for (std::uint64_t i = 0; i + 1 < perSector && fatSectors.size() < *fatCount; ++i) {
      auto f = bytes.u32le(offsetOf(next) + 4 * i);
      if (!f) return unknown();
      fatSectors.push_back(*f);
    }
    auto link = bytes.u32le(offsetOf(next) + 4 * (perSector - 1));
    if (!link) return unknown();
    next = *link;
  }
  if (fatSectors.size() < *fatCount || fatSectors.size() > (std::size_t{1} << 16)) return unknown();
  std::vector<std::uint32_t> fat;
  for (std::size_t k = 0; k < fatSectors.size(); ++k) {
    if (fatSectors[k] >= kEndOfChain || offsetOf(fatSectors[k]) >= limit) return unknown();
    furthest = std::max<std::uint64_t>(furthest, fatSectors[k]);
    for (std::uint64_t i = 0; i < perSector; ++i) {
      auto value = bytes.u32le(offsetOf(fatSectors[k]) + 4 * i);
      if (!value) return unknown();
      fat.push_back(*value);
      if (*value != kFree) furthest = std::max<std::uint64_t>(furthest, k * perSector + i);
    }
  }
  // The sub-type: the first stream name the directory's sectors hold.
  static constexpr std::pair<std::u16string_view, std::string_view> kStreams[] = {
      {u"WordDocument", "DOC"}, {u"Workbook", "XLS"}, {u"PowerPoint Document", "PPT"}, {u"PageMaker", "PMD"}};
  std::string_view subType;
  std::uint32_t dir = *directory;
  for (int walked = 0; subType.empty() && dir < fat.size() && walked < 256; ++walked, dir = fat[dir]) {
    for (std::uint64_t e = 0; e < sector / 128 && subType.empty(); ++e) {
      ByteSpan entry = bytes.at(offsetOf(dir) + 128 * e, 128);
      if (entry.empty()) return unknown();
      const std::size_t nameBytes = std::min<std::size_t>(readU16(entry, 64), 64);
      for (const auto& [name, type] : kStreams)
        if (nameBytes == (name.size() + 1) * 2) {
          bool same = true;
          for (std::size_t c = 0; c < name.size() && same; ++c) same = readU16(entry, 2 * c) == name[c];
          if (same) subType = type;
        }
    }
  }
  if (subType.empty()) return unknown();  // the sector rule decides, as it always did
  ExactEnd end = bySize(offsetOf(furthest) + sector, limit);
  end.subType = subType;
  return end;
}

}  // namespace

// ---- CandidateBytes

CandidateBytes::CandidateBytes(std::uint64_t size, Fetch fetch, HeaderAt headerAt)
    : size_(size), fetch_(std::move(fetch)), headerAt_(std::move(headerAt)) {}

CandidateBytes::CandidateBytes(ByteSpan bytes, HeaderAt headerAt)
    : size_(bytes.size()), whole_(bytes), headerAt_(std::move(headerAt)) {}

ByteSpan CandidateBytes::upTo(std::uint64_t offset, std::size_t n) {
  if (offset >= size_) return {};
  n = static_cast<std::size_t>(std::min<std::uint64_t>({n, kMostAtOnce, size_ - offset}));
  if (!fetch_) return whole_.subspan(static_cast<std::size_t>(offset), n);
  if (offset < bufferStart_ || offset - bufferStart_ + n > bufferLength_) {
    if (buffer_.empty()) buffer_.resize(kBufferBytes);
    ++generation_;
    bufferStart_ = offset / kSectorSize * kSectorSize;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBufferBytes, size_ - bufferStart_));
    bufferLength_ = fetch_(bufferStart_, std::span<std::byte>(buffer_.data(), want));
    if (offset - bufferStart_ >= bufferLength_) return {};
    n = std::min<std::size_t>(n, bufferLength_ - static_cast<std::size_t>(offset - bufferStart_));
  }
  return {buffer_.data() + (offset - bufferStart_), n};
}

bool CandidateBytes::headerAt(std::uint64_t sector) {
  if (!headerAt_ || sector > size_ / kSectorSize) return false;
  ByteSpan bytes = upTo(sector * kSectorSize, kSectorSize);
  return !bytes.empty() && headerAt_(bytes);
}

ByteSpan CandidateBytes::at(std::uint64_t offset, std::size_t n) {
  ByteSpan got = upTo(offset, n);
  return got.size() == n ? got : ByteSpan{};
}

std::optional<std::uint8_t> CandidateBytes::u8(std::uint64_t offset) {
  ByteSpan b = at(offset, 1);
  if (b.empty()) return std::nullopt;
  return std::to_integer<std::uint8_t>(b[0]);
}

std::optional<std::uint16_t> CandidateBytes::u16be(std::uint64_t offset) {
  ByteSpan b = at(offset, 2);
  if (b.empty()) return std::nullopt;
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(b[0]) << 8 | std::to_integer<unsigned>(b[1]));
}

std::optional<std::uint32_t> CandidateBytes::u32be(std::uint64_t offset) {
  ByteSpan b = at(offset, 4);
  if (b.empty()) return std::nullopt;
  std::uint32_t v = 0;
  for (std::byte x : b) v = v << 8 | std::to_integer<std::uint32_t>(x);
  return v;
}

std::optional<std::uint16_t> CandidateBytes::u16le(std::uint64_t offset) {
  ByteSpan b = at(offset, 2);
  if (b.empty()) return std::nullopt;
  return readU16(b, 0);
}

std::optional<std::uint32_t> CandidateBytes::u32le(std::uint64_t offset) {
  ByteSpan b = at(offset, 4);
  if (b.empty()) return std::nullopt;
  return readU32(b, 0);
}

std::optional<std::uint64_t> CandidateBytes::u64le(std::uint64_t offset) {
  ByteSpan b = at(offset, 8);
  if (b.empty()) return std::nullopt;
  return readU64(b, 0);
}

std::optional<std::uint64_t> CandidateBytes::find(std::uint64_t from, std::uint64_t end,
                                                  std::span<const std::byte> pattern) {
  if (pattern.empty() || pattern.size() > kMostAtOnce / 2) return std::nullopt;
  end = std::min(end, size_);
  for (std::uint64_t pos = from; pos < end && end - pos >= pattern.size();) {
    ByteSpan chunk = upTo(pos, static_cast<std::size_t>(std::min<std::uint64_t>(kMostAtOnce, end - pos)));
    if (chunk.size() < pattern.size()) return std::nullopt;
    if (const std::byte* hit = findSignature(chunk, pattern)) return pos + static_cast<std::uint64_t>(hit - chunk.data());
    pos += chunk.size() - (pattern.size() - 1);
  }
  return std::nullopt;
}

// ---- the rules

ExactEnd findExactEnd(EndRule rule, CandidateBytes& bytes, std::uint64_t limit) {
  limit = std::min(limit, bytes.size());
  switch (rule) {
    case EndRule::None: return unknown();
    case EndRule::Jpeg: return jpegEnd(bytes, limit);
    case EndRule::Png: return pngEnd(bytes, limit);
    case EndRule::Bmp: return bmpEnd(bytes, limit);
    case EndRule::RiffAvi: return riffEnd(bytes, limit, std::uint64_t{1} << 32, {"AVI "sv, "AVIX"sv});
    case EndRule::RiffCdr: return riffEnd(bytes, limit, 0x6400000, {"CDR"sv, "cdr"sv});
    case EndRule::Zip: return zipEnd(bytes, limit);
    case EndRule::Pdf: return pdfEnd(bytes, limit);
    case EndRule::Html: return htmlEnd(bytes, limit);
    case EndRule::Xml: return xmlEnd(bytes, limit);
    case EndRule::Rtf: return rtfEnd(bytes, limit);
    case EndRule::Psd: return psdEnd(bytes, limit);
    case EndRule::Compound: return compoundEnd(bytes, limit);
    default: return findModernEnd(rule, bytes, limit);
  }
}

}  // namespace dravolin
