#include "raw/header_match.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace dravolin {
namespace {

bool bytesAt(ByteSpan sector, std::int64_t offset, const std::vector<std::byte>& bytes) {
  if (offset < 0 || !fitsIn(sector, static_cast<std::size_t>(offset), bytes.size())) return false;
  return bytes.empty() || std::memcmp(sector.data() + offset, bytes.data(), bytes.size()) == 0;
}

}  // namespace

HeaderMatch MatchHeader(const SignatureTable& table, ByteSpan sector) {
  for (std::size_t e = 0; e < table.size(); ++e) {
    const ExtensionEntry& entry = table[e];
    if (!entry.selected) continue;
    for (std::size_t h = 0; h < entry.headers.size(); ++h)
      if (bytesAt(sector, entry.headers[h].offset, entry.headers[h].bytes))
        return {static_cast<int>(e), static_cast<int>(h), entry.MaxSearchSectors};
  }
  return {};
}

HeaderDispatch::HeaderDispatch(const SignatureTable& table) {
  std::map<std::int32_t, std::vector<Candidate>> byOffset;
  for (std::size_t e = 0; e < table.size(); ++e) {
    const ExtensionEntry& entry = table[e];
    if (!entry.selected) continue;
    for (std::size_t h = 0; h < entry.headers.size(); ++h) {
      const SignatureRecord& sig = entry.headers[h];
      if (sig.offset < 0) continue;  // a header never stands "anywhere"
      Candidate c{static_cast<std::uint32_t>(e * 65536 + h), static_cast<int>(e), static_cast<int>(h),
                  entry.MaxSearchSectors, sig.bytes};
      if (sig.bytes.empty()) always_.push_back(std::move(c));
      else byOffset[sig.offset].push_back(std::move(c));
    }
  }
  for (auto& [offset, list] : byOffset) {
    OffsetGroup group;
    group.offset = static_cast<std::uint32_t>(offset);
    std::stable_sort(list.begin(), list.end(), [](const Candidate& a, const Candidate& b) {
      auto fa = std::to_integer<unsigned>(a.bytes[0]), fb = std::to_integer<unsigned>(b.bytes[0]);
      return fa != fb ? fa < fb : a.priority < b.priority;
    });
    std::size_t i = 0;
    for (unsigned value = 0; value < 256; ++value) {
      group.begin[value] = static_cast<std::uint32_t>(i);
      while (i < list.size() && std::to_integer<unsigned>(list[i].bytes[0]) == value) ++i;
    }
    group.begin[256] = static_cast<std::uint32_t>(i);
    group.candidates = std::move(list);
    groups_.push_back(std::move(group));
  }
  std::sort(always_.begin(), always_.end(),
            [](const Candidate& a, const Candidate& b) { return a.priority < b.priority; });
}

HeaderMatch HeaderDispatch::matchCandidates(ByteSpan sector) const {
  const Candidate* best = always_.empty() ? nullptr : &always_.front();
  for (const OffsetGroup& group : groups_) {
    if (group.offset >= sector.size()) continue;
    const auto key = std::to_integer<unsigned>(sector[group.offset]);
    for (std::uint32_t i = group.begin[key]; i < group.begin[key + 1]; ++i) {
      const Candidate& c = group.candidates[i];
      if (best && c.priority >= best->priority) break;  // sorted: nothing better follows
      if (bytesAt(sector, group.offset, c.bytes)) {
        best = &c;
        break;
      }
    }
  }
  if (!best) return {};
  return {best->entry, best->header, best->maxSearchSectors};
}

}  // namespace dravolin
