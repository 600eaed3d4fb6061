#pragma once
// Wraps a source and fails every transfer that touches a sector of a list,
// as a failing disk does. Used by tests of the bad-sector rules.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

#include "disk/sector_source.h"

namespace dravolin {

class FaultInjectingSource final : public SectorSource {
 public:
  FaultInjectingSource(SectorSource& inner, std::set<SectorNumber> badSectors)
      : inner_(inner), bad_(std::move(badSectors)) {}

  std::uint64_t sizeInBytes() const override { return inner_.sizeInBytes(); }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override;
  TransferStatus write(SectorNumber first, std::uint32_t count,
                       std::span<const std::byte> data) override;
  bool isImage() const override { return inner_.isImage(); }
  bool failsBySector() const override { return inner_.failsBySector(); }
  std::string description() const override { return inner_.description(); }
  std::uint32_t logicalSectorSize() const override { return inner_.logicalSectorSize(); }
  void setLogicalSectorSize(std::uint32_t bytes) override { inner_.setLogicalSectorSize(bytes); }

  // Number of transfers attempted, for tests that check the fallback pattern.
  std::uint64_t readCalls() const { return readCalls_.load(); }
  // Number of transfers that touched the bad sector (attempts to read it).
  std::uint64_t readsOf(SectorNumber badSector) const;
  void makeGood(SectorNumber sector) { bad_.erase(sector); }

 private:
  bool touchesBad(SectorNumber first, std::uint32_t count) const;
  SectorSource& inner_;
  std::set<SectorNumber> bad_;
  // Counted from every thread that reads (a read-ahead reads on its own).
  std::atomic<std::uint64_t> readCalls_{0};
  mutable std::mutex readsMutex_;
  std::map<SectorNumber, std::uint64_t> reads_;
};

}  // namespace dravolin
