#include "app/search_operation.h"

#include "fat/fat_search.h"

namespace dravolin {

Result<SearchController::Worker> makeSearchWorker(Session& session, const SearchController& controller,
                                                  const std::string& codePage) {
  if (!session.reader()) return makeError(ErrorKind::InvalidArgument, "no disk or image is open");
  const WorkerKind kind = controller.kind();
  if (kind != WorkerKind::FatDirectoryTree && kind != WorkerKind::FatExhaustive) {
    const std::string& type = session.state.FileSystemType;
    std::string what = kind == WorkerKind::LostPartitionSearch ? "the search for lost partitions"
                       : kind == WorkerKind::None              ? "searching this selection"
                                                               : "searching " + type + " volumes";
    return makeError(ErrorKind::InvalidArgument, what + " is not available yet");
  }
  const bool exhaustive = kind == WorkerKind::FatExhaustive;
  // The worker reads the controller's copy of the parameters, taken when the
  // controller starts; the controller outlives its worker.
  return SearchController::Worker([&session, &controller, codePage, exhaustive](Job& job) {
    FatSearchContext search{*session.reader(),
                            controller.searchVolumeParameters(),
                            controller.searchFileSystem(),
                            session.entries,
                            session.state.ExhaustiveSearch,
                            static_cast<std::uint64_t>(session.state.PartitionEnd),
                            codePage};
    if (exhaustive) runFatExhaustiveSearch(job, search);
    else runFatDirectoryTreeSearch(job, search);
  });
}

SearchTotals foundTotals(const Session& session) {
  return SearchTotals{session.entries.TotalSize, session.entries.DirectoryCount, session.entries.FileCount};
}

}  // namespace dravolin
