// Any bytes as a sector: the fast header dispatch must agree with the plain
// match over every signature, and the file-end helpers must stay inside
// their buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "raw/file_end.h"
#include "raw/header_match.h"
#include "raw/signature_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  static const SignatureTable table = [] {
    ExtensionTicks all{};
    all.fill(true);
    return buildSignatureTable(all);
  }();
  static const HeaderDispatch dispatch(table);
  ByteSpan bytes(reinterpret_cast<const std::byte*>(data), size);
  const HeaderMatch plain = MatchHeader(table, bytes);
  const HeaderMatch fast = dispatch.match(bytes);
  if (plain.entry != fast.entry || plain.header != fast.header) std::abort();
  (void)compoundDirectoryType(bytes);
  if (size > 4) (void)findSignature(bytes.subspan(4), bytes.first(4));
  return 0;
}
