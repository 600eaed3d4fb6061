#pragma once
// The two FAT searches that run as Step 3 workers.
//
// runFatDirectoryTreeSearch: the ordinary search. Reads the root directory
// and then every directory found, in the order found, through the first
// FAT; deleted directories are read over at most 26 clusters and everything
// in them counts as deleted. It polls job.stopRequested() after each
// directory and ends with job.requestStop() + job.complete(Completion::Stopped)
// whether stopped or finished. When it finds nothing at all it tells the user
// (prompter().inform), sets ctx.exhaustiveSearch and runs the exhaustive
// search in its place, which then completes the job.
//
// runFatExhaustiveSearch: sweeps the data area for clusters that begin with
// "." and "..", makes a numbered "Dir" node for each, moves those whose
// parent is missing under "Lost", then reads the root and every found
// directory to name them and list their files. Ends with
// job.complete(Completion::SearchDone). A stop during the sweep ends the
// sweep only: the request is cleared before step 2 and the remaining steps
// run on what was found; a stop during the reading of the sub-directories
// (also a second one) ends the search.
//
// On a failing disk both read on past what they cannot read: a folder sector
// that stayed unreadable is skipped (not taken for the end of the folder)
// and the folder goes on along its chain; a long name is never gathered
// across such a sector. Each folder's unreadable sectors become one
// ReadLoss (FolderSectors, 16 entries a sector) in entries.Losses, named by
// the folder's first cluster (the root: 0). A link of a folder's chain that
// both FAT copies lost ends the chain there and, when the folder had not
// ended yet, is a FatChain loss naming the FAT sectors.
//
// Both reset the found entries first (outside the lost-partition mode),
// report percent, status and statistics through the job and call
// job.checkpoint() between units of work (so Back unwinds them with
// JobCancelled). Neither loads a search log: the caller does that instead of
// starting a search.
#include <cstdint>
#include <string>

#include "common/file_system_type.h"
#include "common/job.h"
#include "disk/sector_reader.h"
#include "entries/found_entries.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// Callers initialise the members by position: new members only ever go at
// the end, with a default.
struct FatSearchContext {
  SectorReader& reader;
  VolumeParameters parameters;      // the search's own copy
  FsType fileSystemType = FsType::Unknown;  // FAT12, FAT16 or FAT32
  FoundEntries& entries;
  bool& exhaustiveSearch;           // set when the tree search switches to the exhaustive search
  std::uint64_t partitionEnd = 0;   // exclusive end sector; 0: the reader's selection end
  std::string oemCodePage = "CP850";  // decodes short names for the statistics' last name
  // Lost-partition mode: the directory nodes came from the lost-partition
  // search; the exhaustive search skips its sweep and reads only the nodes of
  // this file system.
  bool lostPartitionSearch = false;
  std::uint16_t selectedFoundFileSystem = 0;
};

// kSwitchingToExhaustiveText (entries/found_entries.h) is the message shown
// when the tree search found nothing.

void runFatDirectoryTreeSearch(Job& job, FatSearchContext& context);
void runFatExhaustiveSearch(Job& job, FatSearchContext& context);

}  // namespace dravolin
