// dravolin: the command line of the recovery suite.
#include <iostream>
#include <map>
#include <string>
#include <string_view>

#include "cli/cli_context.h"
#include "cli/commands.h"
#include "cli/help_text.h"
#include "cli/interrupts.h"

namespace {

// Whether the command line asks for JSON output: known before parsing, so
// that a usage error is reported as a JSON document too.
bool wantsJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") break;
    if (arg == "--json") return true;
  }
  return false;
}

// The first argument that is not an option: the subcommand's name.
std::string_view firstWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] != '-') return argv[i];
  return {};
}

// A failing command: one line on stderr and, with --json, one document
// {"error": ..., "exit_code": ...} on stdout.
int fail(bool json, int code, const std::string& message) {
  if (!message.empty()) dravolin::cli::printMessage(message);
  if (json) dravolin::cli::printJsonError(message, code);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dravolin::cli;
  startInterruptWatcher();
  CLI::App app{"Dravolin: recovers files, partitions and disk images from damaged disks", "dravolin"};
  app.set_version_flag("--version", std::string("dravolin ") + dravolin::kVersionText);
  app.require_subcommand(1);
  CliContext context;
  std::map<CLI::App*, CommandRunner> runners;
  auto add = [&](CommandRunner (*registrar)(CLI::App&, CliContext&)) {
    std::size_t before = app.get_subcommands({}).size();
    CommandRunner runner = registrar(app, context);
    runners[app.get_subcommands({})[before]] = std::move(runner);
  };
  add(registerDisksCommand);
  add(registerPartitionsCommand);
  add(registerScanCommand);
  add(registerRecoverCommand);
  add(registerFindCommand);
  add(registerImageCommand);
  add(registerCarveCommand);
  add(registerLostCommand);
  addHelpFooters(app);

  const bool json = wantsJson(argc, argv);
  if (const std::string_view word = firstWord(argc, argv); !word.empty()) {
    bool known = false;
    for (const auto& [command, runner] : runners) known = known || command->check_name(std::string(word));
    if (!known) return fail(json, kExitUsage, "unknown command '" + std::string(word) + "' (see 'dravolin --help')");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::string message = e.what();
    if (message.empty()) message = "invalid command line";
    return fail(json, kExitUsage, message + " (see --help)");
  }

  try {
    for (auto& [command, runner] : runners)
      if (command->parsed()) {
        int code = runner();
        return context.interrupted() && code != kExitOk ? kExitInterrupted : code;
      }
  } catch (const CliExit& e) {
    return fail(json, e.code, e.message.empty() ? "failed" : e.message);
  } catch (const std::exception& e) {
    return fail(json, kExitFailure, e.what());
  }
  return fail(json, kExitUsage, "no command given (see 'dravolin --help')");
}
