#pragma once
// The search for lost partitions for both front ends: its two passes as
// workers of the search controller, the commit of its sector range, and the
// choice of a found file system between the passes.
//
// Pass 0 (LostSearchPass other than 1): scans the range, fills
// Session::foundFileSystems and Session::lostSearch, sets LostSearchPass to 1
// and completes with LostPassDone. After chooseFoundFileSystem, pass 1 builds
// the chosen file system's tree from Session::lostSearch (no sector read) and,
// for FAT, runs the exhaustive search over it to name the folders and list
// their files; it completes with SearchDone.
#include <cstdint>
#include <string>

#include "app/search_controller.h"
#include "app/session.h"
#include "common/error.h"

namespace dravolin {

// The message shown when the search found nothing.
inline constexpr const char* kNoFileSystemsText = "No file systems could be identified.";

// Sets the wizard state for a search for lost partitions over [start, end):
// LostPartitionSearch, LostSearchPass 0, the range, and a FileSystemType that
// selects the worker ("NTFS" for the NTFS scope, else "FAT32"). Refuses an
// end beyond the disk or not above the start.
Result<void> commitLostPartitionRange(Session& session, SectorNumber start, SectorNumber end, LostSearchScope scope);

// Step 2 (a) of the wizard when "Search Exhaustive" was ticked: the range
// page's commit (its checks, messages and block), after which the search
// looks for the file systems of the type chosen, as `lost --fs` does: a FAT
// type runs the FAT scan, "NTFS" the NTFS pass. Clears what an earlier
// search found.
Result<void> commitLostSearchRange(Session& session, const std::string& startText, const std::string& endText,
                                   FsType fileSystem);

// Whether makeSearchWorker should take its worker from here.
bool isLostPartitionWorker(const Session& session, WorkerKind kind);
Result<SearchController::Worker> makeLostPartitionWorker(Session& session, const SearchController& controller,
                                                         const std::string& codePage);

// Selecting found file system `ordinal` (1-based) in the list applies it:
// FileSystemType, VolumeParameters and the selected node text take its
// values. Returns what the list shows of it (type, layout, start and end:
// an inferred volume starts at its cluster base and ends at the range end).
Result<LostChoice> selectFoundFileSystem(Session& session, std::uint32_t ordinal);

// Applies found file system `ordinal` (1-based) for the second pass:
// FileSystemType, VolumeParameters, the volume's start and end, the selected
// node text and SelectedFoundFileSystem; LostSearchPass becomes 1. Writes the
// "Selected File System : " line to the activity report.
Result<void> chooseFoundFileSystem(Session& session, std::uint32_t ordinal);

// The Step 2 (c) block of the activity report: the heading and one line per
// found file system.
void writeFoundFileSystemsBlock(Session& session);

// The tree of the chosen file system rebuilt from the session alone, as
// pass 1 starts it (tests and the log reload use it).
void rebuildLostFileSystemTree(Session& session, Job* job = nullptr);

}  // namespace dravolin
