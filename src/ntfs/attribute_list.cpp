#include "ntfs/attribute_list.h"

#include <algorithm>
#include <unordered_set>

namespace dravolin {

Result<std::vector<AttributeListEntry>> parseAttributeList(ByteSpan value) {
  std::vector<AttributeListEntry> entries;
  std::size_t offset = 0;
  // Each entry takes at least 26 bytes: at most size / 26 of them.
  for (std::size_t step = 0; step <= value.size() / 26; ++step) {
    if (!fitsIn(value, offset, 26)) break;
    AttributeListEntry entry;
    entry.type = readU32(value, offset);
    if (entry.type == 0 || entry.type == static_cast<std::uint32_t>(AttributeType::End)) break;
    entry.length = readU16(value, offset + 4);
    if (entry.length < 26 || !fitsIn(value, offset, entry.length)) break;
    const ByteSpan bytes = value.subspan(offset, entry.length);
    const std::size_t name_length = readU8(bytes, 6);
    const std::size_t name_offset = readU8(bytes, 7);
    if (name_length > 0) {
      auto name = readUtf16(bytes, name_offset, name_length);
      if (!name) break;
      entry.name = std::move(*name);
    }
    entry.starting_vcn = readU64(bytes, 8);
    entry.reference = FileReference::fromRaw(readU64(bytes, 16));
    entry.attribute_id = readU16(bytes, 24);
    entries.push_back(std::move(entry));
    offset += bytes.size();
  }
  if (entries.empty()) return makeError(ErrorKind::NotFound, "attribute list empty or damaged");
  return entries;
}

std::vector<AttributeListEntry> selectDataExtents(const std::vector<AttributeListEntry>& entries) {
  std::vector<AttributeListEntry> extents;
  std::unordered_set<std::uint64_t> seen;
  for (const auto& entry : entries)
    if (entry.is(AttributeType::Data) && entry.name.empty() && seen.insert(entry.starting_vcn).second)
      extents.push_back(entry);
  // Starting VCNs are unique here, so the order is fully determined.
  std::sort(extents.begin(), extents.end(),
                   [](const auto& a, const auto& b) { return a.starting_vcn < b.starting_vcn; });
  return extents;
}

bool namesOtherRecords(const std::vector<AttributeListEntry>& entries, std::uint64_t base) {
  return std::any_of(entries.begin(), entries.end(),
                     [&](const auto& entry) { return entry.reference.record_number != base; });
}

}  // namespace dravolin
