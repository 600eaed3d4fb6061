#pragma once
// Each subcommand registers itself on the application and returns the
// function that runs it once the command line has been parsed.
#include <CLI/CLI.hpp>

#include <functional>

#include "cli/cli_context.h"

namespace dravolin::cli {

using CommandRunner = std::function<int()>;

CommandRunner registerDisksCommand(CLI::App& app, CliContext& context);
CommandRunner registerPartitionsCommand(CLI::App& app, CliContext& context);
CommandRunner registerScanCommand(CLI::App& app, CliContext& context);
CommandRunner registerRecoverCommand(CLI::App& app, CliContext& context);
CommandRunner registerFindCommand(CLI::App& app, CliContext& context);
CommandRunner registerImageCommand(CLI::App& app, CliContext& context);
CommandRunner registerCarveCommand(CLI::App& app, CliContext& context);
CommandRunner registerLostCommand(CLI::App& app, CliContext& context);

}  // namespace dravolin::cli
