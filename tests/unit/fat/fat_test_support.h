#pragma once
// Builders for synthetic FAT volumes in memory and a Job that records what a
// search reports, shared by the FAT engine tests.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_reader.h"
#include "common/job.h"
#include "disk/memory_source.h"
#include "entries/found_entries.h"
#include "fat/fat_layout.h"
#include "partition/volume_parameters.h"
#include "support/test_support.h"

namespace dravolin::test {

using RawEntry = std::array<std::byte, 32>;

// A short entry from an 11-byte space-padded name ("README  TXT").
inline RawEntry shortEntry(std::string_view name11, std::uint8_t attributes, std::uint32_t cluster,
                           std::uint32_t size = 0, std::uint16_t writeDate = 0x5A21, std::uint16_t writeTime = 0x6000) {
  RawEntry e{};
  for (std::size_t i = 0; i < 11; ++i) e[i] = std::byte(i < name11.size() ? static_cast<unsigned char>(name11[i]) : ' ');
  e[11] = std::byte(attributes);
  writeU16(e, 14, 0x1111);  // creation time
  writeU16(e, 16, 0x5A20);  // creation date
  writeU16(e, 18, 0x5A22);  // last-access date
  writeU16(e, 20, static_cast<std::uint16_t>(cluster >> 16));
  writeU16(e, 22, writeTime);
  writeU16(e, 24, writeDate);
  writeU16(e, 26, static_cast<std::uint16_t>(cluster & 0xFFFF));
  writeU32(e, 28, size);
  return e;
}

inline RawEntry dotEntry(std::uint32_t cluster) { return shortEntry(".", 0x10, cluster); }
inline RawEntry dotDotEntry(std::uint32_t cluster) { return shortEntry("..", 0x10, cluster); }

// The long-name entries of a name in disk order (last piece first), with
// sequence numbers and the 0x40 flag, or 0xE5 in every sequence byte when
// deleted. A name whose length is a multiple of 13 has no terminator.
inline std::vector<RawEntry> longEntries(std::u16string_view name, bool deleted = false) {
  static constexpr std::array<std::size_t, 13> offsets = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const std::size_t pieces = (name.size() + 12) / 13;
  std::vector<RawEntry> out;
  for (std::size_t k = pieces; k-- > 0;) {
    RawEntry e{};
    std::uint8_t sequence = static_cast<std::uint8_t>(k + 1);
    if (k + 1 == pieces) sequence |= 0x40;
    e[0] = std::byte(deleted ? 0xE5 : sequence);
    e[11] = std::byte(0x0F);
    for (std::size_t i = 0; i < 13; ++i) {
      const std::size_t at = k * 13 + i;
      std::uint16_t c = 0xFFFF;
      if (at < name.size()) c = name[at];
      else if (at == name.size()) c = 0;
      writeU16(e, offsets[i], c);
    }
    out.push_back(e);
  }
  return out;
}

// Long-name entries followed by their short entry.
inline std::vector<RawEntry> namedEntry(std::u16string_view longName, std::string_view name11, std::uint8_t attributes,
                                        std::uint32_t cluster, std::uint32_t size = 0, bool deleted = false) {
  auto out = longEntries(longName, deleted);
  RawEntry s = shortEntry(name11, attributes, cluster, size);
  if (deleted) s[0] = std::byte(0xE5);
  out.push_back(s);
  return out;
}

inline RawEntry deletedCopy(RawEntry e) {
  e[0] = std::byte(0xE5);
  return e;
}

// A FAT volume in memory laid out as the volume check would describe it: one
// reserved sector, two FATs, the fixed root (FAT12/16) and the data area.
class SyntheticFat {
 public:
  SyntheticFat(FatType type, std::uint32_t sectorsPerCluster, std::uint32_t fatSectors, std::uint32_t clusters,
               std::uint32_t rootEntries = 64)
      : type_(type), source_(std::make_unique<MemorySectorSource>(std::size_t{1})) {
    const std::uint64_t rootSectors = type == FatType::Fat32 ? 0 : rootEntries / 16;
    parameters.ReservedSectors = 1;
    parameters.Fat1Start = 1;
    parameters.FatSectors = fatSectors;
    parameters.Fat2Start = 1 + fatSectors;
    parameters.SectorsPerCluster = sectorsPerCluster;
    parameters.RootDirSectors = rootSectors;
    const std::uint64_t dataStart = 1 + 2ull * fatSectors + rootSectors;
    parameters.RootDirStart = type == FatType::Fat32 ? 2 : 1 + 2ull * fatSectors;
    parameters.ClusterBase = dataStart - 2ull * sectorsPerCluster;
    end = dataStart + std::uint64_t{clusters} * sectorsPerCluster;
    source_->bytes().assign(end * kSectorSize, std::byte{0});
    fileSystemType = type == FatType::Fat12 ? FsType::Fat12 : type == FatType::Fat16 ? FsType::Fat16 : FsType::Fat32;
    typeName = toString(fileSystemType);
  }

  MemorySectorSource& source() { return *source_; }
  std::uint64_t clusterSector(std::uint32_t cluster) const {
    return parameters.ClusterBase + std::uint64_t{cluster} * parameters.SectorsPerCluster;
  }

  // Writes a FAT entry into one copy (or both).
  void setFat(std::uint32_t cluster, std::uint32_t value, bool first = true, bool second = true) {
    for (int copy = 0; copy < 2; ++copy) {
      if ((copy == 0 && !first) || (copy == 1 && !second)) continue;
      const std::uint64_t start = copy == 0 ? parameters.Fat1Start : parameters.Fat2Start;
      std::span<std::byte> fat(source_->bytes().data() + start * kSectorSize, parameters.FatSectors * kSectorSize);
      switch (type_) {
        case FatType::Fat12: {
          const std::size_t at = cluster * 3 / 2;
          if (cluster % 2 == 0) {
            fat[at] = std::byte(value & 0xFF);
            fat[at + 1] = (fat[at + 1] & std::byte{0xF0}) | std::byte((value >> 8) & 0x0F);
          } else {
            fat[at] = (fat[at] & std::byte{0x0F}) | std::byte((value << 4) & 0xF0);
            fat[at + 1] = std::byte((value >> 4) & 0xFF);
          }
          break;
        }
        case FatType::Fat16: writeU16(fat, cluster * 2, static_cast<std::uint16_t>(value)); break;
        case FatType::Fat32: writeU32(fat, cluster * 4, value); break;
      }
    }
  }
  // Links clusters into a chain ending with the end value.
  void chain(const std::vector<std::uint32_t>& clusters) {
    for (std::size_t i = 0; i < clusters.size(); ++i)
      setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : endValue());
  }
  std::uint32_t endValue() const {
    return type_ == FatType::Fat12 ? 0xFFF : type_ == FatType::Fat16 ? 0xFFFF : 0x0FFFFFFF;
  }

  // Writes entries one after the other over the given sectors (16 a sector).
  void writeEntries(const std::vector<std::uint64_t>& sectors, const std::vector<RawEntry>& entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      auto target = source_->sector(sectors.at(i / 16)).subspan((i % 16) * 32, 32);
      std::copy(entries[i].begin(), entries[i].end(), target.begin());
    }
  }
  std::vector<std::uint64_t> sectorsOf(const std::vector<std::uint32_t>& clusters) const {
    std::vector<std::uint64_t> out;
    for (auto c : clusters)
      for (std::uint64_t s = 0; s < parameters.SectorsPerCluster; ++s) out.push_back(clusterSector(c) + s);
    return out;
  }
  std::vector<std::uint64_t> rootSectors() const {
    std::vector<std::uint64_t> out;
    for (std::uint64_t s = 0; s < parameters.RootDirSectors; ++s) out.push_back(parameters.RootDirStart + s);
    return out;
  }
  // Writes a directory over the chain: "." and "..", then the entries.
  void writeDirectory(const std::vector<std::uint32_t>& clusters, std::uint32_t parent,
                      std::vector<RawEntry> entries, bool linkChain = true) {
    entries.insert(entries.begin(), {dotEntry(clusters.front()), dotDotEntry(parent)});
    writeEntries(sectorsOf(clusters), entries);
    if (linkChain) chain(clusters);
  }
  void writeRoot(const std::vector<RawEntry>& entries, const std::vector<std::uint32_t>& fat32Chain = {2}) {
    if (type_ == FatType::Fat32) {
      writeEntries(sectorsOf(fat32Chain), entries);
      chain(fat32Chain);
    } else {
      writeEntries(rootSectors(), entries);
    }
  }

  VolumeParameters parameters;
  std::string typeName;
  FsType fileSystemType = FsType::Unknown;
  std::uint64_t end = 0;

 private:
  FatType type_;
  std::unique_ptr<MemorySectorSource> source_;
};

// A Job that records what a worker reports; a stop can be requested when a
// chosen status or statistics report arrives.
class RecordingJob final : public Job {
 public:
  std::vector<std::string> statuses;
  std::vector<int> percents;
  std::uint64_t statisticsCalls = 0;
  std::uint64_t sectorReports = 0;
  SearchStatistics lastStatistics;
  Completion completion = Completion::None;
  int completions = 0;
  std::uint64_t checkpoints = 0;
  ScriptedPrompter prompts;
  // Called on every statistics report; may call requestStop().
  std::function<void(RecordingJob&, const SearchStatistics&)> onStatistics;

  void setPercent(int percent) override { percents.push_back(percent); }
  void setStatus(const std::string& text) override { statuses.push_back(text); }
  void setLastName(const std::string&) override {}
  void updateStatistics(const SearchStatistics& statistics) override {
    ++statisticsCalls;
    if (statistics.format == StatisticsFormat::Sector) ++sectorReports;
    lastStatistics = statistics;
    if (onStatistics) onStatistics(*this, statistics);
  }
  void checkpoint() override { ++checkpoints; }
  bool stopRequested() const override { return stop_.load(); }
  void requestStop() override { stop_.store(true); }
  void clearStopRequest() override { stop_.store(false); }
  void complete(Completion c) override {
    completion = c;
    ++completions;
  }
  Prompter& prompter() override { return prompts; }

 private:
  std::atomic<bool> stop_{false};
};

// A node's name as UTF-8 (short names decoded with CP850).
inline std::string nameOf(const DirectoryNode& n) { return displayName(n.narrowName, n.wideName, "CP850"); }
inline std::string nameOf(const FileNode& n) { return displayName(n.narrowName, n.wideName, "CP850"); }

// Paths of every node reachable from the root, "/" separated, folders ending
// in "/", with " (deleted)" after deleted ones; the walk stops at cycles.
inline std::vector<std::string> treePaths(const FoundEntries& entries) {
  std::vector<std::string> out;
  std::vector<std::pair<std::uint32_t, std::string>> stack = {{0, ""}};
  std::size_t guard = 0;
  while (!stack.empty() && guard++ < 1000000) {
    auto [id, prefix] = stack.back();
    stack.pop_back();
    for (std::size_t f : entries.childFiles(id)) {
      const FileNode& n = entries.FileList[f];
      out.push_back(prefix + nameOf(n) + (n.isDeleted() ? " (deleted)" : ""));
    }
    for (std::size_t d : entries.childDirectories(id)) {
      const DirectoryNode& n = entries.DirectoryList[d];
      if (n.ownId == id) continue;
      out.push_back(prefix + nameOf(n) + "/" + (n.isDeleted() ? " (deleted)" : ""));
      stack.push_back({n.ownId, prefix + nameOf(n) + "/"});
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace dravolin::test
