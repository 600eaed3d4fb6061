// dravolin carve: raw recovery. Scans a disk, partition or sector range for
// the signatures of the chosen file types and saves every file found in one
// folder per type below the destination.
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "app/raw_recovery.h"
#include "cli/commands.h"
#include "cli/read_loss_json.h"
#include "common/format.h"
#include "results/destination.h"

namespace dravolin::cli {
namespace {

struct CarveOptions {
  std::string source;
  std::string types;
  std::string to;
  bool allowSameDisk = false;
  bool wholeSectors = false;
};

// Passes questions to the terminal. Without a terminal the question whether
// to stop (asked when the target is full and no other folder was given) is
// answered Yes, the safe answer, and says so.
class CarvePrompter final : public Prompter {
 public:
  explicit CarvePrompter(TerminalPrompter& inner) : inner_(inner) {}
  BadSectorAnswer askBadSector() override { return inner_.askBadSector(); }
  ReplaceAnswer askReplace(const std::string& path) override { return inner_.askReplace(path); }
  bool askYesNo(const std::string& text) override {
    if (inner_.interactive()) return inner_.askYesNo(text);
    std::cerr << "dravolin: " << text << "\ndravolin: answered Yes (no terminal to ask)\n";
    return true;
  }
  void inform(const std::string& text) override { inner_.inform(text); }

 private:
  TerminalPrompter& inner_;
};

// The saving-path dialog after a full target: another folder from the
// terminal, checked like --to; empty when there is no terminal or no answer.
std::string askAnotherSavingPath(TerminalPrompter& prompter) {
  if (!prompter.interactive()) return {};
  std::cerr << "\nAnother saving path (empty to stop): " << std::flush;
  std::string line;
  if (!std::getline(std::cin, line) || line.empty()) return {};
  std::string why;
  auto checked = checkDestination(line, &why);
  if (!checked) {
    printMessage(destinationRefusal(checked.error().message, why));
    return {};
  }
  return checked->string();
}

nlohmann::json resultJson(const RawCarvingResult& result) {
  // Every file found, written or not: one that could not be written says why,
  // one written with zero-filled sectors says which.
  nlohmann::json files = nlohmann::json::array();
  nlohmann::json errors = nlohmann::json::array();
  for (const auto& f : result.files) {
    nlohmann::json file{{"path", f.path},       {"type", f.type},   {"start_sector", f.startSector},
                        {"sectors", f.sectors}, {"size", f.bytes},  {"written", f.written}};
    if (!f.complete) file["complete"] = false;
    if (!f.written) {
      file["error"] = f.error.empty() ? "not written" : f.error;
      errors.push_back({{"path", f.path}, {"error", file["error"]}});
    }
    if (!f.unreadable.empty()) {
      file["unreadable"] = sectorRangesJson(f.unreadable);
      errors.push_back({{"path", f.path},
                        {"error", describeSectorRanges(f.unreadable) + " could not be read and were written as zeros"}});
    }
    files.push_back(std::move(file));
  }
  nlohmann::json doc{{"files", files},
                     {"files_found", result.filesFound},
                     {"files_written", result.filesWritten},
                     {"errors", errors},
                     {"bytes_recovered", result.bytesRecovered},
                     {"current_sector", result.currentSector},
                     {"last_name", result.lastName},
                     {"aborted", result.aborted},
                     {"message", result.message}};
  addReadLossJson(doc, result.unreadable, nullptr);
  return doc;
}

// What went wrong, on stderr: each file not written or written with
// zero-filled sectors, and the sectors the run could not read.
void printProblems(const RawCarvingResult& result) {
  for (const auto& f : result.files) {
    if (!f.complete)
      std::fprintf(stderr, "dravolin: %s: partial: its format stops parsing after %llu bytes\n", f.path.c_str(),
                   static_cast<unsigned long long>(f.bytes));
    if (!f.written)
      std::fprintf(stderr, "dravolin: error: %s: %s\n", f.path.c_str(), f.error.empty() ? "not written" : f.error.c_str());
    if (!f.unreadable.empty())
      std::fprintf(stderr, "dravolin: error: %s: %s could not be read and were written as zeros\n", f.path.c_str(),
                   describeSectorRanges(f.unreadable).c_str());
  }
  if (result.filesNotWritten > 0)
    std::fprintf(stderr, "dravolin: %llu of %llu files found could not be written\n",
                 static_cast<unsigned long long>(result.filesNotWritten),
                 static_cast<unsigned long long>(result.filesFound));
  if (!result.unreadable.empty())
    std::fprintf(stderr, "dravolin: could not read %s; they were read as zeros\n",
                 describeSectorRanges(result.unreadable).c_str());
}

void printResult(const RawCarvingResult& result, SectorNumber end, const std::string& elapsed) {
  for (const auto& f : result.files)
    std::printf("%s%s  (%s, start sector %llu, %llu sectors, %llu bytes%s)\n", f.written ? "" : "not written: ",
                f.path.c_str(), f.type.c_str(), static_cast<unsigned long long>(f.startSector),
                static_cast<unsigned long long>(f.sectors), static_cast<unsigned long long>(f.bytes),
                f.complete ? "" : ", partial");
  std::printf("Raw Recovery for Selected Extensions :\n");
  std::printf("Time Elapsed : %s\n", elapsed.c_str());
  std::printf("Current Sector : %llu / %llu\n", static_cast<unsigned long long>(result.currentSector),
              static_cast<unsigned long long>(end));
  std::printf("Bytes Recovered : %s\n", formatMegaGiga(result.bytesRecovered).c_str());
  std::printf("Files Found : %llu\n", static_cast<unsigned long long>(result.filesFound));
  std::printf("Last Name : %s\n", result.lastName.c_str());
  std::printf("%s\n", result.message.c_str());
}

}  // namespace

CommandRunner registerCarveCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand(
      "carve", "Find files of chosen types by their signatures alone and save them, one folder per type");
  context.addCommonOptions(*command, true);
  context.addChoiceOptions(*command, true);
  auto options = std::make_shared<CarveOptions>();
  command->add_option("SOURCE", options->source, "Block device, DiskN, image file or folder, first piece of a split image (.001, .aa), or E01, qcow2, VMDK, VHD, VHDX image")->required();
  std::string names;
  for (auto name : kExtensionNames) {
    // With a space after each comma, so that the help and the manual page
    // can break the long list.
    if (!names.empty()) names += ", ";
    names += name;
  }
  std::string modernNames;
  for (auto name : kModernNames) {
    if (!modernNames.empty()) modernNames += ", ";
    modernNames += name;
  }
  command->add_option("--types", options->types,
                      "Comma-separated file types or extensions: all (" + names + "), modern (" + modernNames +
                          "), or any of them")
      ->required();
  command->add_option("--to", options->to, "Destination folder (created when missing)")->required();
  command->add_flag("--whole-sectors", options->wholeSectors,
                    "Save whole sectors up to the end signature or size field, not the format's exact end");
  command->add_flag("--allow-same-disk", options->allowSameDisk,
                    "Save even when the destination lies on the source disk");

  return [options, &context]() -> int {
    auto types = parseTypeList(options->types);
    if (!types) throw CliExit{kExitUsage, types.error().message};

    context.openSource(options->source, true, kRawRecovery);
    context.checkDestinationDisk(options->to, options->allowSameDisk);
    context.commitChoice(ChoiceRule::Explicit);
    Session& session = context.session();

    // Step 2 (b): the types and the saving path.
    session.state.RecoveryMode = kRawRecoverySearch;
    session.state.CurrentStep = 10;
    std::string destinationError;
    auto page = commitRawExtensionPage(types->classic, session.activityLog(), [&]() -> std::string {
      std::string why;
      auto checked = checkDestination(options->to, &why);
      if (!checked) {
        destinationError = destinationRefusal(checked.error().message, why);
        return {};
      }
      return checked->string();
    }, types->modern);
    if (!page) {
      if (page.error().message == kSelectExtensionsMessage) throw CliExit{kExitUsage, page.error().message};
      throw CliExit{kExitFailure, destinationError.empty() ? page.error().message : destinationError};
    }

    page->exactEnds = !options->wholeSectors;

    // Step 3.
    CarvePrompter prompter(context.prompter());
    SteadyTickSource clock;
    SearchController controller(session, prompter, clock);
    RawRecoveryRun run(session, controller, std::move(*page),
                       [&context] { return askAnotherSavingPath(context.prompter()); });
    auto outcome = context.runJob(controller, run.worker(), {}, [&run] {
      return TransferProgress{run.scannedBytes(), run.totalBytes()};
    });
    if (outcome == SearchOutcome::Cancelled) throw CliExit{kExitInterrupted, "Raw search cancelled."};
    if (outcome != SearchOutcome::Close)
      throw CliExit{kExitFailure, controller.error().empty() ? std::string(kRawSearchAbortedMessage) : controller.error()};

    const RawCarvingResult& result = run.result();
    if (context.common.json) context.printJson(resultJson(result));
    else printResult(result, run.end(), controller.clockText());
    printProblems(result);
    // The exit code follows the message: a file found but not written, a
    // file with zero-filled sectors or a part of the range that could not be
    // read make the run incomplete.
    return result.aborted || !result.completed ? kExitFailure : kExitOk;
  };
}

}  // namespace dravolin::cli
