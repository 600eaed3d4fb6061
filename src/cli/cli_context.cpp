#include <algorithm>
#include "cli/cli_context.h"
#include "cli/interrupts.h"
#include "cli/progress_line.h"
#include "app/source_resolver.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <thread>

#include "app/messages.h"
#include "common/format.h"
#include "app/source_resolver.h"
#include "app/wizard_steps.h"
#include "results/saving.h"
#include "results/unicode_text.h"

namespace dravolin::cli {

// ---- prompter

TerminalPrompter::TerminalPrompter() : interactive_(isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {}

std::string TerminalPrompter::askLine(const std::string& question) {
  std::cerr << question << std::flush;
  std::string line;
  if (!std::getline(std::cin, line)) return {};
  return line;
}

BadSectorAnswer TerminalPrompter::askBadSector() {
  if (badSector_) return *badSector_;
  if (!interactive_) return BadSectorAnswer::RetryAll;
  for (;;) {
    std::string a = askLine(
        "\nBad Sectors Encountered: Encountered Bad Sector(s) while reading disk.\n"
        "[r]etry, [s]kip, retry [a]ll, s[k]ip all? ");
    if (a == "r" || a.empty()) return BadSectorAnswer::Retry;
    if (a == "s") return BadSectorAnswer::Skip;
    if (a == "a") return BadSectorAnswer::RetryAll;
    if (a == "k") return BadSectorAnswer::SkipAll;
  }
}

ReplaceAnswer TerminalPrompter::askReplace(const std::string& path) {
  if (replace_) return *replace_;
  if (!interactive_) {
    // Nothing is overwritten and nothing lost: the new file gets a new name.
    // The answer holds for the rest of the run, so this is said once.
    std::cerr << "dravolin: " << shownText(path)
              << " already exists; no terminal to ask, so existing files are kept and new ones renamed "
                 "(use --on-exists)\n";
    return ReplaceAnswer::RenameAll;
  }
  for (;;) {
    std::string a = askLine("\n" + shownText(path) +
                            " already exists. Replace? [y]es, [n]o, yes to [a]ll, n[o] to all, "
                            "[r]ename, rename a[l]l: ");
    if (a == "y") return ReplaceAnswer::Yes;
    if (a == "n") return ReplaceAnswer::No;
    if (a == "a") return ReplaceAnswer::YesToAll;
    if (a == "o") return ReplaceAnswer::NoToAll;
    if (a == "r") return ReplaceAnswer::Rename;
    if (a == "l") return ReplaceAnswer::RenameAll;
  }
}

// Every "\r\n" becomes "\n".
static std::string withLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') out.push_back(text[i]);
  return out;
}

// The file-creation question: Yes aborts the saving, No skips the file. It
// has its own answer (--on-create-error); --yes does not answer it.
bool TerminalPrompter::askCreateError(const std::string& text) {
  if (createErrorAbort_) return *createErrorAbort_;
  std::string shown = withLineBreaks(text);
  // The dialog's own button hint does not fit the answers given here.
  if (const std::size_t hint = shown.find("\nPress Yes"); hint != std::string::npos) shown.resize(hint);
  if (!interactive_) {
    // The file is named once, among the errors the command lists at its
    // end; here only the answer taken is said, once.
    if (!createErrorToldOnce_)
      std::cerr << "dravolin: no terminal to ask: files that cannot be created are skipped "
                   "(use --on-create-error)\n";
    createErrorToldOnce_ = true;
    return false;
  }
  shown = shownMessage(shown);  // the file's name comes from the disk
  for (;;) {
    std::string a = askLine("\n" + shown + "\n[s]kip this file, [a]bort the saving? ");
    if (a == "s" || a.empty()) return false;
    if (a == "a") return true;
  }
}

bool TerminalPrompter::askYesNo(const std::string& text) {
  if (text.starts_with(kFileCreationTitle)) return askCreateError(text);
  if (yes_) return true;
  const std::string shown = shownMessage(withLineBreaks(text));
  if (!interactive_) {
    std::cerr << "dravolin: " << shown << "\ndravolin: answered No (no terminal to ask; use --yes)\n";
    return false;
  }
  std::string a = askLine("\n" + shown + " [y/N] ");
  return a == "y" || a == "Y" || a == "yes";
}

void TerminalPrompter::inform(const std::string& text) { printMessage(withLineBreaks(text)); }

std::string destinationRefusal(const std::string& message, const std::string& why) {
  return why.empty() ? message : message + " (" + why + ")";
}

std::string shownMessage(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (;;) {
    const std::size_t end = text.find('\n');
    appendShownText(out, text.substr(0, end));
    if (end == std::string_view::npos) return out;
    out.push_back('\n');
    text.remove_prefix(end + 1);
  }
}

void printMessage(std::string_view text) {
  std::string line = "dravolin: ";
  line += shownMessage(text);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

// ---- context

void CliContext::addCommonOptions(CLI::App& command, bool readsDisk) {
  command.add_flag("--json", common.json, "Machine-readable output on stdout");
  command.add_flag("-q,--quiet", common.quiet, "No progress line");
  command.add_option("--config", common.configFile, "Settings file (default in the XDG config folder)");
  command.add_option("--log-dir", common.logDir, "Folder of the activity report and recovery history");
  if (readsDisk) {
    command.add_option("--bad-sectors", common.badSectors, "How unreadable sectors are handled")
        ->check(CLI::IsMember({"ask", "retry", "skip", "retry-all", "skip-all"}));
    command.add_option("--sector-size", common.sectorSize,
                       "Logical sector size of the source in bytes (default: what the device or image shows)")
        ->check(CLI::IsMember({512, 4096}));
  }
}

void CliContext::addChoiceOptions(CLI::App& command, bool allowWholeDisk) {
  auto* partition = command.add_option("--partition", choice.partition, "The N-th partition of the listing");
  auto* range = command.add_option("--range", choice.range, "A sector range START END (END exclusive)")
                    ->expected(2);
  command.add_option("--fs", choice.fileSystem, "File system of the range (any case)")
      ->transform(CLI::IsMember({"FAT12", "FAT16", "FAT32", "NTFS", "exFAT", "UNKNOWN"}, CLI::ignore_case));
  range->excludes(partition);
  if (!allowWholeDisk) {
    auto* lost = command.add_option("--lost", choice.lost,
                                    "Found file system N of a search for lost partitions (see 'dravolin lost')");
    auto* lostRange = command.add_option("--lost-range", choice.lostRange,
                                         "The sector range START END that --lost searches (default: the whole disk)")
                          ->expected(2);
    lost->excludes(partition)->excludes(range);
    lostRange->needs(lost);
  }
  if (allowWholeDisk) {
    auto* whole = command.add_flag("--whole-disk", choice.wholeDisk, "Sectors 0 to the end of the disk");
    whole->excludes(partition)->excludes(range);
  } else {
    command.add_flag("--whole-disk", choice.wholeDisk, "Not available: this command needs a file system");
  }
}

Session& CliContext::session() {
  if (!session_) {
    EnvironmentOptions options;
    if (!common.configFile.empty()) options.configFile = common.configFile;
    if (!common.logDir.empty()) options.logDir = common.logDir;
    session_ = std::make_unique<Session>(options);
    // A disk this user may not open is asked of UDisks2 only when someone
    // is there to answer polkit's password question.
    session_->deviceAccess = deviceAccessFor(isatty(STDIN_FILENO) != 0);
    if (const auto& error = session_->config().loadError())
      std::fprintf(stderr, "dravolin: %s (going on with the default settings)\n", error->message.c_str());
  }
  return *session_;
}

const std::vector<DeviceInfo>& CliContext::devices() {
  if (!devices_) devices_ = machineDisks();
  return *devices_;
}

void CliContext::openSource(const std::string& name, bool commit, RecoveryMode recoveryMode) {
  // An image names no disk of the machine: the disks are listed only for a
  // disk number or a block device.
  auto opened = dravolin::openSource(
      name, [this]() -> const std::vector<DeviceInfo>& { return devices(); }, [] { return countDisks(); },
      session().deviceAccess);
  if (!opened) throw CliExit{kExitFailure, opened.error().message};
  Session& s = session();
  s.setSource(std::move(opened->source), opened->device);
  // Over the settings' "SectorSize" too.
  if (common.sectorSize != 0) s.source()->setLogicalSectorSize(common.sectorSize);
  s.reader()->setPrompter(&prompter_);
  if (commit) {
    const std::tm local = localTimeNow();
    s.state.caption = std::string(kApplicationTitle) +
                      (recoveryMode == kImageRecovery ? " - Image Recovery"
                       : recoveryMode == kRawRecovery ? " - Raw Recovery"
                                                      : " - Desktop Recovery");
    s.writeStartBlock(local);
    // Image sets are entered in the geometry cache as the next disk.
    if (s.device().image) {
      cacheDevice(s.config(), s.device());
      if (auto saved = s.config().save(); !saved)
        std::fprintf(stderr, "dravolin: %s\n", saved.error().message.c_str());
    }
    commitStep1(s, recoveryMode);
  }
  const std::string& policy = common.badSectors;
  std::optional<BadSectorAnswer> fixed;
  if (policy == "retry") fixed = BadSectorAnswer::Retry;
  else if (policy == "skip") fixed = BadSectorAnswer::Skip;
  else if (policy == "retry-all") s.reader()->setPolicy(BadSectorPolicy::RetryAll);
  else if (policy == "skip-all") s.reader()->setPolicy(BadSectorPolicy::SkipAll);
  else if (policy.empty() && !prompter_.interactive()) s.reader()->setPolicy(BadSectorPolicy::RetryAll);
  prompter_.setBadSectorAnswer(fixed);
}

void CliContext::checkDestinationDisk(const std::string& destination, bool allowSameDisk) {
  const DeviceInfo& device = session().device();
  if (device.image) return;
  std::cerr << "dravolin: " << kOtherDriveNote << "\n";
  const auto onSource = destinationOnSourceDisk(device, destination);
  if (!onSource) return;
  if (allowSameDisk) {
    std::cerr << "dravolin: warning: " << destination << " lies on the source disk (" << *onSource
              << "); writing there anyway (--allow-same-disk)\n";
    return;
  }
  throw CliExit{kExitFailure, destination + " lies on the source disk (" + *onSource +
                                  "): writing there may overwrite what is still to be recovered; choose a "
                                  "folder on another drive, or give --allow-same-disk"};
}

const PartitionListing& CliContext::listPartitions() {
  Session& s = session();
  if (!listed_ && s.reader()) {
    listSourcePartitions(s);
    listed_ = true;
    for (const auto& note : s.listing().notes) printMessage(note);
  }
  return s.listing();
}

std::string describeChoices(const PartitionListing& listing) {
  std::string out;
  for (const auto& p : listing.partitions)
    out += "  --partition " + std::to_string(p.ordinal) + "   " + p.label() + "\n";
  if (out.empty()) out = "  (no partitions recognised: use --range START END --fs TYPE)\n";
  return out;
}

// Why the volume check of a file system refuses, in its own terms.
static std::string volumeCheckFailure(FsType fileSystem) {
  if (fileSystem == FsType::Ntfs) return "the volume check failed (NTFS boot sector or MFT not valid)";
  if (fileSystem == FsType::ExFat) return "the volume check failed (exFAT boot region not valid, nor its backup)";
  return "the volume check failed (boot sector or FAT not valid)";
}

// The line of a commit that cut the selection at the end of the source.
static void printSelectionWarning(Session& session) {
  if (session.state.selectionWarning.empty()) return;
  printMessage(session.state.selectionWarning);
  session.state.selectionWarning.clear();
}

void CliContext::commitChoice(ChoiceRule rule, bool exhaustive) {
  Session& s = session();
  const auto& listing = listPartitions();
  // A rejected volume check ends a search; raw carving and imaging never use
  // the volume's layout, and the exhaustive search of an NTFS volume reads
  // its records from the sectors (its geometry from the boot sector), so for
  // them it is a warning and the job goes on.
  auto checkFailed = [&](const std::string& message) {
    if (rule == ChoiceRule::NeedsFileSystem) {
      if (!exhaustive || s.state.FileSystemType != FsType::Ntfs) throw CliExit{kExitFailure, message};
      printMessage("warning: " + message + "; going on, the exhaustive search does not need it");
      return;
    }
    printMessage("warning: " + message + "; going on, raw carving and imaging do not need it");
  };
  if (choice.wholeDisk) {
    if (rule == ChoiceRule::NeedsFileSystem)
      throw CliExit{kExitUsage, "--whole-disk is not available here: this command needs a file system; choose one of:\n" +
                                    describeChoices(listing)};
    writeDiskSelection(s, false);
    const std::uint64_t sectors = s.source()->sectorCount();
    auto r = commitManualRange(s, "0", std::to_string(sectors), FsType::Unknown);
    if (!r) throw CliExit{kExitFailure, r.error().message};
    printSelectionWarning(s);
    return;
  }
  if (choice.lost) {
    if (choice.wholeDisk)
      throw CliExit{kExitUsage, "--whole-disk is not available here: this command needs a file system"};
    chooseLostFileSystem(*this, *choice.lost, choice.lostRange);
    return;
  }
  if (!choice.range.empty()) {
    // --fs is checked against the names (any case) and handed on in upper case.
    const FsType type = fileSystemTypeFromText(choice.fileSystem).value_or(FsType::Unknown);
    if (rule == ChoiceRule::NeedsFileSystem && type == FsType::Unknown)
      throw CliExit{kExitUsage, "--range needs --fs FAT12|FAT16|FAT32|NTFS|exFAT for this command"};
    // The range page is reached from the disk node of the partition page,
    // whose commit writes its own block first.
    writeDiskSelection(s, false);
    s.state.FileSystemType = FsType::Unknown;
    auto r = commitManualRange(s, choice.range[0], choice.range[1], type);
    if (!r) throw CliExit{kExitFailure, r.error().message};
    printSelectionWarning(s);
    if (!runVolumeCheck(s))
      checkFailed("The range " + choice.range[0] + " to " + choice.range[1] + " does not hold a valid " + toString(type) +
                  " volume: " + volumeCheckFailure(type));
    return;
  }
  const PartitionEntry* chosen = nullptr;
  if (choice.partition) {
    for (const auto& p : listing.partitions)
      if (p.ordinal == *choice.partition) chosen = &p;
    if (!chosen)
      throw CliExit{kExitUsage, "There is no partition " + std::to_string(*choice.partition) + "; choose one of:\n" +
                                    describeChoices(listing)};
  } else if (rule == ChoiceRule::NeedsFileSystem && listing.partitions.size() == 1) {
    chosen = &listing.partitions.front();
  } else {
    std::string what = rule == ChoiceRule::Explicit ? "--partition N, --range START END or --whole-disk"
                                                    : "--partition N or --range START END --fs TYPE";
    throw CliExit{kExitUsage, "Choose what to work on with " + what + ":\n" + describeChoices(listing)};
  }
  // A GPT partition without a FAT or NTFS boot sector has nothing to search.
  if (rule == ChoiceRule::NeedsFileSystem && chosen->fileSystem == FsType::Unknown)
    throw CliExit{kExitFailure, chosen->label() +
                                    ": no FAT or NTFS file system found on it; use --range START END --fs TYPE "
                                    "to search it as one, or carve it: dravolin carve SOURCE --partition " +
                                    std::to_string(chosen->ordinal) + " --types all --to DIR"};
  const auto accepted = commitPartition(s, *chosen, false);
  if (!accepted) throw CliExit{kExitFailure, chosen->label() + ": " + accepted.error().message};
  printSelectionWarning(s);
  if (!*accepted) checkFailed(chosen->label() + ": " + volumeCheckFailure(chosen->fileSystem));
  if (rule == ChoiceRule::Explicit) {
    // Carving and imaging go on to the range page, prefilled with the partition.
    auto range = commitManualRange(s, std::to_string(s.state.PartitionStart), std::to_string(s.state.PartitionEnd),
                                   FsType::Unknown);
    if (!range) throw CliExit{kExitFailure, range.error().message};
  }
}

bool CliContext::progressEnabled() const { return !common.quiet && isatty(STDERR_FILENO); }

bool CliContext::interrupted() const { return interruptCount > 0; }

SearchOutcome CliContext::runJob(SearchController& controller, SearchController::Worker worker,
                                 const std::function<SearchTotals()>& totals,
                                 const std::function<TransferProgress()>& transfer) {
  controller.start(std::move(worker));
  bool stopped = false;
  const ProgressLine progress(progressEnabled());
  int lastInterrupts = 0;
  // The current rate of an imaging: bytes tried since a sample about a
  // second old.
  std::uint64_t sampleBytes = 0;
  double sampleSeconds = 0.0, currentRate = -1.0;
  while (!controller.workerEnded()) {
    // Redraw every 200 ms, but notice the end of a job within 2 ms.
    for (int i = 0; i < 100 && !controller.workerEnded() && interruptCount == lastInterrupts; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    controller.tick();
    int presses = interruptCount;
    if (presses != lastInterrupts) {
      lastInterrupts = presses;
      if (presses == 1 && !stopped) {
        stopped = true;
        progress.breakLine();
        if (progress.enabled()) std::cerr << "Stopping...\n";
        controller.stop();
      } else if (presses >= 2) {
        controller.back({});
        progress.breakLine();
        return SearchOutcome::Cancelled;
      }
    }
    if (!progress.enabled()) continue;
    ProgressState state{controller.percent(), controller.status(), std::nullopt, std::nullopt};
    if (transfer) {
      const TransferProgress moved = transfer();
      state.doneBytes = moved.doneBytes;
      state.totalBytes = moved.totalBytes;
      if (moved.imaging) {
        const double now = progress.elapsedSeconds();
        if (now - sampleSeconds >= 1.0) {
          if (sampleSeconds > 0.0 || sampleBytes > 0)
            currentRate = static_cast<double>(moved.imaging->triedBytes - std::min(sampleBytes, moved.imaging->triedBytes)) /
                          (now - sampleSeconds);
          sampleSeconds = now;
          sampleBytes = moved.imaging->triedBytes;
        }
        progress.drawText(formatImagingLine(*moved.imaging, currentRate, now, terminalColumns(STDERR_FILENO)));
        continue;
      }
    }
    progress.draw(state);
  }
  if (transfer && progress.enabled()) {
    if (const TransferProgress moved = transfer(); moved.imaging) {
      progress.finishText(formatImagingSummary(*moved.imaging, progress.elapsedSeconds(), stopped));
      return controller.finish(totals);
    }
  }
  progress.finish(ProgressState{controller.percent(), "done", std::nullopt, std::nullopt});
  return controller.finish(totals);
}

void printJsonError(const std::string& message, int exitCode) {
  std::cout << nlohmann::json{{"error", message}, {"exit_code", exitCode}}.dump(
                   2, ' ', false, nlohmann::json::error_handler_t::replace)
            << std::endl;
}

void CliContext::printJson(const nlohmann::json& document) const {
  std::cout << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
}

}  // namespace dravolin::cli
