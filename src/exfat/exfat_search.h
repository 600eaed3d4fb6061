#pragma once
// The two exFAT searches that run as Step 3 workers, in the shape of the FAT
// ones.
//
// runExfatTreeSearch: from the root cluster, reads every directory found
// (through its FAT chain, or its contiguous run when the stream says
// NoFatChain) and lists its entry sets; deleted entry sets (in-use bit
// clear) are listed as deleted files and folders. A deleted folder is read
// when the allocation bitmap shows its clusters free (else they may hold
// something else by now); everything in it counts as deleted. Polls the stop
// request after each directory and ends with requestStop + complete(Stopped).
// When it finds nothing it tells the user and runs the exhaustive search.
//
// runExfatExhaustiveSearch: sweeps the cluster heap with the read-ahead
// stream for clusters that begin with a valid entry set (its SetChecksum
// matches), so that folders whose parent entry is gone or overwritten are
// found; those not reached from the root go under "Lost" as "Dir<cluster>".
// Then lists every folder as the tree search does. Ends with
// complete(SearchDone). A stop during the sweep ends the sweep only.
//
// Folder ids are first clusters (the root: 0); a file's firstCluster is its
// stream's first cluster, extra its ValidDataLength, contiguous its
// NoFatChain flag. Times are FILETIMEs (UTC where the entry's offset is
// valid). Unreadable folder sectors become FolderSectors losses.
#include <cstdint>

#include "common/job.h"
#include "disk/sector_reader.h"
#include "entries/found_entries.h"
#include "partition/volume_parameters.h"

namespace dravolin {

struct ExfatSearchContext {
  SectorReader& reader;
  VolumeParameters parameters;     // the search's own copy
  FoundEntries& entries;
  bool& exhaustiveSearch;          // set when the tree search switches to the exhaustive search
  std::uint64_t partitionEnd = 0;  // exclusive end sector
  std::uint16_t partition = 0;     // lost-partition mode: the found file system's index
  bool lostPartitionSearch = false;
};

void runExfatTreeSearch(Job& job, ExfatSearchContext& context);
void runExfatExhaustiveSearch(Job& job, ExfatSearchContext& context);

}  // namespace dravolin
