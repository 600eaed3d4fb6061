#include "ntfs/attribute.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace dravolin {

std::optional<std::u16string> readUtf16(ByteSpan data, std::size_t offset, std::size_t count) {
  if (count > data.size() / 2 || !fitsIn(data, offset, 2 * count)) return std::nullopt;
  std::u16string text(count, u'\0');
  if (count == 0) return text;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(text.data(), data.data() + offset, 2 * count);
  } else {
    for (std::size_t i = 0; i < count; ++i) text[i] = static_cast<char16_t>(readU16(data, offset + 2 * i));
  }
  return text;
}

namespace {

// The reason decodeAttribute gives for a field whose value lies outside its
// legal range; the message then says which.
constexpr const char* kIllegalField = "illegal field value";

// "offset 0x22: compression unit shift 64": the field's offset in the
// attribute, what it is and its value.
std::string illegalField(std::size_t offset, const char* what, std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "offset 0x%zx: ", offset);
  return text + std::string(what) + " " + std::to_string(value);
}

// Decodes the attribute at offset into a; the reason when it does not
// decode, nullptr when it does. a's strings keep their storage for reuse.
// Sizes and shifts derived from the header are checked against their legal
// ranges here, once: kIllegalField, with the message in illegal, when one is
// outside them.
const char* decodeAttribute(ByteSpan record, std::size_t offset, AttributeHeader& a, std::string& illegal) {
  if (!fitsIn(record, offset, 16)) return "attribute out of range";
  a.offset = offset;
  a.type = readU32(record, offset);
  if (a.type == 0 || a.type == static_cast<std::uint32_t>(AttributeType::End)) return "end of attributes";
  a.length = readU32(record, offset + 4);
  if (a.length < 16 || a.length % 8 != 0 || !fitsIn(record, offset, a.length)) return "attribute length out of range";
  const ByteSpan bytes = record.subspan(offset, a.length);
  a.non_resident = readU8(bytes, 8) != 0;
  const std::size_t name_length = readU8(bytes, 9);
  const std::size_t name_offset = readU16(bytes, 10);
  a.flags = readU16(bytes, 12);
  a.attribute_id = readU16(bytes, 14);
  a.name.clear();
  if (name_length > 0) {
    if (!fitsIn(bytes, name_offset, 2 * name_length)) return "attribute name out of range";
    a.name.resize(name_length);
    for (std::size_t i = 0; i < name_length; ++i) a.name[i] = static_cast<char16_t>(readU16(bytes, name_offset + 2 * i));
  }
  a.value = {};
  a.runs = {};
  a.first_vcn = a.last_vcn = a.allocated_size = a.data_size = a.initialized_size = 0;
  a.compression_unit_shift = 0;
  if (!a.non_resident) {
    if (a.length < 24) return "resident attribute too short";
    const std::size_t value_length = readU32(bytes, 16);
    const std::size_t value_offset = readU16(bytes, 20);
    if (!fitsIn(bytes, value_offset, value_length)) return "resident value out of range";
    a.value = bytes.subspan(value_offset, value_length);
    return nullptr;
  }
  if (a.length < 64) return "non-resident attribute too short";
  a.first_vcn = readU64(bytes, 16);
  a.last_vcn = readU64(bytes, 24);
  const std::size_t runs_offset = readU16(bytes, 32);
  a.compression_unit_shift = readU8(bytes, 34);
  a.allocated_size = readU64(bytes, 40);
  a.data_size = readU64(bytes, 48);
  a.initialized_size = readU64(bytes, 56);
  if (runs_offset < 64 || runs_offset > bytes.size()) return "data runs out of range";
  // A compression unit is 16 clusters, or none for an uncompressed stream.
  if (a.compression_unit_shift != 0 && a.compression_unit_shift != kCompressionUnitShift) {
    illegal = illegalField(34, "compression unit shift", a.compression_unit_shift);
    return kIllegalField;
  }
  // Bytes past the data size are never valid data.
  if (a.initialized_size > a.data_size) {
    illegal = illegalField(56, "valid data size", a.initialized_size) + " above data size " +
              std::to_string(a.data_size);
    return kIllegalField;
  }
  a.runs = bytes.subspan(runs_offset);
  return nullptr;
}

}  // namespace

Result<AttributeHeader> parseAttribute(ByteSpan record, std::size_t offset) {
  AttributeHeader a;
  std::string illegal;
  if (const char* reason = decodeAttribute(record, offset, a, illegal)) {
    if (reason == kIllegalField) return makeError(ErrorKind::Corrupt, std::move(illegal));
    return makeError(ErrorKind::NotFound, reason);
  }
  return a;
}

AttributeCursor::AttributeCursor(const MftRecord& record)
    : bytes_(record.bytes), offset_(record.header.first_attribute_offset) {}

const AttributeHeader* AttributeCursor::next() {
  // Every attribute is at least 16 bytes long, so the walk ends after at most
  // size / 16 steps even before the offset check.
  if (ended_ || steps_++ > bytes_.size() / 16) return finish(true);
  if (!fitsIn(bytes_, offset_, 4)) return finish(true);  // ran off the usable part
  if (readU32(bytes_, offset_) == static_cast<std::uint32_t>(AttributeType::End)) return finish(false);
  if (const char* reason = decodeAttribute(bytes_, offset_, current_, corrupt_)) {
    if (reason == kIllegalField) {
      corruptType_ = current_.type;
      corruptName_ = current_.name;
    }
    return finish(true);
  }
  offset_ += current_.length;
  return &current_;
}

const AttributeHeader* AttributeCursor::finish(bool damaged) {
  if (!ended_) damaged_ = damaged;
  ended_ = true;
  return nullptr;
}

AttributeWalk walkAttributes(const MftRecord& record) {
  AttributeWalk walk;
  // Records mostly hold up to eight attributes: one allocation for them.
  walk.attributes.reserve(8);
  AttributeCursor cursor(record);
  while (const AttributeHeader* attribute = cursor.next()) walk.attributes.push_back(*attribute);
  walk.damaged = cursor.damaged();
  return walk;
}

Result<AttributeHeader> findAttribute(const MftRecord& record, AttributeType type, std::u16string_view name) {
  std::size_t offset = record.header.first_attribute_offset;
  for (std::size_t step = 0; step <= record.bytes.size() / 16; ++step) {
    auto attribute = parseAttribute(record.bytes, offset);
    if (!attribute) {
      if (attribute.error().kind == ErrorKind::Corrupt) return attribute;
      break;
    }
    if (attribute->is(type) && attribute->name == name) return attribute;
    offset += attribute->length;
  }
  return makeError(ErrorKind::NotFound, "attribute not found");
}

}  // namespace dravolin
