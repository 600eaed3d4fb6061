#pragma once
// Rescue imaging of a failing disk into one image file, kept in a mapfile
// of GNU ddrescue's format so that it can stop and continue (also with
// ddrescue itself). The passes, as ddrescue runs them:
//  1. copying: the non-tried areas in large reads; a failed large read is
//     read again in clusters of 64 KiB, a failed cluster is marked
//     non-trimmed and the copy skips ahead, further on each error in a row;
//     a second pass in the other direction reads what was skipped;
//  2. trimming: each non-trimmed area is read sector by sector from its
//     leading edge and from its trailing edge up to the first bad sector;
//     what lies between is non-scraped;
//  3. scraping: the non-scraped areas sector by sector;
//  4. retrying: --retries passes over the bad sectors, alternating direction.
// What is finished is never read again. The image is opened without
// truncation, so a run that continues writes into the image it began;
// sectors never read stay zeros there.
#include "common/error.h"
#include "common/job.h"
#include "imaging/image_creation.h"

namespace dravolin {

// Sectors of one read in and after a failing area (64 KiB); healthy areas
// move in the request's large transfers.
inline constexpr std::uint64_t kRescueClusterSectors = 128;
// Sectors the first pass skips after its first error (64 KiB); the skip
// doubles on each error in a row up to a hundredth of the range.
inline constexpr std::uint64_t kRescueInitialSkipSectors = 128;
// The longest the mapfile goes unsaved while reading.
inline constexpr int kMapfileSaveSeconds = 10;

// Runs under the Job contract like runImageCreation, for a request whose
// settings name a mapfile and an image file (not a disk, not pieces). Stop
// ends the run after the current read with the mapfile saved.
[[nodiscard]] Result<void> runRescueImaging(Job& job, const ImagingRequest& request, ImagingResult& result);

}  // namespace dravolin
