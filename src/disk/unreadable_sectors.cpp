#include "disk/unreadable_sectors.h"

#include <algorithm>

namespace dravolin {

UnreadableSectors::UnreadableSectors(const UnreadableSectors& other) {
  std::lock_guard lock(other.mutex_);
  ranges_ = other.ranges_;
  total_ = other.total_;
}

UnreadableSectors& UnreadableSectors::operator=(const UnreadableSectors& other) {
  if (this == &other) return *this;
  std::vector<SectorRange> ranges;
  std::uint64_t total = 0;
  {
    std::lock_guard lock(other.mutex_);
    ranges = other.ranges_;
    total = other.total_;
  }
  std::lock_guard lock(mutex_);
  ranges_ = std::move(ranges);
  total_ = total;
  return *this;
}

void UnreadableSectors::add(SectorNumber first, std::uint64_t count) {
  if (count == 0) return;
  const SectorNumber last = first + count < first ? ~SectorNumber{0} : first + count;
  std::lock_guard lock(mutex_);
  // Sectors are lost in ascending order almost always: the common case
  // extends or follows the last range.
  if (ranges_.empty() || first > ranges_.back().end) {
    ranges_.push_back({first, last});
    total_ += last - first;
    return;
  }
  // First range that ends at or after first (it may touch or overlap).
  auto it = std::lower_bound(ranges_.begin(), ranges_.end(), first,
                             [](const SectorRange& r, SectorNumber s) { return r.end < s; });
  SectorRange merged{first, last};
  auto stop = it;
  while (stop != ranges_.end() && stop->start <= merged.end) {
    merged.start = std::min(merged.start, stop->start);
    merged.end = std::max(merged.end, stop->end);
    total_ -= stop->count();
    ++stop;
  }
  it = ranges_.erase(it, stop);
  ranges_.insert(it, merged);
  total_ += merged.count();
}

void UnreadableSectors::add(const UnreadableSectors& other) {
  for (const SectorRange& r : other.ranges()) add(r.start, r.count());
}

void UnreadableSectors::clear() {
  std::lock_guard lock(mutex_);
  ranges_.clear();
  total_ = 0;
}

bool UnreadableSectors::empty() const {
  std::lock_guard lock(mutex_);
  return ranges_.empty();
}

bool UnreadableSectors::contains(SectorNumber sector) const { return countIn(sector, 1) == 1; }

std::vector<SectorRange> UnreadableSectors::rangesIn(SectorNumber first, std::uint64_t count) const {
  std::vector<SectorRange> out;
  if (count == 0) return out;
  const SectorNumber last = first + count < first ? ~SectorNumber{0} : first + count;
  std::lock_guard lock(mutex_);
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), first,
                             [](SectorNumber s, const SectorRange& r) { return s < r.end; });
  for (; it != ranges_.end() && it->start < last; ++it)
    out.push_back({std::max(it->start, first), std::min(it->end, last)});
  return out;
}

std::uint64_t UnreadableSectors::countIn(SectorNumber first, std::uint64_t count) const {
  std::uint64_t n = 0;
  for (const SectorRange& r : rangesIn(first, count)) n += r.count();
  return n;
}

std::uint64_t UnreadableSectors::total() const {
  std::lock_guard lock(mutex_);
  return total_;
}

std::vector<SectorRange> UnreadableSectors::ranges() const {
  std::lock_guard lock(mutex_);
  return ranges_;
}

std::string describeSectorRanges(const std::vector<SectorRange>& ranges, std::size_t maxRanges) {
  std::uint64_t total = 0;
  for (const SectorRange& r : ranges) total += r.count();
  std::string out = std::to_string(total) + (total == 1 ? " sector" : " sectors");
  if (ranges.empty()) return out;
  out += ": ";
  const std::size_t shown = std::min(ranges.size(), maxRanges);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) out += ", ";
    out += std::to_string(ranges[i].start);
    if (ranges[i].count() > 1) out += "-" + std::to_string(ranges[i].end - 1);
  }
  if (shown < ranges.size()) out += ", ... (" + std::to_string(ranges.size() - shown) + " more ranges)";
  return out;
}

}  // namespace dravolin
