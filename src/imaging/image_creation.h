#pragma once
// The imaging worker: copies sectors [start, end) of the source, sector for
// sector, into image files (one file or 650 MiB pieces) or onto another
// disk from its sector 0 onward. Reads go through the sector reader as
// one-sector calls, so its end guard and bad-sector policy apply to every
// sector, but healthy stretches move in large transfers; what stays
// unreadable is written as zeros and listed in a text file beside the image.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/job.h"
#include "disk/image_set.h"
#include "disk/sector_reader.h"
#include "imaging/imaging_settings.h"
#include "logs/log_file.h"

namespace dravolin {

// Sectors moved per transfer while the disk reads cleanly (4 MiB).
inline constexpr std::uint32_t kImagingTransferSectors = 8192;

inline constexpr const char* kImageCompleted = "Image creation completed successfully.";
inline constexpr const char* kImageAborted = "Image creation aborted.";

struct ImagingRequest {
  SectorReader* source = nullptr;
  SectorNumber start = 0;  // PartitionStart
  SectorNumber end = 0;    // PartitionEnd, exclusive
  ImagingSettings settings;
  SectorReader* target = nullptr;  // the target disk when settings.ImageToDisk
  LogFile* activityLog = nullptr;
  // The elapsed-time clock of the progress page, "%d : %d : %d".
  std::function<std::string()> elapsedText;
  std::uint64_t pieceSectors = kImagePieceSectors;  // smaller only in tests
  std::uint32_t transferSectors = kImagingTransferSectors;
};

struct ImagingResult {
  // Sectors copied so far; read by the front end while the worker runs.
  std::atomic<std::uint64_t> sectorsCopied{0};
  // Read after the worker has ended:
  SectorNumber currentSector = 0;
  bool completed = false;
  std::vector<std::filesystem::path> pieces;
  std::uint64_t unreadableSectors = 0;
  std::filesystem::path badSectorList;  // empty when every sector was read
  std::string message;                  // kImageCompleted or kImageAborted
  std::string error;                    // why a copy was aborted (a failed write)
};

// Runs the imaging under the Job contract. A piece that cannot be created
// ends the worker at once with that error (nothing is logged, no completion
// is reported); Stop ends the copy after the current transfer with "Image
// creation aborted.".
[[nodiscard]] Result<void> runImageCreation(Job& job, const ImagingRequest& request, ImagingResult& result);

}  // namespace dravolin
