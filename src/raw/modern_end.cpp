#include "raw/modern_end.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace dravolin {
namespace {

using namespace std::string_view_literals;

ExactEnd notThis() { return {EndOutcome::NotThisFormat, 0}; }
ExactEnd found(std::uint64_t length) { return {EndOutcome::Found, length}; }
ExactEnd partial(std::uint64_t length) { return {EndOutcome::Partial, length}; }
ExactEnd unknown() { return {EndOutcome::Unknown, 0}; }
ExactEnd bySize(std::uint64_t length, std::uint64_t limit) { return length <= limit ? found(length) : partial(limit); }

bool textAt(CandidateBytes& bytes, std::uint64_t offset, std::string_view text) {
  ByteSpan got = bytes.at(offset, text.size());
  return !got.empty() && std::memcmp(got.data(), text.data(), text.size()) == 0;
}

std::string stringAt(CandidateBytes& bytes, std::uint64_t offset, std::size_t n) {
  ByteSpan got = bytes.at(offset, n);
  return got.empty() ? std::string() : std::string(reinterpret_cast<const char*>(got.data()), got.size());
}

std::uint32_t crc32Of(ByteSpan data) {
  return static_cast<std::uint32_t>(
      ::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// ---- GIF: header, screen descriptor and colour table, then blocks
// (extensions and images, each a chain of sub-blocks) to the trailer.

std::optional<std::uint64_t> skipSubBlocks(CandidateBytes& bytes, std::uint64_t pos, std::uint64_t limit) {
  while (pos < limit) {
    auto n = bytes.u8(pos);
    if (!n) return std::nullopt;
    pos += 1 + *n;
    if (*n == 0) return pos;
  }
  return std::nullopt;
}

ExactEnd gifEnd(CandidateBytes& bytes, std::uint64_t limit) {
  if (!textAt(bytes, 0, "GIF87a"sv) && !textAt(bytes, 0, "GIF89a"sv)) return notThis();
  auto flags = bytes.u8(10);
  if (!flags) return unknown();
  std::uint64_t pos = 13 + ((*flags & 0x80) ? 3u * (2u << (*flags & 7)) : 0u);
  bool image = false;
  while (pos < limit) {
    auto kind = bytes.u8(pos);
    if (!kind) return unknown();
    if (*kind == 0x3B) return image ? found(pos + 1) : notThis();
    if (*kind == 0x21) {
      auto end = skipSubBlocks(bytes, pos + 2, limit);
      if (!end) return unknown();
      pos = *end;
    } else if (*kind == 0x2C) {
      auto local = bytes.u8(pos + 9);
      if (!local) return unknown();
      pos += 10 + ((*local & 0x80) ? 3u * (2u << (*local & 7)) : 0u);
      auto minimumCode = bytes.u8(pos);
      if (!minimumCode || *minimumCode > 12) return image ? partial(pos) : notThis();
      auto end = skipSubBlocks(bytes, pos + 1, limit);
      if (!end) return unknown();
      pos = *end;
      image = true;
    } else {
      return image ? partial(pos) : notThis();
    }
  }
  return unknown();
}

// ---- RIFF forms of the modern rows.

ExactEnd riffForm(CandidateBytes& bytes, std::uint64_t limit, std::string_view form,
                  std::initializer_list<std::string_view> firstChunks) {
  auto size = bytes.u32le(4);
  if (!textAt(bytes, 0, "RIFF"sv) || !textAt(bytes, 8, form) || !size || *size < 4) return notThis();
  // The form's first chunk: "fmt " of a WAVE, the image chunk of a WebP.
  if (std::none_of(firstChunks.begin(), firstChunks.end(), [&](std::string_view c) { return textAt(bytes, 12, c); }))
    return notThis();
  return bySize(8 + std::uint64_t{*size} + (*size & 1), limit);
}

// ---- ISO base media files: the ftyp brands say which type; the file ends
// after its last top-level box.

EndRule bmffType(CandidateBytes& bytes) {
  const std::string major = stringAt(bytes, 8, 4);
  auto size = bytes.u32be(0);
  if (major.size() != 4 || !size || *size < 16 || *size > 4096) return EndRule::None;
  std::set<std::string> compatible;
  for (std::uint64_t at = 16; at + 4 <= *size; at += 4) compatible.insert(stringAt(bytes, at, 4));
  if (major == "heic" || major == "heix" || major == "heim" || major == "heis") return EndRule::Heic;
  if (major == "avif" || major == "avis") return EndRule::Avif;
  if (major == "mif1" || major == "msf1") {
    if (compatible.contains("avif")) return EndRule::Avif;
    if (compatible.contains("heic") || compatible.contains("heix")) return EndRule::Heic;
    return EndRule::None;
  }
  if (major == "M4A " || major == "M4B " || major == "M4P ") return EndRule::M4a;
  if (major.starts_with("3gp") || major.starts_with("3g2")) return EndRule::ThreeGp;
  if (major == "qt  ") return EndRule::Mov;
  static const std::set<std::string> kMp4 = {"isom", "iso2", "iso3", "iso4", "iso5", "iso6", "mp41", "mp42",
                                             "avc1", "dash", "M4V ", "mmp4", "MSNV", "f4v "};
  if (kMp4.contains(major)) return EndRule::Mp4;
  return EndRule::None;
}

ExactEnd bmffEnd(CandidateBytes& bytes, std::uint64_t limit, EndRule rule) {
  if (!textAt(bytes, 4, "ftyp"sv) || bmffType(bytes) != rule) return notThis();
  static const std::set<std::string> kTopLevel = {"moov", "mdat", "free", "skip", "wide", "meta", "uuid", "moof",
                                                  "mfra", "pdin", "styp", "sidx", "ssix", "prft", "emsg", "pnot"};
  bool content = false;  // a movie or item box: more than a stray ftyp
  std::uint64_t pos = 0;
  while (pos < limit) {
    auto size = bytes.u32be(pos);
    const std::string type = stringAt(bytes, pos + 4, 4);
    if (!size || type.size() != 4) return content ? found(pos) : unknown();
    if (pos > 0 && !kTopLevel.contains(type)) break;
    std::uint64_t length = *size;
    if (*size == 1) {
      auto large = bytes.u32be(pos + 8), low = bytes.u32be(pos + 12);
      if (!large || !low) return unknown();
      length = std::uint64_t{*large} << 32 | *low;
      if (length < 16) break;
    } else if (*size == 0) {
      return unknown();  // the last box runs to the end of a file whose end is not known
    } else if (*size < 8) {
      break;
    }
    content = content || type == "moov" || type == "meta" || type == "moof";
    if (length > limit - pos) return content ? partial(limit) : unknown();
    pos += length;
  }
  return content ? found(pos) : notThis();
}

// ---- Matroska and WebM: the EBML header's document type, then the
// segment's size (or, for a segment of unknown size, its top-level
// elements).

struct Vint {
  std::uint64_t value = 0;
  std::uint64_t length = 0;
  bool unknownSize = false;
};

std::optional<Vint> readVint(CandidateBytes& bytes, std::uint64_t pos, bool keepMarker) {
  auto first = bytes.u8(pos);
  if (!first || *first == 0) return std::nullopt;
  std::uint64_t length = 1;
  while (!(*first & (0x80 >> (length - 1)))) ++length;
  ByteSpan raw = bytes.at(pos, length);
  if (raw.empty()) return std::nullopt;
  std::uint64_t value = keepMarker ? *first : (*first & (0xFFu >> length));
  bool allOnes = value == (0xFFu >> length);
  for (std::uint64_t i = 1; i < length; ++i) {
    const auto b = std::to_integer<std::uint8_t>(raw[i]);
    value = value << 8 | b;
    allOnes = allOnes && b == 0xFF;
  }
  return Vint{value, length, !keepMarker && allOnes};
}

ExactEnd matroskaEnd(CandidateBytes& bytes, std::uint64_t limit, std::string_view docType) {
  auto headerId = readVint(bytes, 0, true);
  if (!headerId || headerId->value != 0x1A45DFA3) return notThis();
  auto headerSize = readVint(bytes, 4, false);
  if (!headerSize || headerSize->unknownSize || headerSize->value > 4096) return notThis();
  const std::uint64_t headerEnd = 4 + headerSize->length + headerSize->value;
  std::string type;
  for (std::uint64_t p = 4 + headerSize->length; p < headerEnd;) {
    auto id = readVint(bytes, p, true);
    if (!id) return notThis();
    auto size = readVint(bytes, p + id->length, false);
    if (!size || size->unknownSize) return notThis();
    const std::uint64_t data = p + id->length + size->length;
    if (id->value == 0x4282 && size->value <= 64) type = stringAt(bytes, data, size->value);
    p = data + size->value;
  }
  while (!type.empty() && type.back() == '\0') type.pop_back();
  if (type != docType) return notThis();
  auto segmentId = readVint(bytes, headerEnd, true);
  if (!segmentId || segmentId->value != 0x18538067) return notThis();
  auto segmentSize = readVint(bytes, headerEnd + 4, false);
  if (!segmentSize) return notThis();
  const std::uint64_t segmentData = headerEnd + 4 + segmentSize->length;
  if (!segmentSize->unknownSize) return bySize(segmentData + segmentSize->value, limit);
  static const std::set<std::uint64_t> kTopLevel = {0x114D9B74, 0x1549A966, 0x1654AE6B, 0x1F43B675, 0x1C53BB6B,
                                                    0x1043A770, 0x1254C367, 0x1941A469, 0xEC,       0xBF};
  std::uint64_t pos = segmentData;
  while (pos < limit) {
    auto id = readVint(bytes, pos, true);
    if (!id || !kTopLevel.contains(id->value)) return found(pos);
    auto size = readVint(bytes, pos + id->length, false);
    if (!size || size->unknownSize) return unknown();
    pos += id->length + size->length + size->value;
  }
  return unknown();
}

// ---- MP3 after an ID3v2 tag: MPEG audio frames by their headers, and an
// ID3v1 tag after the last one.

std::optional<std::uint64_t> mpegFrameLength(std::uint32_t h) {
  if ((h & 0xFFE00000u) != 0xFFE00000u) return std::nullopt;
  const unsigned version = (h >> 19) & 3;  // 0: 2.5, 2: 2, 3: 1
  const unsigned layer = (h >> 17) & 3;    // 1: III, 2: II, 3: I
  const unsigned bitrateIndex = (h >> 12) & 15, rateIndex = (h >> 10) & 3, padding = (h >> 9) & 1;
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return std::nullopt;
  static constexpr unsigned kRates[3] = {44100, 48000, 32000};
  static constexpr unsigned kV1L1[] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448};
  static constexpr unsigned kV1L2[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
  static constexpr unsigned kV1L3[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static constexpr unsigned kV2L1[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256};
  static constexpr unsigned kV2L23[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  const bool v1 = version == 3;
  const unsigned rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  const unsigned kbps = v1 ? (layer == 3 ? kV1L1 : layer == 2 ? kV1L2 : kV1L3)[bitrateIndex]
                           : (layer == 3 ? kV2L1 : kV2L23)[bitrateIndex];
  if (layer == 3) return (12u * kbps * 1000 / rate + padding) * 4;
  const unsigned factor = (layer == 1 && !v1) ? 72 : 144;
  return std::uint64_t{factor} * kbps * 1000 / rate + padding;
}

ExactEnd mp3End(CandidateBytes& bytes, std::uint64_t limit) {
  ByteSpan tag = bytes.at(0, 10);
  if (tag.empty() || !textAt(bytes, 0, "ID3"sv)) return notThis();
  const auto version = std::to_integer<unsigned>(tag[3]);
  if (version < 2 || version > 4) return notThis();
  std::uint64_t size = 0;
  for (int i = 6; i < 10; ++i) {
    const auto b = std::to_integer<unsigned>(tag[static_cast<std::size_t>(i)]);
    if (b & 0x80) return notThis();
    size = size << 7 | b;
  }
  std::uint64_t pos = 10 + size + ((std::to_integer<unsigned>(tag[5]) & 0x10) ? 10 : 0);
  std::uint64_t frames = 0;
  while (pos < limit) {
    auto header = bytes.u32be(pos);
    if (!header) break;
    auto length = mpegFrameLength(*header);
    if (!length || *length < 4) break;
    ++frames;
    pos += *length;
  }
  if (frames < 2) return pos >= limit ? unknown() : notThis();
  if (pos > limit) return partial(limit);
  if (textAt(bytes, pos, "TAG"sv) && pos + 128 <= limit) pos += 128;
  return found(pos);
}

// ---- FLAC: metadata blocks, then frames; the stream holds as many
// samples as STREAMINFO says, and the last frame ends where its CRC-16
// closes.

std::uint16_t crc16Step(std::uint16_t crc, std::uint8_t byte) {
  crc ^= static_cast<std::uint16_t>(byte << 8);
  for (int i = 0; i < 8; ++i) crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
  return crc;
}

std::uint8_t crc8Of(ByteSpan data) {
  std::uint8_t crc = 0;
  for (std::byte b : data) {
    crc ^= std::to_integer<std::uint8_t>(b);
    for (int i = 0; i < 8; ++i) crc = static_cast<std::uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

// The samples of the frame whose header starts at pos (its CRC-8 checked).
std::optional<std::uint64_t> flacFrameSamples(CandidateBytes& bytes, std::uint64_t pos) {
  ByteSpan h = bytes.upTo(pos, 16);
  if (h.size() < 6 || h[0] != std::byte{0xFF} || (std::to_integer<unsigned>(h[1]) & 0xFE) != 0xF8) return std::nullopt;
  const unsigned blockCode = std::to_integer<unsigned>(h[2]) >> 4, rateCode = std::to_integer<unsigned>(h[2]) & 15;
  if (blockCode == 0 || rateCode == 15) return std::nullopt;
  // The coded frame or sample number: UTF-8 style, 1 to 7 bytes.
  const unsigned lead = std::to_integer<unsigned>(h[4]);
  std::size_t numberLength = 1;
  if (lead & 0x80) {
    if ((lead & 0xC0) == 0x80 || lead == 0xFF) return std::nullopt;
    while (numberLength < 7 && (lead & (0x80 >> numberLength))) ++numberLength;
  }
  std::size_t at = 4 + numberLength;
  std::uint64_t samples = 0;
  if (blockCode == 1) samples = 192;
  else if (blockCode <= 5) samples = 576u << (blockCode - 2);
  else if (blockCode == 6) samples = (at < h.size() ? std::to_integer<unsigned>(h[at]) : 0) + 1u, at += 1;
  else if (blockCode == 7) {
    if (at + 1 >= h.size()) return std::nullopt;
    samples = (std::to_integer<unsigned>(h[at]) << 8 | std::to_integer<unsigned>(h[at + 1])) + 1u;
    at += 2;
  } else samples = 256u << (blockCode - 8);
  if (rateCode == 12) at += 1;
  else if (rateCode == 13 || rateCode == 14) at += 2;
  if (at >= h.size() || crc8Of(h.first(at)) != std::to_integer<std::uint8_t>(h[at])) return std::nullopt;
  return samples;
}

ExactEnd flacEnd(CandidateBytes& bytes, std::uint64_t limit) {
  if (!textAt(bytes, 0, "fLaC"sv)) return notThis();
  std::uint64_t pos = 4, total = 0;
  for (bool last = false; !last;) {
    auto header = bytes.u32be(pos);
    if (!header) return unknown();
    last = (*header & 0x80000000u) != 0;
    const unsigned type = (*header >> 24) & 0x7F;
    const std::uint64_t length = *header & 0xFFFFFF;
    if (pos == 4) {
      if (type != 0 || length != 34) return notThis();
      ByteSpan info = bytes.at(pos + 4, 34);
      if (info.empty()) return unknown();
      total = (std::uint64_t{std::to_integer<unsigned>(info[13]) & 15} << 32) |
              (std::uint64_t{std::to_integer<unsigned>(info[14])} << 24) |
              (std::uint64_t{std::to_integer<unsigned>(info[15])} << 16) |
              (std::uint64_t{std::to_integer<unsigned>(info[16])} << 8) | std::to_integer<unsigned>(info[17]);
    } else if (type == 127) {
      return notThis();
    }
    pos += 4 + length;
    if (pos >= limit) return unknown();
  }
  if (total == 0) return unknown();  // a stream that does not say its length
  // Frames: each CRC-16 runs from its frame's first byte; a frame ends
  // where the running CRC is 0 and either the next frame's header follows
  // or all samples are there.
  std::uint64_t seen = 0;
  auto samples = flacFrameSamples(bytes, pos);
  if (!samples) return notThis();
  std::uint64_t frameStart = pos;
  std::uint16_t crc = 0;
  for (std::uint64_t p = pos; p < limit;) {
    ByteSpan chunk = bytes.upTo(p, static_cast<std::size_t>(std::min<std::uint64_t>(4096, limit - p)));
    if (chunk.empty()) return unknown();
    std::uint64_t consumed = chunk.size();
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      crc = crc16Step(crc, std::to_integer<std::uint8_t>(chunk[i]));
      const std::uint64_t end = p + i + 1;
      if (crc != 0 || end - frameStart < 8) continue;
      if (seen + *samples >= total) return found(end);
      const std::uint64_t generation = bytes.generation();
      auto next = flacFrameSamples(bytes, end);
      if (next) {
        seen += *samples;
        samples = next;
        frameStart = end;
        crc = 0;
      }
      if (bytes.generation() != generation) {
        consumed = i + 1;  // the chunk was read again: go on from the next byte
        break;
      }
    }
    p += consumed;
  }
  return unknown();
}

// ---- Ogg: pages (each with its CRC checked) until every logical stream
// begun has ended.

// The page CRC: polynomial 0x04C11DB7, not reflected, over the page with
// its CRC field as zeros.
bool oggPageCrcHolds(CandidateBytes& bytes, std::uint64_t pos, std::uint64_t length, std::uint32_t stored) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i << 24;
      for (int k = 0; k < 8; ++k) r = r & 0x80000000u ? (r << 1) ^ 0x04C11DB7u : r << 1;
      t[i] = r;
    }
    return t;
  }();
  std::uint32_t crc = 0;
  for (std::uint64_t done = 0; done < length;) {
    ByteSpan chunk = bytes.upTo(pos + done, static_cast<std::size_t>(std::min<std::uint64_t>(4096, length - done)));
    if (chunk.empty()) return false;
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      const std::uint64_t at = done + i;
      const auto b = (at >= 22 && at < 26) ? 0u : std::to_integer<std::uint32_t>(chunk[i]);
      crc = (crc << 8) ^ table[((crc >> 24) ^ b) & 0xFF];
    }
    done += chunk.size();
  }
  return crc == stored;
}

ExactEnd oggEnd(CandidateBytes& bytes, std::uint64_t limit) {
  std::set<std::uint32_t> open;
  std::uint64_t pos = 0, pages = 0;
  while (pos < limit) {
    ByteSpan header = bytes.at(pos, 27);
    if (header.empty() || !textAt(bytes, pos, "OggS"sv) || header[4] != std::byte{0})
      return pages >= 2 ? partial(pos) : notThis();
    const auto flags = std::to_integer<unsigned>(header[5]);
    const std::uint32_t serial = readU32(header, 14);
    const auto segments = std::to_integer<std::size_t>(header[26]);
    ByteSpan table = bytes.at(pos + 27, segments);
    if (table.empty()) return unknown();
    std::uint64_t body = 0;
    for (std::byte b : table) body += std::to_integer<unsigned>(b);
    const std::uint32_t stored = readU32(header, 22);
    if (!oggPageCrcHolds(bytes, pos, 27 + segments + body, stored)) return pages >= 2 ? partial(pos) : notThis();
    if (flags & 0x02) open.insert(serial);
    else if (pages == 0) return notThis();  // the first page begins a stream
    ++pages;
    pos += 27 + segments + body;
    if (flags & 0x04) {
      open.erase(serial);
      if (open.empty()) return bySize(pos, limit);
    }
  }
  return unknown();
}

// ---- 7z: the start header (with its CRC) names the next header's offset
// and size: the archive ends after it.

ExactEnd sevenZipEnd(CandidateBytes& bytes, std::uint64_t limit) {
  ByteSpan header = bytes.at(0, 32);
  if (header.empty() || !textAt(bytes, 0, "7z\xBC\xAF\x27\x1C"sv)) return notThis();
  if (readU32(header, 8) != crc32Of(header.subspan(12, 20))) return notThis();
  const std::uint64_t offset = readU64(header, 12), size = readU64(header, 20);
  if (offset > (std::uint64_t{1} << 48) || size > (std::uint64_t{1} << 32)) return notThis();
  return bySize(32 + offset + size, limit);
}

// ---- gzip: members inflated to the end of their deflate streams, each
// followed by its CRC and size.

ExactEnd gzipEnd(CandidateBytes& bytes, std::uint64_t limit) {
  std::uint64_t pos = 0;
  std::uint64_t members = 0;
  while (pos < limit) {
    ByteSpan h = bytes.at(pos, 10);
    if (h.empty() || h[0] != std::byte{0x1F} || h[1] != std::byte{0x8B} || h[2] != std::byte{8} ||
        (std::to_integer<unsigned>(h[3]) & 0xE0) != 0)
      return members ? found(pos) : notThis();
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return unknown();
    std::array<Bytef, 65536> out{};
    std::uint64_t at = pos;
    int status = Z_OK;
    while (status == Z_OK && at < limit) {
      ByteSpan in = bytes.upTo(at, static_cast<std::size_t>(std::min<std::uint64_t>(65536, limit - at)));
      if (in.empty()) break;
      z.next_in = const_cast<Bytef*>(reinterpret_cast<const Bytef*>(in.data()));
      z.avail_in = static_cast<uInt>(in.size());
      do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        status = inflate(&z, Z_NO_FLUSH);
      } while (status == Z_OK && z.avail_in > 0);
      at += in.size() - z.avail_in;
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END) {
      if (status == Z_OK || status == Z_BUF_ERROR) return unknown();
      return members ? found(pos) : notThis();
    }
    ++members;
    pos = at;
  }
  return unknown();
}

// ---- xz: the stream footer whose flags repeat the header's and whose CRC
// holds.

ExactEnd xzEnd(CandidateBytes& bytes, std::uint64_t limit) {
  ByteSpan header = bytes.at(0, 12);
  if (header.empty() || !textAt(bytes, 0, "\xFD" "7zXZ\0"sv)) return notThis();
  if (readU32(header, 8) != crc32Of(header.subspan(6, 2))) return notThis();
  for (std::uint64_t p = 12; p < limit;) {
    auto at = bytes.find(p, limit, std::as_bytes(std::span("YZ", 2)));
    if (!at) return unknown();
    if (*at >= 22) {
      ByteSpan footer = bytes.at(*at - 10, 12);
      if (!footer.empty() && footer[8] == header[6] && footer[9] == header[7] &&
          readU32(footer, 0) == crc32Of(footer.subspan(4, 6)))
        return found(*at + 2);
    }
    p = *at + 1;
  }
  return unknown();
}

// ---- SQLite: page size times page count, when the header says the count
// is current.

ExactEnd sqliteEnd(CandidateBytes& bytes, std::uint64_t limit) {
  if (!textAt(bytes, 0, "SQLite format 3\0"sv)) return notThis();
  auto pageSize = bytes.u16be(16);
  auto change = bytes.u32be(24), pages = bytes.u32be(28), validFor = bytes.u32be(92);
  auto fractions = bytes.at(21, 3);
  if (!pageSize || !change || !pages || !validFor || fractions.empty()) return unknown();
  const std::uint64_t size = *pageSize == 1 ? 65536 : *pageSize;
  if (size < 512 || (size & (size - 1)) != 0 || fractions[0] != std::byte{64} || fractions[1] != std::byte{32} ||
      fractions[2] != std::byte{32})
    return notThis();
  if (*change != *validFor || *pages == 0) return unknown();
  return bySize(size * *pages, limit);
}

// ---- Office documents, OpenDocument and EPUB: ZIPs told apart by their
// first entry: "[Content_Types].xml" and the main part's folder, or a
// stored "mimetype" naming the type.

std::optional<EndRule> zipDocumentType(CandidateBytes& bytes) {
  auto nameLength = bytes.u16le(26), extraLength = bytes.u16le(28);
  auto compressed = bytes.u32le(18);
  if (bytes.u32le(0) != 0x04034B50u || !nameLength || !extraLength || !compressed) return std::nullopt;
  const std::string first = stringAt(bytes, 30, *nameLength);
  if (first == "mimetype") {
    const std::string type = stringAt(bytes, 30 + *nameLength + *extraLength, std::min<std::uint32_t>(*compressed, 128));
    if (type == "application/vnd.oasis.opendocument.text") return EndRule::Odt;
    if (type == "application/vnd.oasis.opendocument.spreadsheet") return EndRule::Ods;
    if (type == "application/vnd.oasis.opendocument.presentation") return EndRule::Odp;
    if (type == "application/epub+zip") return EndRule::Epub;
    return std::nullopt;
  }
  if (first != "[Content_Types].xml") return std::nullopt;
  // The main part's folder among the first local entries.
  std::uint64_t pos = 0;
  for (int entry = 0; entry < 64; ++entry) {
    auto signature = bytes.u32le(pos);
    auto flags = bytes.u16le(pos + 6);
    auto size = bytes.u32le(pos + 18);
    auto n = bytes.u16le(pos + 26), m = bytes.u16le(pos + 28);
    if (signature != 0x04034B50u || !flags || !size || !n || !m) break;
    const std::string name = stringAt(bytes, pos + 30, *n);
    if (name.starts_with("word/")) return EndRule::Docx;
    if (name.starts_with("xl/")) return EndRule::Xlsx;
    if (name.starts_with("ppt/")) return EndRule::Pptx;
    if (*flags & 0x08) break;  // the next entry's place is not known
    pos += 30 + std::uint64_t{*n} + *m + *size;
  }
  return std::nullopt;
}

ExactEnd zipDocumentEnd(CandidateBytes& bytes, std::uint64_t limit, EndRule rule) {
  if (zipDocumentType(bytes) != rule) return notThis();
  return zipEnd(bytes, limit);
}

// ---- TIFF and the camera raws built on it: the file ends where the
// furthest of its IFDs, their values, strips, tiles and embedded pictures
// ends. DNG has its version tag, CR2 "CR" after the header, NEF and ARW
// their maker's name in Make.

class TiffWalk {
 public:
  TiffWalk(CandidateBytes& bytes, std::uint64_t limit, bool bigEndian)
      : bytes_(bytes), limit_(limit), big_(bigEndian) {}

  std::optional<std::uint16_t> u16(std::uint64_t at) { return big_ ? bytes_.u16be(at) : bytes_.u16le(at); }
  std::optional<std::uint32_t> u32(std::uint64_t at) { return big_ ? bytes_.u32be(at) : bytes_.u32le(at); }

  // Walks the IFD chain from offset; false when an IFD does not parse.
  bool walk(std::uint64_t offset, int depth) {
    for (int chain = 0; offset != 0 && chain < 64; ++chain) {
      if (depth > 4 || ++ifds_ > 512 || offset >= limit_ || !visited_.insert(offset).second) return ifds_ > 1;
      auto count = u16(offset);
      if (!count || *count == 0 || *count > 4096) return false;
      const std::uint64_t entries = offset + 2;
      extend(entries + 12ull * *count + 4);
      std::vector<std::uint64_t> stripOffsets, stripCounts, tileOffsets, tileCounts;
      std::optional<std::uint64_t> jpegOffset, jpegLength;
      for (unsigned i = 0; i < *count; ++i) {
        const std::uint64_t at = entries + 12ull * i;
        auto tag = u16(at), type = u16(at + 2);
        auto n = u32(at + 4), value = u32(at + 8);
        if (!tag || !type || !n || !value) return false;
        static constexpr unsigned kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        if (*type == 0 || *type > 13) return false;
        const std::uint64_t size = std::uint64_t{kSizes[*type]} * *n;
        if (size > 4) extend(std::uint64_t{*value} + size);
        if (*tag == 0xC612) dng_ = true;
        if (*tag == 271 && *type == 2) make_ = size > 4 ? stringAt(*value, 16) : std::string();
        auto values = [&]() {
          std::vector<std::uint64_t> out;
          const unsigned width = kSizes[*type];
          if (width != 2 && width != 4) return out;
          const std::uint64_t base = size > 4 ? *value : at + 8;
          for (std::uint32_t k = 0; k < std::min<std::uint32_t>(*n, 65536); ++k) {
            auto v = width == 2 ? std::optional<std::uint64_t>(u16(base + 2ull * k).value_or(0))
                                : std::optional<std::uint64_t>(u32(base + 4ull * k).value_or(0));
            out.push_back(*v);
          }
          return out;
        };
        switch (*tag) {
          case 273: stripOffsets = values(); break;
          case 279: stripCounts = values(); break;
          case 324: tileOffsets = values(); break;
          case 325: tileCounts = values(); break;
          case 513: jpegOffset = *value; break;
          case 514: jpegLength = *value; break;
          case 330:  // SubIFDs
            for (std::uint64_t sub : values()) walk(sub, depth + 1);
            break;
          case 34665:  // Exif IFD
          case 34853:  // GPS IFD
            walk(*value, depth + 1);
            break;
          default: break;
        }
      }
      for (std::size_t k = 0; k < std::min(stripOffsets.size(), stripCounts.size()); ++k)
        extend(stripOffsets[k] + stripCounts[k]);
      for (std::size_t k = 0; k < std::min(tileOffsets.size(), tileCounts.size()); ++k)
        extend(tileOffsets[k] + tileCounts[k]);
      if (jpegOffset && jpegLength) extend(*jpegOffset + *jpegLength);
      auto next = u32(entries + 12ull * *count);
      if (!next) return false;
      offset = *next;
    }
    return true;
  }

  std::uint64_t end() const { return end_; }
  bool dng() const { return dng_; }
  const std::string& make() const { return make_; }

 private:
  void extend(std::uint64_t to) { end_ = std::max(end_, to); }
  std::string stringAt(std::uint64_t at, std::size_t n) {
    ByteSpan got = bytes_.upTo(at, n);
    return std::string(reinterpret_cast<const char*>(got.data()), got.size());
  }

  CandidateBytes& bytes_;
  std::uint64_t limit_;
  bool big_;
  std::uint64_t end_ = 8;
  int ifds_ = 0;
  bool dng_ = false;
  std::string make_;
  std::set<std::uint64_t> visited_;
};

ExactEnd tiffEnd(CandidateBytes& bytes, std::uint64_t limit, EndRule rule) {
  const bool little = textAt(bytes, 0, "II*\0"sv), big = textAt(bytes, 0, "MM\0*"sv);
  if (!little && !big) return notThis();
  TiffWalk walk(bytes, limit, big);
  auto first = walk.u32(4);
  if (!first || *first < 8 || !walk.walk(*first, 0)) return notThis();
  EndRule kind = EndRule::Tiff;
  if (walk.dng()) kind = EndRule::Dng;
  else if (textAt(bytes, 8, "CR"sv)) kind = EndRule::Cr2;
  else if (walk.make().starts_with("NIKON")) kind = EndRule::Nef;
  else if (walk.make().starts_with("SONY")) kind = EndRule::Arw;
  // The table's TIF row takes every TIFF; a raw's own row only its kind.
  if (rule != EndRule::Tiff && kind != rule) return notThis();
  if (walk.end() > limit) return partial(limit);
  return found(walk.end());
}

}  // namespace

ExactEnd findModernEnd(EndRule rule, CandidateBytes& bytes, std::uint64_t limit) {
  switch (rule) {
    case EndRule::Gif: return gifEnd(bytes, limit);
    case EndRule::Wav: return riffForm(bytes, limit, "WAVE"sv, {"fmt "sv});
    case EndRule::Webp: return riffForm(bytes, limit, "WEBP"sv, {"VP8 "sv, "VP8L"sv, "VP8X"sv});
    case EndRule::Mp4:
    case EndRule::Mov:
    case EndRule::ThreeGp:
    case EndRule::M4a:
    case EndRule::Heic:
    case EndRule::Avif: return bmffEnd(bytes, limit, rule);
    case EndRule::Matroska: return matroskaEnd(bytes, limit, "matroska"sv);
    case EndRule::Webm: return matroskaEnd(bytes, limit, "webm"sv);
    case EndRule::Mp3: return mp3End(bytes, limit);
    case EndRule::Flac: return flacEnd(bytes, limit);
    case EndRule::Ogg: return oggEnd(bytes, limit);
    case EndRule::SevenZip: return sevenZipEnd(bytes, limit);
    case EndRule::Gzip: return gzipEnd(bytes, limit);
    case EndRule::Xz: return xzEnd(bytes, limit);
    case EndRule::Sqlite: return sqliteEnd(bytes, limit);
    case EndRule::Docx:
    case EndRule::Xlsx:
    case EndRule::Pptx:
    case EndRule::Odt:
    case EndRule::Ods:
    case EndRule::Odp:
    case EndRule::Epub: return zipDocumentEnd(bytes, limit, rule);
    case EndRule::Tiff:
    case EndRule::Dng:
    case EndRule::Cr2:
    case EndRule::Nef:
    case EndRule::Arw: return tiffEnd(bytes, limit, rule);
    default: return unknown();
  }
}

}  // namespace dravolin
