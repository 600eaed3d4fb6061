#pragma once
// $ATTRIBUTE_LIST: where the attributes of a file spread over several MFT
// records (its base record and extension records) lie.
#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "common/error.h"
#include "ntfs/attribute.h"
#include "ntfs/mft_record.h"

namespace dravolin {

struct AttributeListEntry {
  std::uint32_t type = 0;
  std::uint16_t length = 0;
  std::u16string name;
  std::uint64_t starting_vcn = 0;
  FileReference reference;  // the record that holds the attribute (extent)
  std::uint16_t attribute_id = 0;

  bool is(AttributeType t) const { return type == static_cast<std::uint32_t>(t); }
};

// Decodes the list value (resident value or the bytes of a non-resident
// list, cut to its data size). Entries are stepped by their length, which
// must be at least 26 and lie within the value; the walk ends
// at the end of the value, at a type of 0 or 0xFFFFFFFF, or at a malformed
// entry. NotFound when not even the first entry decodes.
[[nodiscard]] Result<std::vector<AttributeListEntry>> parseAttributeList(ByteSpan value);

// The unnamed $DATA entries, each extent once (by starting VCN; the first
// one met wins), in order of starting VCN.
[[nodiscard]] std::vector<AttributeListEntry> selectDataExtents(const std::vector<AttributeListEntry>& entries);

// True when some entry names a record other than base: an attribute list
// that names only its own record needs no other record read.
[[nodiscard]] bool namesOtherRecords(const std::vector<AttributeListEntry>& entries, std::uint64_t base);

}  // namespace dravolin
