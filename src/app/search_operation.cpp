#include "app/search_operation.h"

#include "app/lost_partition_operation.h"
#include "app/search_log_operations.h"
#include "exfat/exfat_search.h"
#include "fat/fat_search.h"
#include "ntfs/ntfs_search.h"
#include "results/read_loss_report.h"
#include "results/result_tree.h"

namespace dravolin {
namespace {

// Lines for the activity report about what the NTFS walk could not read.
std::vector<std::string> walkNotes(const NtfsSearchContext& search) {
  std::vector<std::string> notes;
  if (search.mftRunListIncomplete)
    notes.push_back("MFT Walk : the run list of $MFT covers " + std::to_string(search.mftBytesCovered) + " of " +
                    std::to_string(search.mftDataSize) +
                    " bytes; records beyond it were not read. The exhaustive search looks for them.");
  if (search.tornRecords > 0)
    notes.push_back("MFT Walk : " + std::to_string(search.tornRecords) +
                    " torn MFT record(s): only the sectors before the tear were used.");
  return notes;
}

// The activity report's lines about what a search could not read (the
// controller writes them after the search's block): the
// sectors the reader gave as zeros, and each loss of the search named with
// the folder the result tree shows for it.
void noteReadReport(Session& session, const UnreadableSectors& unreadable, const std::string& codePage) {
  std::vector<std::string> lines;
  if (!unreadable.empty()) lines.push_back("Unreadable Sectors : " + describeSectorRanges(unreadable.ranges()));
  if (!session.entries.Losses.empty()) {
    const std::uint16_t partition =
        session.state.LostPartitionSearch ? static_cast<std::uint16_t>(session.state.SelectedFoundFileSystem) : 0;
    ResultTree tree(session.entries, session.state.FileSystemType, codePage, partition);
    tree.build();
    for (const std::string& line : describeReadLosses(tree)) lines.push_back("Not Read : " + line);
  }
  session.searchReadReport = std::move(lines);
}

// A search worker run under a watch of the session's reader, so that what
// it could not read goes to the activity report when it ends (stopped
// included; a cancelled search reports nothing).
SearchController::Worker reportingReads(Session& session, const std::string& codePage,
                                        SearchController::Worker worker) {
  return [&session, codePage, worker = std::move(worker)](Job& job) {
    session.searchReadReport.clear();
    UnreadableWatch watch(*session.reader());
    worker(job);
    noteReadReport(session, watch.sectors(), codePage);
  };
}

}  // namespace

Result<SearchController::Worker> makeSearchWorker(Session& session, SearchController& controller,
                                                  const std::string& codePage) {
  if (!session.reader()) return makeError(ErrorKind::InvalidArgument, "no disk or image is open");
  const WorkerKind kind = controller.kind();
  if (session.state.LoadFromLog && kind != WorkerKind::None && kind != WorkerKind::RawCarving &&
      kind != WorkerKind::ImageCreation) {
    // A loaded log: the records come from the log and no sector is read. A
    // ".ST2C" log ends a pass of the search for lost partitions (its list of
    // found file systems is back); any other ends the search.
    return SearchController::Worker([&session, &controller](Job& job) {
      session.searchNotes.clear();
      session.mftRunList = MftRunList{};
      const bool foundList = session.loadedLog && session.loadedLog->hasNtfsLists;
      if (auto reloaded = reloadSearchLogRecords(session, job); !reloaded) {
        controller.fail(reloaded.error().message);
        return;
      }
      job.complete(foundList ? Completion::LostPassDone : Completion::SearchDone);
    });
  }
  if (isLostPartitionWorker(session, kind)) {
    auto worker = makeLostPartitionWorker(session, controller, codePage);
    if (!worker) return worker;
    return reportingReads(session, codePage, std::move(*worker));
  }
  if (kind == WorkerKind::NtfsMftWalk || kind == WorkerKind::NtfsExhaustive) {
    const bool walk = kind == WorkerKind::NtfsMftWalk;
    return reportingReads(session, codePage, [&session, &controller, walk](Job& job) {
      session.searchNotes.clear();
      NtfsSearchContext search{.reader = *session.reader(),
                               .parameters = controller.searchVolumeParameters(),
                               .entries = session.entries,
                               .mft = session.mftRunList,
                               .exhaustiveSearch = session.state.ExhaustiveSearch,
                               .partitionStart = static_cast<std::uint64_t>(session.state.PartitionStart),
                               .partitionEnd = static_cast<std::uint64_t>(session.state.PartitionEnd)};
      if (walk) {
        runNtfsMftWalk(job, search);
      } else {
        session.mftRunList = MftRunList{};
        runNtfsExhaustiveSearch(job, search);
      }
      session.searchNotes = walkNotes(search);
      if (!session.searchNotes.empty()) session.activityLog().appendLines(session.searchNotes);
    });
  }
  if (kind == WorkerKind::ExfatTree || kind == WorkerKind::ExfatExhaustive) {
    const bool exhaustive = kind == WorkerKind::ExfatExhaustive;
    return reportingReads(session, codePage, [&session, &controller, exhaustive](Job& job) {
      session.searchNotes.clear();
      session.mftRunList = MftRunList{};
      ExfatSearchContext search{.reader = *session.reader(),
                                .parameters = controller.searchVolumeParameters(),
                                .entries = session.entries,
                                .exhaustiveSearch = session.state.ExhaustiveSearch,
                                .partitionEnd = static_cast<std::uint64_t>(session.state.PartitionEnd)};
      if (session.state.LostPartitionSearch)
        search.partition = static_cast<std::uint16_t>(session.state.SelectedFoundFileSystem);
      if (exhaustive) runExfatExhaustiveSearch(job, search);
      else runExfatTreeSearch(job, search);
    });
  }
  if (kind != WorkerKind::FatDirectoryTree && kind != WorkerKind::FatExhaustive) {
    const std::string type = toString(session.state.FileSystemType);
    std::string what = kind == WorkerKind::LostPartitionSearch ? "the search for lost partitions"
                       : kind == WorkerKind::None              ? "searching this selection"
                                                               : "searching " + type + " volumes";
    return makeError(ErrorKind::InvalidArgument, what + " is not available yet");
  }
  const bool exhaustive = kind == WorkerKind::FatExhaustive;
  // The worker reads the controller's copy of the parameters, taken when the
  // controller starts; the controller outlives its worker.
  return reportingReads(session, codePage, [&session, &controller, codePage, exhaustive](Job& job) {
    session.searchNotes.clear();
    session.mftRunList = MftRunList{};
    FatSearchContext search{.reader = *session.reader(),
                            .parameters = controller.searchVolumeParameters(),
                            .fileSystemType = controller.searchFileSystem(),
                            .entries = session.entries,
                            .exhaustiveSearch = session.state.ExhaustiveSearch,
                            .partitionEnd = static_cast<std::uint64_t>(session.state.PartitionEnd),
                            .oemCodePage = codePage};
    if (exhaustive) runFatExhaustiveSearch(job, search);
    else runFatDirectoryTreeSearch(job, search);
  });
}

SearchTotals foundTotals(const Session& session) {
  // After the scan pass of a search for lost partitions nothing is in the
  // found entries yet: the directories and files it found are its records.
  const auto& s = session.state;
  if (s.LostPartitionSearch && session.entries.DirectoryCount == 0 && session.entries.FileCount == 0) {
    const LostSearchRecords& lost = session.lostSearch;
    return SearchTotals{0, lost.directoryStarts.size() + lost.ntfs.folders.size(), lost.ntfs.files.size()};
  }
  return SearchTotals{session.entries.TotalSize, session.entries.DirectoryCount, session.entries.FileCount};
}

}  // namespace dravolin
