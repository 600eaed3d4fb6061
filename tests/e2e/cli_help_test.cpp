// Every command's --help ends with its examples and the exit codes, and the
// examples use only options the command has.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "support/test_support.h"

namespace dravolin {
namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(CliHelp, EveryCommandEndsWithExamplesAndExitCodes) {
  test::TempDir dir;
  const auto top = test::runDravolin({"--help"}, dir / "home");
  ASSERT_EQ(top.exitCode, 0);
  std::vector<std::string> commands = {""};
  bool inList = false;
  for (const auto& line : lines(top.out)) {
    if (!line.empty() && line[0] != ' ') inList = line == "Subcommands:";
    else if (inList && line.size() > 2 && line[2] != ' ') commands.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  ASSERT_GE(commands.size(), 8u) << top.out;
  const std::string exitCodes =
      "Exit codes:\n"
      "  0    the job ran and did what was asked\n"
      "  1    the job failed or was incomplete (the message says what)\n"
      "  2    usage error\n"
      "  130  interrupted (Ctrl-C)\n";
  for (const auto& command : commands) {
    SCOPED_TRACE("dravolin " + command + " --help");
    const auto help = command.empty() ? top : test::runDravolin({command, "--help"}, dir / "home");
    ASSERT_EQ(help.exitCode, 0);
    ASSERT_GE(help.out.size(), exitCodes.size());
    EXPECT_EQ(help.out.substr(help.out.size() - exitCodes.size()), exitCodes);
    const auto all = lines(help.out);
    const auto examples = std::find(all.begin(), all.end(), "Examples:");
    ASSERT_NE(examples, all.end());
    int count = 0;
    for (auto line = examples + 1; line != all.end() && !line->empty(); ++line, ++count) {
      const std::string prefix = "  dravolin " + command;
      EXPECT_EQ(line->rfind(prefix, 0), 0u) << *line;
      // Every option of the example is one the command lists.
      std::istringstream words(*line);
      for (std::string word; words >> word;) {
        if (!command.empty() && word.rfind("--", 0) == 0) {
          EXPECT_NE(help.out.find(word), std::string::npos) << word << " in " << *line;
        }
      }
    }
    EXPECT_GE(count, 1);
  }
}

}  // namespace
}  // namespace dravolin
