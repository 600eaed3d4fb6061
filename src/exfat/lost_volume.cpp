#include "exfat/lost_volume.h"

#include <algorithm>
#include <set>

namespace dravolin {
namespace {

constexpr std::uint32_t kMediaEntry = 0xFFFFFFF8u;
constexpr std::size_t kSector = 512;

ExfatLostVolume volumeAt(const ExfatBootSector& boot, std::uint64_t start) {
  const std::uint64_t units = boot.sectorUnits();
  ExfatLostVolume v;
  v.start = start;
  v.end = start + boot.volumeLength * units;
  v.sectorsPerCluster = boot.sectorsPerCluster();
  v.fatOffset = std::uint64_t{boot.fatOffset} * units;
  v.fatStart = start + v.fatOffset;
  v.fatSectors = std::uint64_t{boot.fatLength} * units;
  v.clusterBase = start + std::uint64_t{boot.clusterHeapOffset} * units - 2 * v.sectorsPerCluster;
  v.rootCluster = boot.rootCluster;
  return v;
}

}  // namespace

std::optional<ExfatBootCandidate> readExfatBootCandidate(ByteSpan sector, std::uint64_t at) {
  if (!hasExfatName(sector)) return std::nullopt;
  auto boot = parseExfatBootSector(sector);
  if (!boot) return std::nullopt;
  return ExfatBootCandidate{at, *boot};
}

void ExfatLostExaminer::examine(ByteSpan chunk, std::uint64_t first) {
  const std::size_t count = chunk.size() / kSector;
  for (std::size_t i = 0; i < count; ++i) {
    const ByteSpan sector = chunk.subspan(i * kSector, kSector);
    if (auto candidate = readExfatBootCandidate(sector, first + i)) candidates_.push_back(*candidate);
  }
}

std::vector<ExfatLostVolume> ExfatLostExaminer::finish(
    const std::function<std::optional<std::uint32_t>(std::uint64_t)>& readFirstFatWord) const {
  std::vector<ExfatLostVolume> volumes;
  std::set<std::uint64_t> starts;
  auto fatConfirms = [&](const ExfatBootSector& boot, std::uint64_t start) {
    const auto word = readFirstFatWord(start + std::uint64_t{boot.fatOffset} * boot.sectorUnits());
    return word && *word == kMediaEntry;
  };
  for (const ExfatBootCandidate& c : candidates_) {
    const std::uint64_t backupDistance = kExfatBootRegionSectors * c.boot.sectorUnits();
    std::optional<std::uint64_t> start;
    if (fatConfirms(c.boot, c.sector)) start = c.sector;
    else if (c.sector >= backupDistance && fatConfirms(c.boot, c.sector - backupDistance))
      start = c.sector - backupDistance;
    if (!start || !starts.insert(*start).second) continue;
    volumes.push_back(volumeAt(c.boot, *start));
  }
  std::sort(volumes.begin(), volumes.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
  return volumes;
}

}  // namespace dravolin
