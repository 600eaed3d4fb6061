#include "ntfs/lznt1.h"

#include <algorithm>
#include <cstring>

namespace dravolin {
namespace {

Lznt1Outcome corrupt(std::size_t written, const char* what) {
  return {written, Error{ErrorKind::Corrupt, what}};
}

// Decodes one compressed chunk's data into out[start, start + 4096) and
// returns the output bytes, or nullopt when its tokens are corrupt.
std::optional<std::size_t> decodeChunk(ByteSpan data, std::span<std::byte> out, std::size_t start) {
  const std::size_t limit = std::min(out.size() - start, kLznt1ChunkSize);
  std::size_t in = 0;
  std::size_t produced = 0;
  while (in < data.size() && produced < limit) {
    const std::uint8_t flags = readU8(data, in++);
    for (int bit = 0; bit < 8 && in < data.size() && produced < limit; ++bit) {
      if (((flags >> bit) & 1) == 0) {
        out[start + produced++] = data[in++];
        continue;
      }
      if (!fitsIn(data, in, 2)) return std::nullopt;
      const std::uint16_t token = readU16(data, in);
      in += 2;
      if (produced == 0) return std::nullopt;  // nothing to refer back to
      // The split between offset and length bits moves with the position in
      // the chunk: 4 offset bits up to 16 bytes, one more for each doubling.
      unsigned offset_bits = 4;
      for (std::size_t p = produced - 1; p >= 0x10; p >>= 1) ++offset_bits;
      const unsigned length_bits = 16 - offset_bits;
      const std::size_t back = (token >> length_bits) + 1u;
      const std::size_t length = (token & ((1u << length_bits) - 1)) + 3u;
      if (back > produced) return std::nullopt;
      const std::size_t copy = std::min(length, limit - produced);
      for (std::size_t i = 0; i < copy; ++i, ++produced)
        out[start + produced] = out[start + produced - back];
    }
  }
  return produced;
}

}  // namespace

Lznt1Outcome decompressLznt1(ByteSpan input, std::span<std::byte> out) {
  std::size_t in = 0;
  std::size_t written = 0;
  while (written < out.size() && fitsIn(input, in, 2)) {
    const std::uint16_t header = readU16(input, in);
    if (header == 0) break;
    const std::size_t size = (header & 0x0FFFu) + 1u;
    if (((header >> 12) & 0x7u) != 3u) return corrupt(written, "LZNT1: bad chunk signature");
    if (!fitsIn(input, in + 2, size)) return corrupt(written, "LZNT1: chunk past the end of the unit");
    const ByteSpan data = input.subspan(in + 2, size);
    std::size_t produced = 0;
    if (header & 0x8000u) {
      auto decoded = decodeChunk(data, out, written);
      if (!decoded) return corrupt(written, "LZNT1: corrupt chunk");
      produced = *decoded;
    } else {
      produced = std::min(size, out.size() - written);
      std::memcpy(out.data() + written, data.data(), produced);
    }
    written += produced;
    in += 2 + size;
    // A chunk that produced less than 4,096 bytes ends the stream unless
    // another chunk follows: the gap is zeros as NTFS writes them.
    if (produced < kLznt1ChunkSize && written < out.size() && fitsIn(input, in, 2) && readU16(input, in) != 0) {
      const std::size_t gap = std::min(kLznt1ChunkSize - produced, out.size() - written);
      std::memset(out.data() + written, 0, gap);
      written += gap;
    }
  }
  return {written, std::nullopt};
}

}  // namespace dravolin
