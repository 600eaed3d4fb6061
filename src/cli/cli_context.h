#pragma once
// What every subcommand shares: the common options, the session, the
// terminal prompter, the opening of SOURCE, the choice of what to work on,
// running a job with a progress line, and the exit codes.
#include <CLI/CLI.hpp>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/search_controller.h"
#include "app/session.h"
#include "cli/progress_line.h"
#include "common/prompter.h"

namespace dravolin::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// Bytes a copying job has moved and will move in all.
struct TransferProgress {
  std::uint64_t doneBytes = 0;
  std::uint64_t totalBytes = 0;
  // An imaging: the line shows what ddrescue shows (position, rescued, bad
  // areas, read errors, rates, time left) and ends with what was done.
  std::optional<ImagingCounters> imaging;
};

// Ends a command with an exit code and one line on stderr.
struct CliExit {
  int code = kExitFailure;
  std::string message;
};

struct CommonOptions {
  std::string configFile;
  std::string logDir;
  bool json = false;
  bool quiet = false;
  std::string badSectors;  // ask|retry|skip|retry-all|skip-all; empty = by terminal
  std::uint32_t sectorSize = 0;  // --sector-size 512|4096; 0 = the source's own
};

struct ChoiceOptions {
  std::optional<int> partition;
  std::vector<std::string> range;  // START END
  std::string fileSystem;          // --fs
  bool wholeDisk = false;
  std::optional<int> lost;             // --lost N: found file system N of a search for lost partitions
  std::vector<std::string> lostRange;  // --lost-range START END (default: the whole disk)
};

// How a command picks what to work on.
enum class ChoiceRule {
  NeedsFileSystem,  // scan, recover, find: one recognised partition may be implied
  Explicit,         // carve, image: never chosen implicitly; --whole-disk allowed
};

// Answers questions from options, or on the terminal when there is one.
class TerminalPrompter final : public Prompter {
 public:
  TerminalPrompter();
  void setBadSectorAnswer(std::optional<BadSectorAnswer> answer) { badSector_ = answer; }
  void setReplaceAnswer(std::optional<ReplaceAnswer> answer) { replace_ = answer; }
  void setYes(bool yes) { yes_ = yes; }
  // The answer to a file that cannot be created: true aborts the saving,
  // false skips the file; unset asks on a terminal and skips otherwise.
  void setCreateErrorAnswer(std::optional<bool> abort) { createErrorAbort_ = abort; }
  bool interactive() const { return interactive_; }

  BadSectorAnswer askBadSector() override;
  ReplaceAnswer askReplace(const std::string& path) override;
  bool askYesNo(const std::string& text) override;
  void inform(const std::string& text) override;

 private:
  std::string askLine(const std::string& question);
  bool askCreateError(const std::string& text);
  bool interactive_;
  std::optional<BadSectorAnswer> badSector_;
  std::optional<ReplaceAnswer> replace_;
  bool yes_ = false;
  std::optional<bool> createErrorAbort_;
  bool createErrorToldOnce_ = false;
};

class CliContext {
 public:
  CommonOptions common;
  ChoiceOptions choice;

  // Adds --json, --quiet, --config, --log-dir (and --bad-sectors when the
  // command reads a disk) to a subcommand.
  void addCommonOptions(CLI::App& command, bool readsDisk);
  // Adds --partition, --range, --fs, --whole-disk.
  void addChoiceOptions(CLI::App& command, bool allowWholeDisk);

  Session& session();
  TerminalPrompter& prompter() { return prompter_; }

  // Lists the machine's disks once.
  const std::vector<DeviceInfo>& devices();

  // Opens SOURCE read-only into the session. When commit is set this is
  // Step 1 of the wizard: the start block and the Step 1 block go to the
  // activity report and the bad-sector policy is reset, then --bad-sectors
  // applies.
  void openSource(const std::string& name, bool commit, RecoveryMode recoveryMode = kDesktopRecovery);

  // For a command that writes into a folder: on a disk source, shows the
  // note to save on another drive, and refuses (CliExit) a destination that
  // lies on the source disk unless allowSameDisk.
  void checkDestinationDisk(const std::string& destination, bool allowSameDisk);

  // Lists the partitions of the open source into the session.
  const PartitionListing& listPartitions();

  // Commits the choice as the wizard would; throws CliExit on a refusal.
  // exhaustive: the search asked for is the exhaustive one, which finds an
  // NTFS volume's records in its sectors without the MFT: a failed NTFS
  // volume check is then a warning and the search goes on.
  void commitChoice(ChoiceRule rule, bool exhaustive = false);

  // Runs a worker under a search controller with a progress line on stderr
  // when it is a terminal. The first Ctrl-C stops the job as the Stop button
  // does; the second cancels it. Returns the outcome.
  // A copying job may also give how many bytes it has moved out of how
  // many; the line then shows the rate and the time remaining.
  SearchOutcome runJob(SearchController& controller, SearchController::Worker worker,
                       const std::function<SearchTotals()>& totals,
                       const std::function<TransferProgress()>& transfer = {});
  bool interrupted() const;

  // Prints a JSON document on stdout.
  void printJson(const nlohmann::json& document) const;
  bool progressEnabled() const;

 private:
  std::unique_ptr<Session> session_;
  std::optional<std::vector<DeviceInfo>> devices_;
  TerminalPrompter prompter_;
  bool listed_ = false;
};

// The search for lost partitions over range (START END; empty: the whole
// disk) under a search controller, with the progress line; fills the
// session's found file systems. Throws CliExit when it cannot run.
void searchLostPartitions(CliContext& context, const std::vector<std::string>& range, LostSearchScope scope);
// --lost N: the search, then the choice of found file system N for the
// second pass (usage error listing the choices when there is no N).
void chooseLostFileSystem(CliContext& context, int ordinal, const std::vector<std::string>& range);
// The choice of found file system N (1-based) of the session's found list
// for the second pass (usage error listing the choices when there is no N).
void chooseFoundOrdinal(CliContext& context, int ordinal);
// Restores the found list of a .ST2C search log (checked against the source) without searching.
void loadFoundListLog(CliContext& context, const std::string& path);

// The refusal of a destination folder: the destination dialog's message
// and, in brackets, the path and the system's reason ("Not a valid
// Destination. Please specify destination. (/a/file: Not a directory)").
std::string destinationRefusal(const std::string& message, const std::string& why);

// The text of a message as the terminal shows it: the control characters
// of names read from the disk escaped ("\n", "\x1b"), the message's own
// line breaks kept.
std::string shownMessage(std::string_view text);
// Every message on stderr goes this one way: "dravolin: " and the shown
// text, written at once.
void printMessage(std::string_view text);

// The document of a failing command under --json: {"error": ..., "exit_code": ...}.
void printJsonError(const std::string& message, int exitCode);

// Text of a choice list for usage errors: one "  --partition N   Partition - N ( TYPE )" line each.
std::string describeChoices(const PartitionListing& listing);

}  // namespace dravolin::cli
