#pragma once
// What scan, recover and find share: the --exhaustive and --code-page
// options, running the file-system search the wizard would run on the
// committed choice and building its result tree, the JSON form of an entry,
// and running a result-browser worker (size count, saving, name search) with
// a progress line and Ctrl-C handling.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "cli/cli_context.h"
#include "cli/interrupts.h"
#include "cli/json_writer.h"
#include "cli/progress_line.h"
#include "cli/read_loss_json.h"
#include "common/text_encoding.h"
#include "app/search_log_operations.h"
#include "app/search_operation.h"
#include "results/read_loss_report.h"
#include "results/result_tree.h"
#include "results/unicode_text.h"
#include "common/worker_job.h"

namespace dravolin::cli {


struct SearchOptions {
  bool exhaustive = false;
  std::string codePage = std::string(kDefaultNameCodePage);
  std::string loadLog;  // --load-log: restore the session from a search log instead of searching
  std::string saveLog;  // --save-log (scan): write the results to a ".ST4" log
};

inline void addSearchOptions(CLI::App& command, SearchOptions& options) {
  command.add_flag("--exhaustive", options.exhaustive,
                   "Exhaustive search: sweep the volume for folders (FAT) or MFT records (NTFS), orphans under /Lost");
  command.add_option("--code-page", options.codePage, "Code page of FAT short names (default CP850)")
      ->check([](const std::string& name) {
        return isKnownCodePage(name) ? std::string{} : "unknown code page: " + name;
      });
  command.add_option("--load-log", options.loadLog,
                     "Restore the search from a .ST4 log written on this disk (or an image of it) instead of "
                     "searching; no sector is read for the listing. With --lost N: the file systems found come "
                     "from a .ST2C log instead of a new search");
}

// The choice of scan, recover and find: the partition or range given, or the
// selection of the search log given with --load-log, checked against SOURCE.
inline void commitChoiceOrLoadLog(CliContext& context, const SearchOptions& options) {
  if (options.loadLog.empty()) {
    context.commitChoice(ChoiceRule::NeedsFileSystem, options.exhaustive);
    return;
  }
  const ChoiceOptions& choice = context.choice;
  if (choice.lost) {
    // --lost N with a ".ST2C" log: the found list comes from the log, then
    // the second pass builds file system N's tree (NTFS from the logged
    // lists; FAT by reading that volume's sectors, which the log does not
    // describe beyond its geometry).
    if (!choice.lostRange.empty())
      throw CliExit{kExitUsage, "--load-log takes the searched range from the log: leave out --lost-range"};
    if (options.exhaustive) throw CliExit{kExitUsage, "--load-log takes the search from the log: leave out --exhaustive"};
    if (searchLogKindOf(options.loadLog) != SearchLogKind::FoundList)
      throw CliExit{kExitUsage, "--lost N takes the file systems found from the log of a search for lost partitions: " +
                                    options.loadLog + " does not end in .ST2C"};
    loadFoundListLog(context, options.loadLog);
    chooseFoundOrdinal(context, *choice.lost);
    return;
  }
  if (choice.partition || !choice.range.empty() || choice.wholeDisk || options.exhaustive)
    throw CliExit{kExitUsage,
                  "--load-log takes the selection and the search from the log: leave out --partition, --range and "
                  "--exhaustive"};
  const auto kind = searchLogKindOf(options.loadLog);
  if (!kind)
    throw CliExit{kExitUsage, options.loadLog + " is not a search log: its name must end in .ST4 or .ST2C"};
  if (*kind == SearchLogKind::FoundList)
    throw CliExit{kExitUsage, options.loadLog +
                                  " is the log of a search for lost partitions (.ST2C): it lists file systems, "
                                  "not folders and files; choose one of them with --lost N"};
  auto loaded = loadSearchLog(context.session(), options.loadLog);
  if (!loaded) throw CliExit{kExitFailure, options.loadLog + ": " + loaded.error().message};
  if (!loaded->acceptedNote.empty()) std::fprintf(stderr, "dravolin: %s\n", loaded->acceptedNote.c_str());
  if (loaded->stopped) std::fprintf(stderr, "dravolin: %s\n", kLogOfStoppedSearch);
}

// Writes the results of the search to the .ST4 log of --save-log, if given.
inline void saveResultsLog(CliContext& context, const SearchOptions& options) {
  if (options.saveLog.empty()) return;
  auto written = saveSearchLog(context.session(), options.saveLog, SearchLogKind::Results);
  if (!written) throw CliExit{kExitFailure, written.error().message};
  if (!context.common.quiet) std::fprintf(stderr, "dravolin: search log written to %s\n", written->c_str());
}

// Runs the search for the committed choice under a search controller (Step 3)
// and builds the result tree of what it found (Step 4).
inline std::unique_ptr<ResultTree> searchAndBuildTree(CliContext& context, const SearchOptions& options) {
  Session& session = context.session();
  if (options.exhaustive) session.state.ExhaustiveSearch = true;
  SteadyTickSource ticks;
  SearchController controller(session, context.prompter(), ticks);
  auto worker = makeSearchWorker(session, controller, options.codePage);
  if (!worker) throw CliExit{kExitFailure, worker.error().message};
  const SearchOutcome outcome = context.runJob(controller, std::move(*worker), [&] { return foundTotals(session); });
  if (outcome == SearchOutcome::Cancelled) throw CliExit{kExitInterrupted, "interrupted"};
  if (outcome == SearchOutcome::Failed)
    throw CliExit{kExitFailure, "the search failed" + (controller.error().empty() ? "" : ": " + controller.error())};
  // What the search could not read (a partial MFT, torn records) is said,
  // as in the activity report.
  for (const std::string& note : session.searchNotes) printMessage("warning: " + shownText(note));
  // After a search for lost partitions the tree shows the chosen file system only.
  const std::uint16_t partition =
      session.state.LostPartitionSearch ? static_cast<std::uint16_t>(session.state.SelectedFoundFileSystem) : 0;
  auto tree = std::make_unique<ResultTree>(session.entries, session.state.FileSystemType, options.codePage, partition);
  tree->build();
  return tree;
}

// ---- what a search could not read, and where a stop left it

// The "unreadable" and "losses" lists of the nlohmann documents are
// sectorRangesJson and readLossesJson (cli/read_loss_json.h).

// The same two lists through a streaming writer (keys in sorted order).
inline void writeRangesJson(JsonWriter& json, const std::vector<SectorRange>& ranges) {
  json.beginArray();
  for (const SectorRange& r : ranges) {
    json.beginArray();
    json.value(std::uint64_t{r.start});
    json.value(std::uint64_t{r.end});
    json.endArray();
  }
  json.endArray();
}
inline void writeLossesJson(JsonWriter& json, const ResultTree& tree) {
  json.beginArray();
  for (const ReadLoss& loss : tree.entries().Losses.list) {
    json.beginObject();
    json.key("entries_lost");
    json.value(std::uint64_t{loss.entriesLost});
    json.key("folder");
    json.value(lossFolderPath(tree, loss));
    json.key("kind");
    json.value(readLossKindName(loss.kind));
    json.key("records");
    json.beginArray();
    for (std::uint64_t record : loss.recordNumbers) json.value(record);
    json.endArray();
    json.key("sectors");
    writeRangesJson(json, loss.sectors);
    json.endObject();
  }
  json.endArray();
}

// Where a stopped search got to: {"start": S, "end": E} of the sweep
// (end exclusive), null when unknown.
inline nlohmann::json coveredJson(const SearchStop& stop) {
  if (!stop.stopped || !stop.sweptTo) return nullptr;
  return {{"start", stop.rangeStart}, {"end", std::min(*stop.sweptTo + 1, stop.rangeEnd)}};
}

// The lines on stderr at the end of a search job: what the tree's search
// could not read (each loss, as the result browser names it), the sectors
// the job's watch saw read as zeros, and where a stop left the search.
// Returns the exit code: 130 after a stop, 1 when anything was lost, else 0.
// A Ctrl-C that stopped an earlier pass (the search for lost partitions
// before --lost N's tree) or the work after the search counts as a stop too.
inline int reportSearchEnd(const Session& session, const ResultTree* tree, const UnreadableSectors& unreadable,
                           bool interrupted = interruptCount > 0) {
  bool lost = !unreadable.empty();
  if (tree) {
    for (const std::string& line : describeReadLosses(*tree))
      std::fprintf(stderr, "dravolin: %s\n", shownText(line).c_str());  // folder names shown escaped
    lost = lost || !tree->entries().Losses.empty();
  }
  if (!unreadable.empty())
    std::fprintf(stderr, "dravolin: %llu unreadable sectors were read as zeros: %s\n",
                 static_cast<unsigned long long>(unreadable.total()), describeSectorRanges(unreadable.ranges()).c_str());
  if (session.searchStop.stopped || interrupted) {
    const SearchStop stop = session.searchStop.stopped ? session.searchStop : SearchStop{.stopped = true};
    std::fprintf(stderr, "dravolin: %s\n", describeSearchStop(stop).c_str());
    return kExitInterrupted;
  }
  return lost ? kExitFailure : kExitOk;
}

// The id shown for a file: its file index on FAT, its MFT number on NTFS.
inline std::uint64_t shownFileId(const ResultTree& tree, const FileNode& node) {
  return tree.isFat() ? node.fileIndex : node.firstCluster;
}

// One entry of scan and find output.
inline nlohmann::json entryJson(const std::string& path, const std::string& name, bool folder, bool deleted,
                                std::uint64_t size, std::uint64_t id, std::uint32_t parent,
                                const EntryDateTexts& dates) {
  return {{"path", path},
          {"name", name},
          {"kind", folder ? "folder" : "file"},
          {"type", typeText(folder, deleted)},
          {"deleted", deleted},
          {"size", size},
          {"id", id},
          {"parent", parent},
          {"modified", dates.modified},
          {"modified_iso", dates.modifiedIso},
          {"created", dates.created},
          {"created_iso", dates.createdIso},
          {"accessed", dates.accessed},
          {"accessed_iso", dates.accessedIso}};
}

// Runs a worker of the result browser on its own thread. The progress line
// (when stderr is a terminal) shows what line() returns; the first Ctrl-C stops
// the job as its Stop button does, the second cancels it.
inline void runBrowserWorker(CliContext& context, WorkerJob& job, WorkerJob::Worker worker,
                             const std::function<ProgressState()>& line) {
  const int baseline = interruptCount;
  const ProgressLine progress(context.progressEnabled());
  job.start(std::move(worker));
  bool stopped = false;
  while (!job.ended()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int presses = interruptCount - baseline;
    if (presses >= 1 && !stopped) {
      stopped = true;
      job.stop();
    }
    if (presses >= 2) job.cancel();
    if (progress.enabled()) progress.draw(line());
  }
  job.wait();
  if (progress.enabled()) progress.finish(line());
  if (!job.error().empty()) throw CliExit{kExitFailure, job.error()};
}

// Dates typed as YYYY-MM-DD or DD/MM/YYYY; nothing when the text is neither.
struct TypedDate {
  int year = 0, month = 0, day = 0;
};
inline std::optional<TypedDate> parseTypedDate(const std::string& text) {
  int a = 0, b = 0, c = 0;
  char s1 = 0, s2 = 0;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c%d%c", &a, &s1, &b, &s2, &c, &rest) != 5) return std::nullopt;
  TypedDate date;
  if (s1 == '-' && s2 == '-') date = {a, b, c};
  else if (s1 == '/' && s2 == '/') date = {c, b, a};
  else return std::nullopt;
  if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31 || date.year < 1 || date.year > 9999)
    return std::nullopt;
  return date;
}

// "FROM..TO" into its two halves.
inline std::optional<std::pair<std::string, std::string>> splitRange(const std::string& text) {
  const std::size_t dots = text.find("..");
  if (dots == std::string::npos) return std::nullopt;
  return std::make_pair(text.substr(0, dots), text.substr(dots + 2));
}

inline std::pair<TypedDate, TypedDate> parseDateRange(const std::string& option, const std::string& text) {
  auto halves = splitRange(text);
  std::optional<TypedDate> from, to;
  if (halves) {
    from = parseTypedDate(halves->first);
    to = parseTypedDate(halves->second);
  }
  if (!from || !to)
    throw CliExit{kExitUsage, option + " takes FROM..TO as YYYY-MM-DD or DD/MM/YYYY, not '" + text + "'"};
  return {*from, *to};
}

}  // namespace dravolin::cli
