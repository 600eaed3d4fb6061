#include "app/lost_partition_operation.h"

#include "app/wizard_steps.h"
#include "fat/fat_search.h"

namespace dravolin {

namespace {

// A new search for lost partitions forgets what the last one found.
void startLostSearchState(Session& session, LostSearchScope scope) {
  auto& s = session.state;
  s.LostPartitionSearch = true;
  s.ExhaustiveSearch = false;
  s.LostSearchPass = 0;
  s.SelectedFoundFileSystem = 0;
  session.lostSearchScope = scope;
  session.foundFileSystems.clear();
  session.lostSearch.clear();
}

}  // namespace

Result<void> commitLostSearchRange(Session& session, const std::string& startText, const std::string& endText,
                                   FsType fileSystem) {
  auto committed = commitManualRange(session, startText, endText, fileSystem);
  if (!committed) return committed;
  startLostSearchState(session, session.state.FileSystemType == FsType::Ntfs ? LostSearchScope::Ntfs
                                                                             : LostSearchScope::Fat);
  return {};
}

Result<void> commitLostPartitionRange(Session& session, SectorNumber start, SectorNumber end, LostSearchScope scope) {
  if (!session.reader()) return makeError(ErrorKind::InvalidArgument, "no disk or image is open");
  const std::uint64_t sectors = session.reader()->source().sectorCount();
  if (end <= start) return makeError(ErrorKind::InvalidArgument, "the range end must lie above its start");
  if (end > sectors)
    return makeError(ErrorKind::InvalidArgument,
                     "the range ends at sector " + std::to_string(end) + ", past the last sector of the disk (" +
                         std::to_string(sectors) + " sectors)");
  auto& s = session.state;
  s.FileSystemType = FsType::Unknown;
  const FsType type = scope == LostSearchScope::Ntfs ? FsType::Ntfs : FsType::Fat32;
  auto committed = commitManualRange(session, std::to_string(start), std::to_string(end), type);
  if (!committed) return committed;
  startLostSearchState(session, scope);
  return {};
}

bool isLostPartitionWorker(const Session& session, WorkerKind kind) {
  if (!session.state.LostPartitionSearch) return false;
  return kind == WorkerKind::LostPartitionSearch || kind == WorkerKind::NtfsExhaustive ||
         kind == WorkerKind::NtfsChosenTree;
}

void rebuildLostFileSystemTree(Session& session, Job* job) {
  buildLostFileSystemTree(session.entries, session.lostSearch, session.foundFileSystems,
                          session.state.SelectedFoundFileSystem, job);
}

Result<SearchController::Worker> makeLostPartitionWorker(Session& session, const SearchController& controller,
                                                         const std::string& codePage) {
  if (!session.reader()) return makeError(ErrorKind::InvalidArgument, "no disk or image is open");
  const WorkerKind kind = controller.kind();
  // The NTFS scan counts its pass when the controller starts it.
  const bool secondPass = kind == WorkerKind::NtfsChosenTree ||
                          (kind == WorkerKind::LostPartitionSearch && session.state.LostSearchPass == 1);
  if (!secondPass) {
    return SearchController::Worker([&session](Job& job) {
      session.searchNotes.clear();
      session.state.LostSearchPass = 1;
      LostSearchScope scope = session.state.FileSystemType == FsType::Ntfs ? LostSearchScope::Ntfs : LostSearchScope::Fat;
      if (session.lostSearchScope) scope = *session.lostSearchScope;
      LostSearchContext search{.reader = *session.reader(),
                               .rangeStart = static_cast<SectorNumber>(session.state.PartitionStart),
                               .rangeEnd = static_cast<SectorNumber>(session.state.PartitionEnd),
                               .scope = scope,
                               .found = session.foundFileSystems,
                               .records = session.lostSearch,
                               .notes = {}};
      session.entries.clear();
      runLostPartitionSearch(job, search);
      session.searchNotes = search.notes;
    });
  }
  const std::uint32_t ordinal = session.state.SelectedFoundFileSystem;
  if (ordinal == 0 || ordinal > session.foundFileSystems.size())
    return makeError(ErrorKind::InvalidArgument, "no found file system was chosen");
  const FoundFileSystem chosen = session.foundFileSystems[ordinal - 1];
  if (chosen.name == "NTFS") {
    return SearchController::Worker([&session](Job& job) {
      session.searchNotes.clear();
      session.mftRunList = MftRunList{};
      rebuildLostFileSystemTree(session, &job);
      job.complete(Completion::SearchDone);
    });
  }
  return SearchController::Worker([&session, &controller, codePage, chosen](Job& job) {
    session.searchNotes.clear();
    session.mftRunList = MftRunList{};
    // After a ".ST2C" log the directory starts are found again on the disk
    // and assigned as the scan assigned them (rescanFatDirectoryStarts).
    if (!session.lostSearch.directoryStartsKept)
      rescanFatDirectoryStarts(job, *session.reader(), session.foundFileSystems,
                               session.state.SelectedFoundFileSystem, session.lostSearch);
    if (fatNotLocated(chosen))
      session.searchNotes.push_back("File System " + std::to_string(session.state.SelectedFoundFileSystem) + " : " +
                                    kFatNotLocatedText);
    rebuildLostFileSystemTree(session, &job);
    FatSearchContext search{.reader = *session.reader(),
                            .parameters = controller.searchVolumeParameters(),
                            .fileSystemType = controller.searchFileSystem(),
                            .entries = session.entries,
                            .exhaustiveSearch = session.state.ExhaustiveSearch,
                            .partitionEnd = static_cast<std::uint64_t>(session.state.PartitionEnd),
                            .oemCodePage = codePage,
                            .lostPartitionSearch = true,
                            .selectedFoundFileSystem =
                                static_cast<std::uint16_t>(session.state.SelectedFoundFileSystem)};
    runFatExhaustiveSearch(job, search);
  });
}

namespace {

SectorNumber searchedRangeEnd(const Session& session) {
  return session.lostSearch.rangeEnd != 0 ? session.lostSearch.rangeEnd
                                          : static_cast<SectorNumber>(session.state.PartitionEnd);
}

}  // namespace

Result<LostChoice> selectFoundFileSystem(Session& session, std::uint32_t ordinal) {
  const FoundFileSystems& found = session.foundFileSystems;
  if (ordinal == 0 || ordinal > found.size() || ordinal > 0xFFFF)
    return makeError(ErrorKind::InvalidArgument, "There is no found file system " + std::to_string(ordinal) +
                                                     " (" + std::to_string(found.size()) + " found)");
  auto& s = session.state;
  const LostChoice choice = applyFoundFileSystem(found[ordinal - 1], searchedRangeEnd(session));
  s.FileSystemType = choice.fileSystemType;
  s.volumeParameters = choice.parameters;
  s.selectedNodeText = foundFileSystemLabel(found, ordinal - 1);
  return choice;
}

Result<void> chooseFoundFileSystem(Session& session, std::uint32_t ordinal) {
  auto selected = selectFoundFileSystem(session, ordinal);
  if (!selected) return std::unexpected(selected.error());
  auto& s = session.state;
  const LostChoice& choice = *selected;
  const SectorNumber rangeEnd = searchedRangeEnd(session);
  s.PartitionStart = choice.start;
  s.PartitionEnd = static_cast<std::int64_t>(choice.end);
  s.SelectedFoundFileSystem = ordinal;
  s.LostPartitionSearch = true;
  s.LostSearchPass = 1;
  if (session.reader()) session.reader()->setSelectionEnd(static_cast<std::int64_t>(rangeEnd));
  session.activityLog().appendLines({"Selected File System : " + s.selectedNodeText});
  return {};
}

void writeFoundFileSystemsBlock(Session& session) {
  if (session.foundFileSystems.empty()) return;
  std::vector<std::string> lines{"\r\n", "Step 2 (c) :", "-------", "Total File Systems Enumerated : "};
  for (std::size_t i = 0; i < session.foundFileSystems.size(); ++i)
    lines.push_back(foundFileSystemLabel(session.foundFileSystems, i));
  session.activityLog().appendLines(lines);
}

}  // namespace dravolin
