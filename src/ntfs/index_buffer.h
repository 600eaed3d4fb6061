#pragma once
// Index buffers ("INDX"): the blocks of a folder's $I30 index allocation,
// each protected by an update sequence on every 512-byte stride.
#include <cstdint>
#include <span>

#include "common/error.h"
#include "ntfs/index_entry.h"

namespace dravolin {

struct IndexBuffer {
  std::uint64_t vcn = 0;  // position within the folder's index allocation
  IndexEntries node;
  bool torn = false;      // a stride did not carry the sequence number
  std::size_t usable_size = 0;
};

// Checks "INDX", applies the update sequence to every stride in place and
// walks the entries within the usable part. NotFound when the signature, the
// update sequence or the node header (entry offset beyond the buffer) is
// unusable.
[[nodiscard]] Result<IndexBuffer> readIndexBuffer(std::span<std::byte> buffer);

// The size the buffer declares for itself: its node's allocated size + 24
// (0 when the header lies outside the span).
std::uint64_t declaredIndexBufferSize(ByteSpan buffer);

}  // namespace dravolin
