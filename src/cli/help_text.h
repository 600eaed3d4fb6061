#pragma once
// The end of every --help: examples of the command and the exit codes.
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace dravolin::cli {

// Examples of a command ("" for the program itself), one command line each;
// empty for a command that has none.
std::vector<std::string> helpExamples(const std::string& command);

// The footer of a command's --help: "Examples:" with its examples, then
// "Exit codes:".
std::string helpFooter(const std::string& command);

// Sets the footer of app and of each of its subcommands.
void addHelpFooters(CLI::App& app);

}  // namespace dravolin::cli
