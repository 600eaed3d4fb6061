#include "ntfs/index_buffer.h"

namespace dravolin {

std::uint64_t declaredIndexBufferSize(ByteSpan buffer) {
  if (!fitsIn(buffer, 24, 16)) return 0;
  return std::uint64_t{readU32(buffer, 24 + 8)} + 24;
}

Result<IndexBuffer> readIndexBuffer(std::span<std::byte> buffer) {
  if (!matchesAscii(ByteSpan(buffer), 0, "INDX")) return makeError(ErrorKind::NotFound, "not an index buffer");
  auto fixed = applyUpdateSequence(buffer);
  if (!fixed) return std::unexpected(fixed.error());
  const ByteSpan usable = ByteSpan(buffer).first(fixed->usable_size);
  if (usable.size() < 40) return makeError(ErrorKind::NotFound, "index buffer too short");
  IndexBuffer result;
  result.vcn = readU64(usable, 16);
  result.torn = fixed->torn;
  result.usable_size = usable.size();
  auto node = parseIndexNode(usable.subspan(24));
  if (!node) return std::unexpected(node.error());
  result.node = std::move(*node);
  return result;
}

}  // namespace dravolin
