#include "ntfs/index_entry.h"

#include <algorithm>

namespace dravolin {

Result<IndexEntries> parseIndexNode(ByteSpan node) {
  if (node.size() < 16) return makeError(ErrorKind::NotFound, "index node header out of range");
  IndexEntries result;
  result.header.entries_offset = readU32(node, 0);
  result.header.index_length = readU32(node, 4);
  result.header.allocated_size = readU32(node, 8);
  result.header.flags = readU32(node, 12);
  const std::size_t end = std::min<std::size_t>(result.header.index_length, node.size());
  std::size_t offset = result.header.entries_offset;
  if (offset < 16 || offset >= end || end - offset < 16)
    return makeError(ErrorKind::NotFound, "index entries out of range");
  const ByteSpan area = node.first(end);
  // Every entry is at least 16 bytes long: at most end / 16 of them.
  for (std::size_t step = 0; step <= end / 16; ++step) {
    if (!fitsIn(area, offset, 16)) break;
    IndexEntry entry;
    entry.file_reference = FileReference::fromRaw(readU64(area, offset));
    entry.length = readU16(area, offset + 8);
    entry.key_length = readU16(area, offset + 10);
    entry.flags = readU16(area, offset + 12);
    if (entry.length < 16 || entry.length % 8 != 0 || !fitsIn(area, offset, entry.length)) break;
    const ByteSpan bytes = area.subspan(offset, entry.length);
    if (entry.flags & kIndexEntryHasSubNode) {
      if (entry.length < 24) break;
      entry.sub_node_vcn = readU64(bytes, entry.length - 8u);
    }
    if (entry.flags & kIndexEntryLast) return result;
    if (entry.key_length > 0) {
      if (!fitsIn(bytes, 16, entry.key_length)) break;
      if (auto name = parseFileName(bytes.subspan(16, entry.key_length))) entry.file_name = std::move(*name);
    }
    result.entries.push_back(std::move(entry));
    offset += bytes.size();
  }
  result.damaged = true;
  return result;
}

}  // namespace dravolin
