// Any bytes as an exFAT folder: the entry-set decoder at every entry must
// stay inside the buffer whatever the counts and lengths say.
#include <cstddef>
#include <cstdint>

#include "exfat/directory_entry.h"
#include "exfat/upcase_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  const ByteSpan bytes(reinterpret_cast<const std::byte*>(data), size);
  for (std::size_t at = 0; at < size; at += kExfatEntrySize) {
    const EntrySetOutcome outcome = decodeExfatEntrySet(bytes, at);
    if (outcome.set) {
      (void)exfatTimestampToFileTime(outcome.set->created);
      (void)exfatTimestampToFileTime(outcome.set->modified);
      (void)exfatTimestampToFileTime(outcome.set->accessed);
    }
    (void)decodeExfatVolumeLabel(bytes.subspan(at));
  }
  (void)expandExfatUpcaseTable(bytes);
  (void)exfatTableChecksum(bytes);
  return 0;
}
