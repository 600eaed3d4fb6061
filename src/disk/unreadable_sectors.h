#pragma once
// The sectors a job could not read, kept as sorted, merged ranges so that a
// disk with a long failing stretch costs one entry, not one per sector.
// A job watches the reader while it runs (UnreadableWatch) and reports what
// its watch saw: how many sectors, where, and what they touched.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "disk/sector_source.h"

namespace dravolin {

struct SectorRange {
  SectorNumber start = 0;
  SectorNumber end = 0;  // exclusive
  std::uint64_t count() const { return end - start; }
  bool operator==(const SectorRange&) const = default;
};

class UnreadableSectors {
 public:
  UnreadableSectors() = default;
  UnreadableSectors(const UnreadableSectors& other);
  UnreadableSectors& operator=(const UnreadableSectors& other);

  void add(SectorNumber first, std::uint64_t count = 1);
  void add(const UnreadableSectors& other);
  void clear();

  bool empty() const;
  bool contains(SectorNumber sector) const;
  // How many of the sectors [first, first + count) are in the record.
  std::uint64_t countIn(SectorNumber first, std::uint64_t count) const;
  // The ranges that meet [first, first + count), clipped to it.
  std::vector<SectorRange> rangesIn(SectorNumber first, std::uint64_t count) const;
  std::uint64_t total() const;
  std::vector<SectorRange> ranges() const;

 private:
  mutable std::mutex mutex_;
  std::vector<SectorRange> ranges_;  // sorted by start, neither overlapping nor touching
  std::uint64_t total_ = 0;
};

// "12 sectors: 100-107, 2048-2051" (ends inclusive, as a person counts);
// at most maxRanges ranges are spelled out, then ", ... (N more ranges)".
std::string describeSectorRanges(const std::vector<SectorRange>& ranges, std::size_t maxRanges = 20);

}  // namespace dravolin
