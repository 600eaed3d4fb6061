#pragma once
// The two NTFS searches that run as Step 3 workers.
//
// runNtfsMftWalk: the ordinary search. Loads the MFT run list of the volume
// (cleared first, kept in context.mft for the saving), reads every record in
// MFT order, numbers it (its own number where the record carries one, else
// its position) and inserts folders and files straight into the found
// entries with their MFT numbers as ids. When the walk finds nothing it tells
// the user (prompter().inform with kSwitchingToExhaustiveText), sets
// context.exhaustiveSearch and runs runNtfsExhaustiveSearch in its place.
//
// runNtfsExhaustiveSearch: scans the sector range for "FILE" records and
// "INDX" buffers, numbers folders from index entries and files by position,
// confirms the layout of each folder by its index buffer and assembles the
// tree of file system 1 into the found entries; each entry's extra field
// holds the sector of its record, so that the saving can read it without
// the MFT run list.
//
// What could not be read is named in entries.Losses and the search goes on:
// the walk names the records lying in unreadable sectors (MftRecord, by
// number, consecutive ones together); the scan names them where the
// numbered records around the gap give their numbers, and names an index
// buffer it could not read whole (FolderSectors, by its folder's number).
//
// Both reset the found entries first, report percent, status and statistics
// through the job, call job.checkpoint() between units of work (Back unwinds
// them) and end with job.complete(...) as the FAT searches do.
#include <cstdint>
#include <functional>

#include "common/job.h"
#include "disk/sector_reader.h"
#include "entries/found_entries.h"
#include "ntfs/mft_reader.h"
#include "ntfs/scan_lists.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// Built with designated initialisers; new members go at the end with a default.
struct NtfsSearchContext {
  SectorReader& reader;
  VolumeParameters parameters;       // the search's own copy
  FoundEntries& entries;
  MftRunList& mft;                   // loaded by the walk; empty after a scan
  bool& exhaustiveSearch;            // set when the walk hands over to the scan
  std::uint64_t partitionStart = 0;  // device sector of the boot sector
  std::uint64_t partitionEnd = 0;    // exclusive end sector
  // What the walk reports beside the found entries (for the activity
  // report): records with a torn sector, of which only the sectors before the
  // tear were used, and whether the run list of $MFT covers less than $MFT's
  // data size (the walk then lists only the records it reached).
  std::uint64_t tornRecords = 0;
  bool mftRunListIncomplete = false;
  std::uint64_t mftBytesCovered = 0;
  std::uint64_t mftDataSize = 0;
  // The search for lost partitions: the scan also collects NTFS boot sectors
  // (a backup copy at a volume's last sector stands for its primary),
  // confirms the layout of each, infers layouts from index buffers, and hands
  // the layouts and lists over here instead of building the tree; it does
  // not complete the job.
  NtfsLostResult* lostResult = nullptr;
  // Sees every chunk the sweep reads (first sector, bytes), so that another
  // search can share the one reading of the range.
  std::function<void(ByteSpan, SectorNumber)> chunkObserver = nullptr;
};

void runNtfsMftWalk(Job& job, NtfsSearchContext& context);
void runNtfsExhaustiveSearch(Job& job, NtfsSearchContext& context);

}  // namespace dravolin
