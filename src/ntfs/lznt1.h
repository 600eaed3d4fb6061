#pragma once
// LZNT1, the compression of NTFS compressed files: a compression unit (16
// clusters) is a series of chunks, each holding up to 4,096 bytes of output,
// stored either as they are or as LZ77 tokens.
#include <cstddef>
#include <optional>
#include <span>

#include "common/byte_reader.h"
#include "common/error.h"

namespace dravolin {

inline constexpr std::size_t kLznt1ChunkSize = 4096;

struct Lznt1Outcome {
  std::size_t bytes_written = 0;  // output bytes decoded (from the start of out)
  std::optional<Error> error;     // set when a chunk was corrupt; decoding stopped there
};

// Decompresses input into out, chunk after chunk, until a chunk header of 0,
// the end of input, or out is full. A chunk whose header or tokens are
// corrupt (a back-reference before the chunk start, a chunk past the end of
// input) ends the decoding: what came before it stays in out. Bytes of out
// past bytes_written are left as they were. Bounded by input and out.
[[nodiscard]] Lznt1Outcome decompressLznt1(ByteSpan input, std::span<std::byte> out);

}  // namespace dravolin
