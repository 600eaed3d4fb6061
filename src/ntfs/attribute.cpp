#include "ntfs/attribute.h"

namespace dravolin {

std::optional<std::u16string> readUtf16(ByteSpan data, std::size_t offset, std::size_t count) {
  if (count > data.size() / 2 || !fitsIn(data, offset, 2 * count)) return std::nullopt;
  std::u16string text(count, u'\0');
  for (std::size_t i = 0; i < count; ++i) text[i] = static_cast<char16_t>(readU16(data, offset + 2 * i));
  return text;
}

Result<AttributeHeader> parseAttribute(ByteSpan record, std::size_t offset) {
  if (!fitsIn(record, offset, 16)) return makeError(ErrorKind::NotFound, "attribute out of range");
  AttributeHeader a;
  a.offset = offset;
  a.type = readU32(record, offset);
  if (a.type == 0 || a.type == static_cast<std::uint32_t>(AttributeType::End))
    return makeError(ErrorKind::NotFound, "end of attributes");
  a.length = readU32(record, offset + 4);
  if (a.length < 16 || a.length % 8 != 0 || !fitsIn(record, offset, a.length))
    return makeError(ErrorKind::NotFound, "attribute length out of range");
  const ByteSpan bytes = record.subspan(offset, a.length);
  a.non_resident = readU8(bytes, 8) != 0;
  const std::size_t name_length = readU8(bytes, 9);
  const std::size_t name_offset = readU16(bytes, 10);
  a.flags = readU16(bytes, 12);
  a.attribute_id = readU16(bytes, 14);
  if (name_length > 0) {
    auto name = readUtf16(bytes, name_offset, name_length);
    if (!name) return makeError(ErrorKind::NotFound, "attribute name out of range");
    a.name = std::move(*name);
  }
  if (!a.non_resident) {
    if (a.length < 24) return makeError(ErrorKind::NotFound, "resident attribute too short");
    const std::size_t value_length = readU32(bytes, 16);
    const std::size_t value_offset = readU16(bytes, 20);
    if (!fitsIn(bytes, value_offset, value_length))
      return makeError(ErrorKind::NotFound, "resident value out of range");
    a.value = bytes.subspan(value_offset, value_length);
    return a;
  }
  if (a.length < 64) return makeError(ErrorKind::NotFound, "non-resident attribute too short");
  a.first_vcn = readU64(bytes, 16);
  a.last_vcn = readU64(bytes, 24);
  const std::size_t runs_offset = readU16(bytes, 32);
  a.compression_unit_shift = readU8(bytes, 34);
  a.allocated_size = readU64(bytes, 40);
  a.data_size = readU64(bytes, 48);
  a.initialized_size = readU64(bytes, 56);
  if (runs_offset < 64 || runs_offset > bytes.size())
    return makeError(ErrorKind::NotFound, "data runs out of range");
  a.runs = bytes.subspan(runs_offset);
  return a;
}

AttributeWalk walkAttributes(const MftRecord& record) {
  AttributeWalk walk;
  // Records mostly hold up to eight attributes: one allocation for them.
  walk.attributes.reserve(8);
  std::size_t offset = record.header.first_attribute_offset;
  // Every attribute is at least 16 bytes long, so the walk ends after at most
  // size / 16 steps even before the offset check.
  for (std::size_t step = 0; step <= record.bytes.size() / 16; ++step) {
    if (!fitsIn(record.bytes, offset, 4)) break;  // ran off the usable part
    const std::uint32_t type = readU32(record.bytes, offset);
    if (type == static_cast<std::uint32_t>(AttributeType::End)) return walk;
    auto attribute = parseAttribute(record.bytes, offset);
    if (!attribute) break;
    offset += attribute->length;
    walk.attributes.push_back(std::move(*attribute));
  }
  walk.damaged = true;
  return walk;
}

Result<AttributeHeader> findAttribute(const MftRecord& record, AttributeType type, std::u16string_view name) {
  std::size_t offset = record.header.first_attribute_offset;
  for (std::size_t step = 0; step <= record.bytes.size() / 16; ++step) {
    auto attribute = parseAttribute(record.bytes, offset);
    if (!attribute) break;
    if (attribute->is(type) && attribute->name == name) return attribute;
    offset += attribute->length;
  }
  return makeError(ErrorKind::NotFound, "attribute not found");
}

}  // namespace dravolin
