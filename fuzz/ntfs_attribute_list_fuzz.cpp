// Any bytes as an attribute list value: the entry walk and the choice of
// $DATA extents must end and stay inside the value.
#include <cstddef>
#include <cstdint>

#include "ntfs/attribute_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  const ByteSpan value(reinterpret_cast<const std::byte*>(data), size);
  auto entries = parseAttributeList(value);
  if (!entries) return 0;
  (void)selectDataExtents(*entries);
  (void)namesOtherRecords(*entries, 0);
  return 0;
}
