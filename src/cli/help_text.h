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

// Adds the footer to app and to each of its subcommands, below a footer
// they already have.
void addHelpFooters(CLI::App& app);

}  // namespace dravolin::cli
