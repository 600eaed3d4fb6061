#pragma once
// The imaging worker: copies sectors [start, end) of the source, sector for
// sector, into image files (one file or 650 MiB pieces) or onto another
// disk from its sector 0 onward. Reads go through the sector reader as
// one-sector calls, so its end guard and bad-sector policy apply to every
// sector, but healthy stretches move in large transfers; what stays
// unreadable is written as zeros and listed in a text file beside the image.
//
// Reading, writing and hashing run on their own threads joined by a ring of
// blocks, so a copy runs at the speed of its slowest side: a reader thread
// reads the blocks in sector order (the bad-sector questions and the list of
// unreadable sectors come out as from one thread), the worker's own thread
// writes them, and one thread per digest asked for (MD5, SHA-1, SHA-256)
// hashes what was written. The reader calls job.checkpoint() between its reads too, so a
// pause or a cancel reaches it at once: the Job's checkpoint must be safe to
// call from a second thread (WorkerJob's is).
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
#include "disk/unreadable_sectors.h"
#include "imaging/image_hashes.h"
#include "imaging/imaging_settings.h"
#include "logs/log_file.h"

namespace dravolin {

// Sectors moved per transfer while the disk reads cleanly (4 MiB).
inline constexpr std::uint32_t kImagingTransferSectors = 8192;
// Transfers in flight between the reader, the writer and the hashers.
inline constexpr std::uint32_t kImagingRingBlocks = 8;

inline constexpr const char* kImageCompleted = "Image creation completed successfully.";
inline constexpr const char* kImageAborted = "Image creation aborted.";

// The closing message of a copy that ran to its end: kImageCompleted when
// every sector was read, else "Image creation completed: 8 sectors could not
// be read and were written as zeros (see LIST)", the list named when it was
// written.
std::string imageCompletedMessage(std::uint64_t unreadableSectors, const std::filesystem::path& badSectorList);

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
  std::uint32_t ringBlocks = kImagingRingBlocks;
};

// How a rescue stands, read by the front end while the worker runs.
struct RescueProgress {
  std::atomic<std::uint64_t> position{0};        // the sector being read
  std::atomic<std::uint64_t> rescuedSectors{0};  // finished ('+') sectors of the range
  std::atomic<std::uint64_t> badAreas{0};        // failed areas ('*', '/', '-')
  std::atomic<std::uint64_t> badSectors{0};      // sectors in them
  std::atomic<std::uint64_t> readErrors{0};      // failed reads of this run
  std::atomic<int> phase{0};                     // 0 copying, 1 trimming, 2 scraping, 3 retrying, 4 finished
};

struct ImagingResult {
  // Sectors copied so far; read by the front end while the worker runs.
  std::atomic<std::uint64_t> sectorsCopied{0};
  RescueProgress rescue;  // counters of a rescue (a mapfile given)
  // A plain copy's unreadable sectors and their ranges so far.
  std::atomic<std::uint64_t> unreadableSoFar{0};
  std::atomic<std::uint64_t> badAreasSoFar{0};
  // Read after the worker has ended:
  SectorNumber currentSector = 0;
  bool completed = false;
  std::vector<std::filesystem::path> pieces;
  std::uint64_t unreadableSectors = 0;
  std::vector<SectorRange> unreadable;  // the same sectors as merged ranges
  std::filesystem::path badSectorList;  // empty when every sector was read
  std::string message;                  // imageCompletedMessage(...) or kImageAborted
  std::string error;                    // why a copy was aborted (a failed write)
  // MD5 and SHA-256 of the sectors copied (what was read, unreadable sectors
  // as their zeros); empty after a failed write, whose image is not whole.
  ImageHashes hashes;
  std::filesystem::path hashList;  // the first hash file written beside the image, else empty
  std::vector<std::filesystem::path> hashFiles;  // every hash file written (NAME.md5, NAME.sha256)
  std::string hashListError;       // why the list could not be written
  std::uint64_t hashedSectors = 0;  // the sectors the hashes stand for
};

// Runs the imaging under the Job contract. A piece that cannot be created
// ends the worker at once with that error (nothing is logged, no completion
// is reported); Stop ends the copy after the current transfer with "Image
// creation aborted." (the hashes then cover the sectors copied); a cancel
// unwinds from a checkpoint and leaves no hash list behind.
// Writes the hash files of result's hashes (one per algorithm, beside the
// image) and records them, or the reason they could not be written, in result.
void writeImageHashFiles(ImagingResult& result, const std::filesystem::path& hashList, const HashListContent& content);

// The closing lines of an imaging run's activity report: its hashes and hash
// files, a write error, the bad-sector list and the unreadable sectors.
void appendImageReportLines(std::vector<std::string>& lines, const ImagingResult& result,
                            const std::string& writeError, const std::string& badSectorListError);

[[nodiscard]] Result<void> runImageCreation(Job& job, const ImagingRequest& request, ImagingResult& result);

}  // namespace dravolin
