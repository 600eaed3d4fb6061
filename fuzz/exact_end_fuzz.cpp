// Any bytes as a carving candidate: the first byte picks the end rule, the
// rest is the file from its header on. Every rule must stay inside the
// bytes, give a length within them, and answer the same in memory and when
// the bytes are fetched a buffer at a time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "raw/exact_end.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  if (size < 1) return 0;
  constexpr unsigned kRules = static_cast<unsigned>(EndRule::Compound) + 1;
  const auto rule = static_cast<EndRule>(data[0] % kRules);
  const ByteSpan file(reinterpret_cast<const std::byte*>(data + 1), size - 1);
  CandidateBytes memory(file, [](ByteSpan sector) { return !sector.empty() && sector[0] == std::byte{0xA5}; });
  const ExactEnd inMemory = findExactEnd(rule, memory, file.size());
  if ((inMemory.outcome == EndOutcome::Found || inMemory.outcome == EndOutcome::Partial) &&
      inMemory.length > file.size())
    std::abort();
  // The same bytes fetched a buffer at a time from sector-aligned offsets.
  std::vector<std::byte> padded(file.begin(), file.end());
  padded.resize((file.size() + 511) / 512 * 512);
  CandidateBytes fetched(
      file.size(),
      [&](std::uint64_t offset, std::span<std::byte> out) {
        std::memcpy(out.data(), padded.data() + offset, out.size());
        return out.size();
      },
      [](ByteSpan sector) { return !sector.empty() && sector[0] == std::byte{0xA5}; });
  const ExactEnd byFetch = findExactEnd(rule, fetched, file.size());
  if (!(byFetch == inMemory)) std::abort();
  return 0;
}
