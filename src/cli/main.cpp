// dravolin: the command line of the recovery suite.
#include <iostream>
#include <map>

#include "cli/cli_context.h"
#include "cli/commands.h"
#include "cli/interrupts.h"

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

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  try {
    for (auto& [command, runner] : runners)
      if (command->parsed()) {
        int code = runner();
        return context.interrupted() && code != kExitOk ? kExitInterrupted : code;
      }
  } catch (const CliExit& e) {
    if (!e.message.empty()) std::cerr << "dravolin: " << e.message << "\n";
    return e.code;
  } catch (const std::exception& e) {
    std::cerr << "dravolin: " << e.what() << "\n";
    return kExitFailure;
  }
  return kExitUsage;
}
