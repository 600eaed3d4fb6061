// Any bytes as an index buffer ("INDX") or an index root value: the update
// sequence and the entry walk must stay inside the buffer and end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/index_buffer.h"
#include "ntfs/index_root.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  if (size > 64 * 1024) return 0;
  std::vector<std::byte> buffer(reinterpret_cast<const std::byte*>(data),
                                reinterpret_cast<const std::byte*>(data) + size);
  (void)parseIndexRoot(buffer);
  (void)declaredIndexBufferSize(buffer);
  (void)readIndexBuffer(buffer);
  return 0;
}
