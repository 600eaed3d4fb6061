// Any bytes as an LZNT1 compression unit: decoding must stay inside the
// output of one 16-cluster unit and end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  std::vector<std::byte> out(64 * 1024);
  const auto outcome = decompressLznt1(ByteSpan(reinterpret_cast<const std::byte*>(data), size), out);
  if (outcome.bytes_written > out.size()) __builtin_trap();
  return 0;
}
