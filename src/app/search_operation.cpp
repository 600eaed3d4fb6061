#include "app/search_operation.h"

#include "fat/fat_search.h"

namespace dravolin {

Result<SearchController::Worker> makeSearchWorker(Session& session, SearchController& controller,
                                                  const SearchRequest& request) {
  const WorkerKind kind = controller.kind();
  if (kind == WorkerKind::FatDirectoryTree || kind == WorkerKind::FatExhaustive) {
    const bool exhaustive = kind == WorkerKind::FatExhaustive;
    return SearchController::Worker([&session, &controller, exhaustive, codePage = request.codePage](Job& job) {
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
  return makeError(ErrorKind::InvalidArgument,
                   "searching " + session.state.FileSystemType + " volumes is not available yet");
}

std::unique_ptr<ResultTree> buildResultTree(Session& session, const SearchRequest& request) {
  auto tree = std::make_unique<ResultTree>(session.entries, session.state.FileSystemType, request.codePage);
  tree->build();
  return tree;
}

}  // namespace dravolin
