#pragma once
// Writing one carved file: the free-space check of the target with its
// prompts, one folder per type below the saving path, files numbered in the
// order found (JPEG/0.JPEG, JPEG/1.JPEG, ...) after the highest number an
// earlier run left in that folder, so that no earlier file is overwritten;
// the sectors copied in large pieces, the last one cut to the file's exact
// length when it is known.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/byte_reader.h"

#include "common/job.h"
#include "disk/sector_reader.h"

namespace dravolin {

inline constexpr const char* kInsufficientTargetSpaceMessage =
    "Insufficient free space on target. Please change target drive.";
inline constexpr const char* kStopRawSearchQuestion = "Are you sure you want to stop Raw Search/Save process";

// Results of SaveCarvedFile.
inline constexpr int kCarveWriteFailed = 0;
inline constexpr int kCarveWritten = 1;
inline constexpr int kCarveStopChosen = 2;

struct CarvedFileTarget {
  std::filesystem::path savingPath;
  // Free bytes of the drive holding a folder; nothing when unknown (the
  // write is then attempted). Empty: the file system is asked.
  std::function<std::optional<std::uint64_t>(const std::filesystem::path&)> freeSpace;
  // The saving-path dialog shown after the target was found full: the new
  // folder (already checked), or "" when none was given.
  std::function<std::string()> askSavingPath;
};

class CarvedFileWriter {
 public:
  CarvedFileWriter(SectorReader& reader, CarvedFileTarget target);

  // Writes sectors [first, end) to <saving path>/<name>/<number>.<name>,
  // where the number is counted on from the highest number that folder held
  // when this writer first wrote into it. exactBytes, when not 0 and not
  // above the sectors' bytes, is the file's length: the file is cut there.
  // Returns kCarveWritten, kCarveWriteFailed (the file could not be created
  // or a write came up short) or kCarveStopChosen (the user chose to stop at
  // the free-space prompt). lastName gets the file's full path before it is
  // created.
  int SaveCarvedFile(SectorNumber first, SectorNumber end, const std::string& name, std::uint32_t number,
                     std::string& lastName, Job& job, std::uint64_t exactBytes = 0);

  // The number after the highest "<number>.<name>" in a folder (0 when it
  // holds none or cannot be read).
  static std::uint64_t nextFreeNumber(const std::filesystem::path& folder, const std::string& name);

  // Sectors the caller already holds, read without failures: the held
  // sectors from first on (none when it holds first not), which are then
  // written without reading them again.
  using HeldSectors = std::function<ByteSpan(SectorNumber first, SectorNumber end)>;
  void setHeldSectors(HeldSectors held) { held_ = std::move(held); }

  std::uint64_t bytesRecovered() const { return bytesRecovered_.load(); }
  // The file of the last SaveCarvedFile: why it was not written (empty when
  // it was), and its sectors that could not be read and were written as zeros.
  const std::string& lastError() const { return lastError_; }
  const std::vector<SectorRange>& lastUnreadable() const { return lastUnreadable_; }
  const std::filesystem::path& savingPath() const { return target_.savingPath; }

 private:
  bool ensureFreeSpace(std::uint64_t needed, Job& job);

  SectorReader& reader_;
  CarvedFileTarget target_;
  std::vector<std::byte> buffer_;
  std::set<std::string> createdFolders_;
  // Per folder: what this run's numbers are counted on from.
  std::map<std::string, std::uint64_t> numberBase_;
  HeldSectors held_;
  std::atomic<std::uint64_t> bytesRecovered_{0};
  std::string lastError_;
  std::vector<SectorRange> lastUnreadable_;
};

}  // namespace dravolin
