#pragma once
// Saving and loading search logs for both front ends. Loading is split as
// the wizard splits it: loadSearchLog reads and checks the whole log,
// restores the header (and the found file systems) into the session and
// keeps the records; the search worker then restores the records instead of
// searching, with no sector read (makeSearchWorker does this while
// LoadFromLog is set).
#include <string>

#include "app/session.h"
#include "common/error.h"
#include "common/job.h"
#include "results/search_log.h"

namespace dravolin {

// Writes the session's log of the kind: the header from the wizard state
// and the open disk, the found file systems when LostPartitionSearch is set,
// the NTFS lists for a ".ST2C" log in that mode, then the found directories
// and files. The path is made by searchLogSavePath. NTFS entries found by
// the MFT walk carry no record sector; their sectors are taken from the MFT
// run list so that the saving still finds each record after a reload.
// Errors: the two "Please specify ... saving log path." texts for an empty
// path, "Unable to open file. Please close if this file is opened." when the
// file cannot be created, and a write or close that fails names the path and
// the system's reason (the file is then removed). Returns the path written.
// Why a search log of an exFAT search is not written.
inline constexpr const char* kSearchLogNotForExfatText =
    "Search logs are not available for exFAT volumes: no log was written.";

[[nodiscard]] Result<std::string> saveSearchLog(Session& session, const std::string& path, SearchLogKind kind);

struct LoadedLogInfo {
  std::string path;  // the file read
  SearchLogKind kind = SearchLogKind::Results;
  // Set when the log was written on another source of the same size (an
  // image taken of the disk, or the disk an image was taken of): the line
  // the front end shows.
  std::string acceptedNote;
  // Set when the log holds a search that was stopped before its end: the
  // front end says so (kLogOfStoppedSearch); a log saved again keeps the mark.
  bool stopped = false;
};

// Reads the log at path (its name as given; the extension is compared
// without regard to case; when no file has that name, the name as the saving
// writes it, upper-cased in the same folder) and checks it against the open
// source. On success
// the wizard state takes the logged selection (the selected drive stays the
// one chosen: a log never switches the disk), the found file systems are
// restored when the log holds them, LoadFromLog is set and the records wait
// for the search worker. On any failure the session is left as it was and
// LoadFromLog is cleared; the Error's message is the wizard's text:
// "Please specify log path.", "Unable to open file.", "You Have Selected
// Wrong Disk." (also when the logged range does not fit the source), "Error
// in file."; a name that ends neither in ".ST4" nor in ".ST2C" gives
// ErrorKind::InvalidArgument with an empty message (the wizard ignores it).
// A log written on another source is accepted when that source had the same
// size: an image of the disk (see LoadedLogInfo::acceptedNote).
[[nodiscard]] Result<LoadedLogInfo> loadSearchLog(Session& session, const std::string& path);

// The search worker's part of a load: moves the kept records into the
// session (a ".ST4" log: the found directories and files through the
// insertions; a ".ST2C" log: the NTFS folder and file lists), reporting
// progress and names through the job. Clears LoadFromLog whatever happens.
// Without kept records (LoadFromLog set by hand) it is "Error in file."
// (ErrorKind::Corrupt) and the session's lists are left as they were.
[[nodiscard]] Result<void> reloadSearchLogRecords(Session& session, Job& job);

}  // namespace dravolin
