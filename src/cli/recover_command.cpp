// dravolin recover: saves the chosen files and folders of a FAT or NTFS volume to a
// destination folder, mirroring the result tree, with the saving filters and
// the replace answers, and writes the saving report to the recovery history.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "app/messages.h"
#include "cli/commands.h"
#include "cli/read_loss_json.h"
#include "cli/search_results.h"
#include "common/format.h"
#include "results/destination.h"
#include "results/saving.h"
#include "results/unicode_text.h"

namespace dravolin::cli {
namespace {

struct RecoverOptions {
  std::string source;
  std::string to;
  std::vector<std::string> paths;
  bool all = false;
  bool unselected = false;
  bool deletedOnly = false;
  bool liveOnly = false;
  std::string extensions;
  std::string modified, created, accessed;
  std::string fatSource = "auto";
  std::string onExists = "ask";
  std::string onCreateError = "ask";
  bool yes = false;
  bool allowSameDisk = false;
  bool noSparse = false;
  SearchOptions search;
};

ActiveDateRange activeRange(const std::string& option, const std::string& text) {
  const auto [from, to] = parseDateRange(option, text);
  // The upper date is the "Earlier" one, the lower the "After" one.
  return ActiveDateRange{to.day, to.month, to.year, from.day, from.month, from.year};
}

void applySettings(const RecoverOptions& o, SavingSettings& settings) {
  settings.SaveSelectionMode = o.all ? 1 : o.unselected ? 2 : 0;
  settings.SaveDeletedFilter = o.deletedOnly ? 2 : o.liveOnly ? 1 : 0;
  settings.SparseHoles = !o.noSparse;
  settings.FatCopySource = o.fatSource == "fat1" ? 1 : o.fatSource == "fat2" ? 2 : o.fatSource == "contiguous" ? 3 : 0;
  if (!o.extensions.empty()) {
    SettingsDialogModel dialog(settings);
    std::size_t at = 0;
    while (at <= o.extensions.size()) {
      std::size_t comma = o.extensions.find(',', at);
      if (comma == std::string::npos) comma = o.extensions.size();
      std::string extension = o.extensions.substr(at, comma - at);
      if (!extension.empty() && extension.front() == '.') extension.erase(0, 1);
      if (auto refusal = dialog.add(extension)) throw CliExit{kExitUsage, "--ext " + extension + ": " + *refusal};
      at = comma + 1;
    }
    dialog.apply();
  }
  if (!o.modified.empty()) settings.activeDateRanges[0] = activeRange("--modified", o.modified);
  if (!o.created.empty()) settings.activeDateRanges[1] = activeRange("--created", o.created);
  if (!o.accessed.empty()) settings.activeDateRanges[2] = activeRange("--accessed", o.accessed);
}

// --path P checks P as the browser's check box does. To save the checked
// items it also checks the folders above P, without their files, so that the
// saving walk reaches it; with --unselected P is left out, and its folders
// stay unchecked so that the rest of them is still saved.
void checkPath(ResultTree& tree, const std::string& path, bool withFolders) {
  if (auto folder = tree.findFolder(path)) {
    tree.checkFolder(*folder);
    if (withFolders) tree.checkPathTo(*folder);
    return;
  }
  if (auto file = tree.findFile(path)) {
    tree.setFileChecked(file->file, true);
    if (withFolders) tree.checkPathTo(file->item);
    return;
  }
  throw CliExit{kExitFailure, "--path " + shownText(path) + ": no such folder or file in the result tree (see 'dravolin scan')"};
}

constexpr const char* kClippedReason = "clipped";
constexpr const char* kDataMissingReason = "data_missing";
constexpr const char* kErrorReason = "error";

// A written file that is not whole, as the JSON lists it.
struct IncompleteFileReport {
  std::string reason;  // clipped, data_missing (NTFS data not all found) or error
  std::optional<std::uint64_t> savedBytes;
  std::optional<std::uint64_t> expectedBytes;
  std::vector<std::string> errors;  // the errors named for the file
};

// Every written file that is not whole, by destination path: one clipped to
// what the volume holds, one whose data could not all be found, one written
// with an error. A clip or missing data is the reason before an error.
std::map<std::string, IncompleteFileReport> incompleteFiles(const SavingResult& result) {
  std::map<std::string, IncompleteFileReport> files;
  if (!result.errors.empty()) {
    // A hash set of the written paths: a damaged disk may give an error for
    // many of a million written files.
    const std::unordered_set<std::string_view> written(result.writtenFiles.begin(), result.writtenFiles.end());
    for (const auto& issue : result.errors)
      if (written.contains(issue.path)) {
        IncompleteFileReport& report = files[issue.path];
        report.reason = kErrorReason;
        report.errors.push_back(issue.error);
      }
  }
  for (const auto& file : result.incomplete) {
    IncompleteFileReport& report = files[file.path];
    report.reason = kDataMissingReason;
    report.savedBytes = file.savedSize;
    report.expectedBytes = file.size;
  }
  for (const auto& file : result.clipped) {
    IncompleteFileReport& report = files[file.path];
    report.reason = kClippedReason;
    report.savedBytes = file.savedSize;
    report.expectedBytes = file.claimedSize;
  }
  for (const auto& file : result.shortFiles) {
    const auto found = files.find(file.path);
    if (found == files.end()) continue;
    if (!found->second.savedBytes) found->second.savedBytes = file.savedSize;
    if (!found->second.expectedBytes) found->second.expectedBytes = file.listedSize;
  }
  return files;
}

}  // namespace

CommandRunner registerRecoverCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("recover", "Save files and folders of a FAT or NTFS volume to a destination folder");
  auto o = std::make_shared<RecoverOptions>();
  command->add_option("SOURCE", o->source, "Block device, DiskN, image file or folder, first piece of a split image (.001, .aa), or E01, qcow2, VMDK, VHD, VHDX image")->required();
  context.addChoiceOptions(*command, false);
  command->add_option("--to", o->to, "Destination folder (created when missing)")->required();
  command->add_option("--path", o->paths, "A folder or file to save, as scan prints it (repeatable)");
  auto* all = command->add_flag("--all", o->all, "Save everything");
  auto* unselected = command->add_flag("--unselected", o->unselected, "Save everything except the --path items");
  all->excludes(unselected);
  auto* deletedOnly = command->add_flag("--deleted-only", o->deletedOnly, "Save deleted files only");
  auto* liveOnly = command->add_flag("--live-only", o->liveOnly, "Save live files only");
  deletedOnly->excludes(liveOnly);
  command->add_option("--ext", o->extensions, "Only these extensions, comma-separated (at most 4 characters each)");
  command->add_option("--modified", o->modified, "Last-write date range FROM..TO (YYYY-MM-DD or DD/MM/YYYY)");
  command->add_option("--created", o->created, "Creation date range FROM..TO");
  command->add_option("--accessed", o->accessed, "Last-access date range FROM..TO");
  command->add_option("--fat-source", o->fatSource, "Where cluster chains come from")
      ->check(CLI::IsMember({"auto", "fat1", "fat2", "contiguous"}));
  command->add_option("--on-exists", o->onExists, "Answer for files that already exist at the destination")
      ->transform(CLI::IsMember({"ask", "replace", "skip", "rename"}, CLI::ignore_case));
  command->add_option("--on-create-error", o->onCreateError,
                      "Answer for a file that cannot be created at the destination: skip it or abort the saving "
                      "(default: ask on a terminal, skip otherwise)")
      ->transform(CLI::IsMember({"ask", "skip", "abort"}, CLI::ignore_case));
  command->add_flag("--yes", o->yes, "Go on when the destination has too little free space");
  command->add_flag("--no-sparse", o->noSparse,
                    "Write the zeros of NTFS sparse runs and of bytes past the valid data length out in full "
                    "(default: they are left as holes)");
  command->add_flag("--allow-same-disk", o->allowSameDisk, "Save even when the destination lies on the source disk");
  command->footer(kOtherDriveNote);
  context.addCommonOptions(*command, true);
  addSearchOptions(*command, o->search);

  return [o, &context]() -> int {
    if (o->paths.empty() && !o->all && !o->unselected)
      throw CliExit{kExitUsage, "say what to save: --path P (repeatable), --all or --unselected"};
    context.openSource(o->source, true);
    context.checkDestinationDisk(o->to, o->allowSameDisk);
    // Every sector this run could not read, from the search to the last file.
    UnreadableWatch unreadable(*context.session().reader());
    commitChoiceOrLoadLog(context, o->search);
    Session& session = context.session();
    applySettings(*o, session.savingSettings);

    auto tree = searchAndBuildTree(context, o->search);
    // What the search could not read is named before anything is saved.
    const bool searchLosses = printReadLosses(*tree);
    for (const auto& path : o->paths) checkPath(*tree, path, !o->unselected);

    TerminalPrompter& prompter = context.prompter();
    if (o->onExists == "replace") prompter.setReplaceAnswer(ReplaceAnswer::YesToAll);
    else if (o->onExists == "skip") prompter.setReplaceAnswer(ReplaceAnswer::NoToAll);
    else if (o->onExists == "rename") prompter.setReplaceAnswer(ReplaceAnswer::RenameAll);
    if (o->onCreateError == "skip") prompter.setCreateErrorAnswer(false);
    else if (o->onCreateError == "abort") prompter.setCreateErrorAnswer(true);
    if (o->yes) prompter.setYes(true);

    // The destination dialog: the folder, the size count, the free space.
    std::string why;
    auto destination = checkDestination(o->to, &why);
    if (!destination) throw CliExit{kExitFailure, destinationRefusal(destination.error().message, why)};
    Saver saver(*tree, session.savingSettings,
                SavingSource{*session.reader(), session.state.volumeParameters, session.state.FileSystemType,
                             static_cast<std::uint64_t>(session.state.PartitionEnd), &session.mftRunList});
    SelectionCount count;
    {
      WorkerJob job(prompter);
      runBrowserWorker(context, job, [&](Job& j) { count = saver.countSelection(j); },
                       [&] {
                         return ProgressState{job.percent(), "Calculating File Size. Please Wait...  " + job.lastName(),
                                              std::nullopt, std::nullopt};
                       });
      if (job.stopRequested()) throw CliExit{kExitFailure, "Saving aborted."};
    }
    if (count.SelectedFileCount < 1) throw CliExit{kExitFailure, kNothingSelectedMessage};
    const auto freeSpace = freeSpaceOf(*destination);
    if (freeSpace && needsFreeSpaceQuestion(count.SelectedSize, *freeSpace)) {
      // Holes take no space: the bytes to be allocated decide.
      std::uint64_t required = count.SelectedSize;
      WorkerJob job(prompter);
      runBrowserWorker(context, job, [&](Job& j) { required = saver.allocatedSize(j, count); },
                       [&] {
                         return ProgressState{job.percent(), "Calculating File Size. Please Wait...", std::nullopt,
                                              std::nullopt};
                       });
      if (job.stopRequested()) throw CliExit{kExitFailure, "Saving aborted."};
      if (needsFreeSpaceQuestion(required, *freeSpace) && !prompter.askYesNo(insufficientSpaceQuestion(required)))
        throw CliExit{kExitFailure, "Saving not started: too little free space on the destination drive"};
    }

    // The saving dialog.
    SavingResult result;
    {
      WorkerJob job(prompter);
      saver.setElapsedClock([&job] { return job.activeMilliseconds() / 1000; });
      runBrowserWorker(
          context, job,
          [&](Job& j) {
            result = saver.save(j, *destination, count, session.recoveryLog(),
                                {session.state.caption, localDateLine()});
          },
          [&] {
            const SavingProgress p = saver.progress();
            return ProgressState{p.overallPercent, p.lastName, p.CopiedSize, p.SelectedSize};
          });
      if (job.cancelled())
        throw CliExit{kExitInterrupted,
                      "interrupted; the files written whole keep their names, the one being written was removed"};
    }

    // Files of the selection that were neither written nor skipped by the
    // user's choice were lost to an error (a file or folder that could not
    // be created, an abort); files written with an error are incomplete.
    const auto selected = static_cast<std::uint64_t>(std::max(count.SelectedFileCount, 0));
    const std::uint64_t accounted = result.filesWritten + result.skipped;
    const std::uint64_t notWritten = result.stopped || accounted >= selected ? 0 : selected - accounted;
    const std::map<std::string, IncompleteFileReport> incomplete = incompleteFiles(result);

    const std::vector<SectorRange> lost = unreadable.sectors().ranges();
    if (context.common.json) {
      nlohmann::json errors = nlohmann::json::array();
      for (const auto& issue : result.errors) errors.push_back({{"path", issue.path}, {"error", issue.error}});
      nlohmann::json files = nlohmann::json::array();
      for (const auto& path : result.writtenFiles) files.push_back(path);
      nlohmann::json incompleteFilesJson = nlohmann::json::array();
      for (const auto& [path, report] : incomplete) {
        nlohmann::json errorTexts = nlohmann::json::array();
        for (const auto& text : report.errors) errorTexts.push_back(text);
        incompleteFilesJson.push_back({{"path", path},
                                       {"reason", report.reason},
                                       {"saved_bytes", report.savedBytes ? nlohmann::json(*report.savedBytes) : nullptr},
                                       {"expected_bytes",
                                        report.expectedBytes ? nlohmann::json(*report.expectedBytes) : nullptr},
                                       {"errors", errorTexts}});
      }
      nlohmann::json doc{{"destination", destination->string()},
                         {"files_written", result.filesWritten},
                         {"bytes_written", result.bytesWritten},
                         {"skipped", result.skipped},
                         {"not_written", notWritten},
                         {"incomplete", incomplete.size()},
                         {"incomplete_files", incompleteFilesJson},
                         {"selected_files", count.SelectedFileCount},
                         {"selected_bytes", count.SelectedSize},
                         {"files", files},
                         {"errors", errors},
                         {"encrypted", result.encrypted},
                         {"leftovers_removed", result.leftoversRemoved},
                         {"message", result.message}};
      addReadLossJson(doc, lost, tree.get());
      context.printJson(doc);
    } else {
      // Saved names are safe path components, but may still hold C1
      // control characters: every name reaches the terminal escaped.
      for (const auto& path : result.writtenFiles) std::printf("%s\n", shownText(path).c_str());
      std::printf("%llu files, %llu bytes written to %s", static_cast<unsigned long long>(result.filesWritten),
                  static_cast<unsigned long long>(result.bytesWritten), shownText(destination->string()).c_str());
      if (result.skipped > 0) std::printf(" (%llu existing files left alone)", static_cast<unsigned long long>(result.skipped));
      std::printf("\n");
      std::fflush(stdout);
      for (const auto& issue : result.errors)
        printMessage("error: " + shownText(issue.path) + ": " + shownText(issue.error));
      // A file cut short without an error line is named here with its sizes.
      for (const auto& [path, report] : incomplete)
        if (report.errors.empty() && report.savedBytes && report.expectedBytes)
          printMessage("incomplete: " + shownText(path) + ": saved " + std::to_string(*report.savedBytes) + " of " +
                       std::to_string(*report.expectedBytes) + " bytes (" +
                       (report.reason == kClippedReason ? "its size field claims more than the volume holds"
                                                        : "its data could not all be found") +
                       ")");
      printMessage(result.message);
    }
    if (!result.leftoversRemoved.empty())
      printMessage("removed " + std::to_string(result.leftoversRemoved.size()) +
                   " partly written file(s) left by an interrupted saving (" + shownText(result.leftoversRemoved.front()) +
                   (result.leftoversRemoved.size() > 1 ? ", ..." : "") + ")");
    if (result.skipped > 0 && !result.completed)
      std::fprintf(stderr, "dravolin: %llu existing file(s) were left alone and are not saved by this run\n",
                   static_cast<unsigned long long>(result.skipped));
    if (!lost.empty())
      std::fprintf(stderr, "dravolin: could not read %s; they were read as zeros\n",
                   describeSectorRanges(lost).c_str());
    if (notWritten > 0)
      std::fprintf(stderr, "dravolin: %llu of %llu selected files were not written because of errors\n",
                   static_cast<unsigned long long>(notWritten), static_cast<unsigned long long>(selected));
    if (!incomplete.empty())
      std::fprintf(stderr, "dravolin: %zu written files are incomplete (each is named %s)\n", incomplete.size(),
                   context.common.json ? "in \"incomplete_files\"" : "above");
    // A file lost or damaged by an error, a stop or an abort leaves the run
    // incomplete; so does a clipped file, which is not the file its entry
    // describes.
    if (!result.clipped.empty())
      std::fprintf(stderr, "dravolin: %zu file(s) claimed more than the volume holds and were saved clipped "
                           "(see the recovery history)\n", result.clipped.size());
    if (!result.incomplete.empty())
      std::fprintf(stderr, "dravolin: %zu file(s) could not be found whole and were saved as far as their data "
                           "goes (see the recovery history)\n", result.incomplete.size());
    for (const auto& path : result.encrypted)
      printMessage("warning: " + shownText(path) + " was encrypted on the volume and is saved as its raw encrypted bytes");
    // The exit code follows the message: a saving that says it did not
    // complete (existing files skipped without counting as copied included)
    // failed; so did a run whose search could not read part of the volume,
    // even when every file it found was saved.
    if (searchLosses)
      std::fprintf(stderr, "dravolin: the search could not read everything (see above): files may be missing\n");
    const bool failed = result.stopped || result.aborted || !result.completed || notWritten > 0 ||
                        !result.errors.empty() || !result.clipped.empty() || !result.incomplete.empty() ||
                        searchLosses;
    return failed ? kExitFailure : kExitOk;
  };
}

}  // namespace dravolin::cli
