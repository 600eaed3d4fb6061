#pragma once
// Recognising the first sector of a file by the header signatures of the
// selected table entries. The first match in table order wins (entries in
// order, each entry's headers in order), so when two selected entries share
// a header the earlier one takes every such file.
#include <array>
#include <cstdint>
#include <vector>

#include "common/byte_reader.h"
#include "raw/signature_table.h"

namespace dravolin {

struct HeaderMatch {
  int entry = -1;   // index in the table, -1 = no match
  int header = -1;  // index of the header signature that matched
  std::uint32_t maxSearchSectors = 0;
  bool found() const { return entry >= 0; }
};

// Walks the table and compares every header signature of every selected
// entry with the sector's bytes at the signature's offset.
HeaderMatch MatchHeader(const SignatureTable& table, ByteSpan sector);

// The same answer as MatchHeader, found by looking up the byte at each
// signature offset in a 256-entry table: only the few signatures whose
// first byte is there are compared.
class HeaderDispatch {
 public:
  explicit HeaderDispatch(const SignatureTable& table);
  HeaderMatch match(ByteSpan sector) const {
    // Most sectors have no signature's first byte at any offset: answered
    // here without a call.
    if (always_.empty()) {
      bool possible = false;
      for (const OffsetGroup& group : groups_)
        if (group.offset < sector.size()) {
          const auto key = std::to_integer<unsigned>(sector[group.offset]);
          possible = possible || group.begin[key] != group.begin[key + 1];
        }
      if (!possible) return {};
    }
    return matchCandidates(sector);
  }

  // Asks the processor to fetch the bytes match() will look at in a sector
  // further on, so that a scan over memory does not wait for each sector.
  void prefetch(ByteSpan sector) const {
    for (const OffsetGroup& group : groups_)
      if (group.offset < sector.size()) __builtin_prefetch(sector.data() + group.offset);
  }

 private:
  HeaderMatch matchCandidates(ByteSpan sector) const;

  struct Candidate {
    std::uint32_t priority;  // entry * 65536 + header: lower wins
    int entry;
    int header;
    std::uint32_t maxSearchSectors;
    std::vector<std::byte> bytes;
  };
  struct OffsetGroup {
    std::uint32_t offset = 0;
    std::array<std::uint32_t, 257> begin{};  // candidates with first byte b: [begin[b], begin[b+1])
    std::vector<Candidate> candidates;       // sorted by first byte, then priority
  };
  std::vector<OffsetGroup> groups_;
  std::vector<Candidate> always_;  // empty signatures match any sector
};

}  // namespace dravolin
