// dravolin lost: the search for lost partitions over a sector range, listing
// the FAT and NTFS file systems found; and the search that scan, recover and
// find run first for --lost N.
#include <charconv>
#include <cstdio>

#include "app/lost_partition_operation.h"
#include "app/search_log_operations.h"
#include "app/search_operation.h"
#include "cli/commands.h"
#include "cli/search_results.h"
#include "common/format.h"
#include "results/result_tree.h"

namespace dravolin::cli {
namespace {

struct LostOptions {
  std::string source;
  std::vector<std::string> range;  // START END
  std::string fileSystems = "all";
  std::string saveLog;  // .ST2C written after the search
  std::string loadLog;  // .ST2C read instead of searching
};

SectorNumber parseSector(const std::string& option, const std::string& text) {
  SectorNumber value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc{} || ptr != end)
    throw CliExit{kExitUsage, option + " takes sector numbers, not '" + text + "'"};
  return value;
}

nlohmann::json volumeJson(const FoundFileSystem& f) {
  return {{"sectors_per_fat", f.sectorsPerFat},     {"root_dir_sectors", f.rootDirSectors},
          {"reserved_sectors", f.reservedSectors},  {"root_start", f.rootStart},
          {"cluster_base", f.clusterBase},          {"first_fat_sector", f.firstFatSector},
          {"second_fat_sector", f.secondFatSector}};
}

// Runs the first pass of the search for lost partitions (the scan, or the
// reload of a ".ST2C" log's lists) under a search controller. A pass that
// does not end with the list of found file systems fails with `failure`,
// then ": " and the controller's reason (`unexplained` when it gives none).
void runLostPass(CliContext& context, const std::string& failure, const std::string& unexplained) {
  Session& session = context.session();
  SteadyTickSource ticks;
  SearchController controller(session, context.prompter(), ticks);
  auto worker = makeSearchWorker(session, controller, std::string(kDefaultNameCodePage));
  if (!worker) throw CliExit{kExitFailure, worker.error().message};
  const SearchOutcome outcome = context.runJob(controller, std::move(*worker), [&] { return foundTotals(session); });
  if (outcome == SearchOutcome::Cancelled) throw CliExit{kExitInterrupted, "interrupted"};
  if (outcome == SearchOutcome::LostPassList) return;
  const std::string reason = controller.error().empty() ? unexplained : controller.error();
  throw CliExit{kExitFailure, reason.empty() ? failure : failure + ": " + reason};
}

}  // namespace

void searchLostPartitions(CliContext& context, const std::vector<std::string>& range, LostSearchScope scope) {
  Session& session = context.session();
  const SectorNumber sectors = session.source()->sectorCount();
  SectorNumber start = 0;
  SectorNumber end = sectors;
  if (!range.empty()) {
    start = parseSector("the range", range.at(0));
    end = parseSector("the range", range.at(1));
  }
  if (auto committed = commitLostPartitionRange(session, start, end, scope); !committed)
    throw CliExit{kExitFailure, committed.error().message};
  runLostPass(context, "the search for lost partitions failed", "");
  writeFoundFileSystemsBlock(session);
  for (const std::string& note : session.searchNotes) std::fprintf(stderr, "dravolin: warning: %s\n", note.c_str());
}

void loadFoundListLog(CliContext& context, const std::string& path) {
  Session& session = context.session();
  if (searchLogKindOf(path) != SearchLogKind::FoundList)
    throw CliExit{kExitUsage, path + " is not the log of a search for lost partitions: its name must end in .ST2C"};
  auto loaded = loadSearchLog(session, path);
  if (!loaded) throw CliExit{kExitFailure, path + ": " + loaded.error().message};
  if (!loaded->acceptedNote.empty()) std::fprintf(stderr, "dravolin: %s\n", loaded->acceptedNote.c_str());
  if (loaded->stopped) std::fprintf(stderr, "dravolin: %s\n", kLogOfStoppedSearch);
  // The records part of the log (the NTFS lists) comes back through the
  // search worker, which reads the log and not the disk.
  runLostPass(context, path, kLogErrorInFile);
}

void chooseLostFileSystem(CliContext& context, int ordinal, const std::vector<std::string>& range) {
  searchLostPartitions(context, range, LostSearchScope::All);
  chooseFoundOrdinal(context, ordinal);
}

void chooseFoundOrdinal(CliContext& context, int ordinal) {
  Session& session = context.session();
  if (session.foundFileSystems.empty()) throw CliExit{kExitFailure, kNoFileSystemsText};
  if (ordinal < 1 || static_cast<std::size_t>(ordinal) > session.foundFileSystems.size()) {
    std::string choices;
    for (std::size_t i = 0; i < session.foundFileSystems.size(); ++i)
      choices += "\n  --lost " + std::to_string(i + 1) + "   " + foundFileSystemLabel(session.foundFileSystems, i);
    throw CliExit{kExitUsage, "There is no found file system " + std::to_string(ordinal) + "; choose one of:" + choices};
  }
  if (auto chosen = chooseFoundFileSystem(session, static_cast<std::uint32_t>(ordinal)); !chosen)
    throw CliExit{kExitFailure, chosen.error().message};
}

CommandRunner registerLostCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("lost", "Search a disk for lost FAT, NTFS and exFAT file systems and list them");
  auto options = std::make_shared<LostOptions>();
  command->add_option("SOURCE", options->source, "Block device, DiskN, image file or folder, first piece of a split image (.001, .aa), or E01, qcow2, VMDK, VHD, VHDX image")->required();
  command->add_option("--range", options->range, "The sector range START END to search (END exclusive; default: the whole disk)")
      ->expected(2);
  command->add_option("--fs", options->fileSystems, "Which file systems to look for: FAT, NTFS or all (default)")
      ->transform(CLI::IsMember({"FAT", "NTFS", "all"}, CLI::ignore_case));
  auto* save = command->add_option("--save-log", options->saveLog,
                                   "Write the file systems found (and the NTFS folder and file lists) to a .ST2C "
                                   "search log");
  auto* load = command->add_option("--load-log", options->loadLog,
                                   "List the file systems of a .ST2C search log written on this disk (or an image "
                                   "of it) instead of searching");
  load->excludes(save);
  context.addCommonOptions(*command, true);
  return [options, &context]() -> int {
    context.openSource(options->source, true);
    Session& session = context.session();
    // Every sector the search could not read.
    UnreadableWatch watch(*session.reader());
    if (!options->loadLog.empty()) {
      if (!options->range.empty()) throw CliExit{kExitUsage, "--load-log takes the range from the log: leave out --range"};
      loadFoundListLog(context, options->loadLog);
    } else {
      const std::string& fs = options->fileSystems;
      const LostSearchScope scope = fs == "FAT" ? LostSearchScope::Fat
                                    : fs == "NTFS" ? LostSearchScope::Ntfs
                                                   : LostSearchScope::All;
      searchLostPartitions(context, options->range, scope);
      if (!options->saveLog.empty()) {
        auto written = saveSearchLog(session, options->saveLog, SearchLogKind::FoundList);
        if (!written) throw CliExit{kExitFailure, written.error().message};
        if (!context.common.quiet) std::fprintf(stderr, "dravolin: search log written to %s\n", written->c_str());
      }
    }
    const FoundFileSystems& found = session.foundFileSystems;
    // After a loaded log the searched range is the logged selection.
    const bool searched = options->loadLog.empty();
    const SectorNumber rangeStart =
        searched ? session.lostSearch.rangeStart : static_cast<SectorNumber>(session.state.PartitionStart);
    const SectorNumber rangeEnd =
        searched ? session.lostSearch.rangeEnd : static_cast<SectorNumber>(session.state.PartitionEnd);
    if (context.common.json) {
      nlohmann::json list = nlohmann::json::array();
      for (std::size_t i = 0; i < found.size(); ++i) {
        const FoundFileSystem& f = found[i];
        nlohmann::json entry = {{"ordinal", i + 1},
                                {"label", foundFileSystemLabel(found, i)},
                                {"type", f.name},
                                {"start", f.startSector},
                                {"end", f.endSector},
                                {"sectors_per_cluster", f.sectorsPerCluster},
                                {"inferred", isInferred(f)},
                                {"volume", volumeJson(f)}};
        if (fatNotLocated(f)) entry["note"] = kFatNotLocatedText;
        list.push_back(entry);
      }
      nlohmann::json doc = {{"range", {{"start", rangeStart}, {"end", rangeEnd}}},
                            {"file_systems", list},
                            {"aborted", session.searchStop.stopped || context.interrupted()},
                            {"covered", coveredJson(session.searchStop)}};
      if (!watch.sectors().empty()) doc["unreadable"] = sectorRangesJson(watch.sectors().ranges());
      if (found.empty()) {
        doc["error"] = kNoFileSystemsText;
        doc["exit_code"] = session.searchStop.stopped ? kExitInterrupted : kExitFailure;
      }
      context.printJson(doc);
      const int code = reportSearchEnd(session, nullptr, watch.sectors());
      if (found.empty()) {
        std::fprintf(stderr, "dravolin: %s\n", kNoFileSystemsText);
        return code == kExitOk ? kExitFailure : code;
      }
      return code;
    }
    if (found.empty()) {
      const int code = reportSearchEnd(session, nullptr, watch.sectors());
      throw CliExit{code == kExitOk ? kExitFailure : code, kNoFileSystemsText};
    }
    std::printf("Sectors %llu to %llu searched\n", static_cast<unsigned long long>(rangeStart),
                static_cast<unsigned long long>(rangeEnd));
    std::printf("%-24s %-6s %14s %14s %8s  %s\n", "File System", "Type", "Start", "End", "Cluster", "Size");
    for (std::size_t i = 0; i < found.size(); ++i) {
      const FoundFileSystem& f = found[i];
      const LostChoice choice = applyFoundFileSystem(f, rangeEnd);
      std::string size = formatPartitionSize((choice.end - choice.start) * kSectorSize);
      if (isInferred(f)) size += "  (inferred)";
      if (fatNotLocated(f)) size += std::string("  ") + kFatNotLocatedText;
      std::printf("%-24s %-6s %14llu %14llu %8u  %s\n", foundFileSystemLabel(found, i).c_str(), f.name.c_str(),
                  static_cast<unsigned long long>(f.startSector), static_cast<unsigned long long>(f.endSector),
                  f.sectorsPerCluster, size.c_str());
    }
    std::fflush(stdout);
    return reportSearchEnd(session, nullptr, watch.sectors());
  };
}

}  // namespace dravolin::cli
