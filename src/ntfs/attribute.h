#pragma once
// Attribute headers of an MFT record and the walk over them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "common/error.h"
#include "ntfs/mft_record.h"

namespace dravolin {

enum class AttributeType : std::uint32_t {
  StandardInformation = 0x10,
  AttributeList = 0x20,
  FileName = 0x30,
  ObjectId = 0x40,
  SecurityDescriptor = 0x50,
  VolumeName = 0x60,
  VolumeInformation = 0x70,
  Data = 0x80,
  IndexRoot = 0x90,
  IndexAllocation = 0xA0,
  Bitmap = 0xB0,
  ReparsePoint = 0xC0,
  End = 0xFFFFFFFF,
};

inline constexpr std::uint16_t kAttributeCompressionMask = 0x00FF;  // 0x0001: LZNT1
inline constexpr std::uint16_t kAttributeEncrypted = 0x4000;
inline constexpr std::uint16_t kAttributeSparse = 0x8000;
inline constexpr std::u16string_view kIndexNameI30 = u"$I30";
// The only compression unit NTFS writes: 2^4 clusters.
inline constexpr std::uint8_t kCompressionUnitShift = 4;

struct AttributeHeader {
  std::size_t offset = 0;       // in the record
  std::uint32_t type = 0;
  std::uint32_t length = 0;     // whole attribute, header included
  bool non_resident = false;
  std::u16string name;          // empty for an unnamed attribute
  std::uint16_t flags = 0;
  std::uint16_t attribute_id = 0;
  // Resident attributes: the value.
  ByteSpan value;
  // Non-resident attributes.
  std::uint64_t first_vcn = 0;
  std::uint64_t last_vcn = 0;
  std::uint8_t compression_unit_shift = 0;  // log2 of the clusters of a compression unit: 0 or 4
  std::uint64_t allocated_size = 0;
  std::uint64_t data_size = 0;
  std::uint64_t initialized_size = 0;
  ByteSpan runs;                // the run bytes, bounded by the attribute length

  bool is(AttributeType t) const { return type == static_cast<std::uint32_t>(t); }
  bool isCompressed() const { return (flags & kAttributeCompressionMask) != 0; }
  bool isEncrypted() const { return (flags & kAttributeEncrypted) != 0; }
  bool isSparse() const { return (flags & kAttributeSparse) != 0; }
  // Bytes of the stream: the value length when resident.
  std::uint64_t size() const { return non_resident ? data_size : value.size(); }
};

// Decodes the attribute at offset of a record. NotFound at the end marker,
// at a length of 0 or one not a multiple of 8 or below the header, and at any
// field (name, value, runs) that lies outside the attribute or the record.
// Corrupt, naming the field's offset in the attribute and its value ("offset
// 0x22: compression unit shift 64"), when a non-resident header holds a
// compression unit shift other than 0 or 4 or a valid data size above its
// data size: nothing past the decoder sees such values.
[[nodiscard]] Result<AttributeHeader> parseAttribute(ByteSpan record, std::size_t offset);

// Every attribute of the record in order, from its first-attribute offset to
// the end marker. The walk stops at the first attribute that does not parse,
// keeping those before it; damaged reports whether it stopped that way
// rather than at the end marker.
struct AttributeWalk {
  std::vector<AttributeHeader> attributes;
  bool damaged = false;
};
[[nodiscard]] AttributeWalk walkAttributes(const MftRecord& record);

// The same walk one attribute at a time, decoded into one reused header: no
// allocation per record for the passes that look at every record once.
class AttributeCursor {
 public:
  explicit AttributeCursor(const MftRecord& record);
  // The next attribute, valid until the next call; nullptr at the end
  // marker or at the first attribute that does not parse.
  const AttributeHeader* next();
  // After next() returned nullptr: whether the walk stopped at damage.
  bool damaged() const { return damaged_; }
  // When the walk stopped at an attribute whose header holds a value outside
  // its legal range: what parseAttribute says of it (empty otherwise), and
  // that attribute's type and name.
  const std::string& corrupt() const { return corrupt_; }
  bool corruptAttributeIs(AttributeType type, std::u16string_view name) const {
    return !corrupt_.empty() && corruptType_ == static_cast<std::uint32_t>(type) && corruptName_ == name;
  }
  // Where the walk stands: just after the last attribute returned.
  std::size_t offset() const { return offset_; }

 private:
  const AttributeHeader* finish(bool damaged);
  ByteSpan bytes_;
  std::size_t offset_;
  std::size_t steps_ = 0;
  bool ended_ = false;
  bool damaged_ = false;
  AttributeHeader current_;
  std::string corrupt_;
  std::uint32_t corruptType_ = 0;
  std::u16string corruptName_;
};

// The first attribute of the type with that name (empty: unnamed). NotFound
// when the walk ends, normally or at damage, before meeting one; Corrupt
// when it ends at an attribute holding an illegal value.
[[nodiscard]] Result<AttributeHeader> findAttribute(const MftRecord& record, AttributeType type,
                                                    std::u16string_view name = {});

// Reads the UTF-16LE text of count code units at offset; nullopt when it
// does not fit.
std::optional<std::u16string> readUtf16(ByteSpan data, std::size_t offset, std::size_t count);

}  // namespace dravolin
