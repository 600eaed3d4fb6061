#include "results/replace_policy.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace dravolin {
namespace {

namespace fs = std::filesystem;
using test::ScriptedPrompter;
using test::TempDir;
using test::writeFile;

TEST(NewNames, NumberGoesBeforeTheLastDot) {
  TempDir dir;
  struct Case {
    std::vector<std::string> existing;
    const char* name;
    const char* expected;
  };
  for (const Case& c : {Case{{"report.txt", "report0.txt"}, "report.txt", "report1.txt"},
                        Case{{"report.txt"}, "report.txt", "report0.txt"},
                        Case{{"Makefile"}, "Makefile", "Makefile0"},
                        Case{{"a.tar.gz"}, "a.tar.gz", "a.tar0.gz"},
                        Case{{".profile"}, ".profile", "0.profile"}}) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir.path() / "case");
    for (const auto& name : c.existing) writeFile(dir.path() / "case" / name, "x");
    auto fresh = makeNewName(dir.path() / "case" / c.name);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->filename().string(), c.expected);
  }
}

TEST(NewNames, NothingWhenAllTenThousandAreTaken) {
  TempDir dir;
  writeFile(dir / "r.txt", "x");
  for (int i = 0; i < kMaxRenameAttempts; ++i) writeFile(dir / ("r" + std::to_string(i) + ".txt"), "");
  EXPECT_FALSE(makeNewName(dir / "r.txt"));
  // The policy keeps the existing file instead of overwriting it.
  ScriptedPrompter prompter;
  prompter.replaceAnswers = {ReplaceAnswer::Rename};
  ReplacePolicy policy;
  const ExistingDecision d = policy.decide(dir / "r.txt", prompter);
  EXPECT_EQ(d.action, ExistingAction::Skip);
  EXPECT_TRUE(d.noFreeName);
}

TEST(ReplacePolicy, EveryAnswerAndWhatItRemembers) {
  TempDir dir;
  writeFile(dir / "a.txt", "old");
  struct Case {
    ReplaceAnswer answer;
    ExistingAction first;
    bool countsAsCopied;
    bool asksAgain;
    ExistingAction second;  // the next conflict
  };
  for (const Case& c : {
           Case{ReplaceAnswer::Yes, ExistingAction::Overwrite, false, true, ExistingAction::Skip},
           Case{ReplaceAnswer::No, ExistingAction::Skip, true, true, ExistingAction::Skip},
           Case{ReplaceAnswer::YesToAll, ExistingAction::Overwrite, false, false, ExistingAction::Overwrite},
           // No to All: the first file counts as copied, later ones do not.
           Case{ReplaceAnswer::NoToAll, ExistingAction::Skip, true, false, ExistingAction::Skip},
           Case{ReplaceAnswer::Rename, ExistingAction::WriteNew, false, true, ExistingAction::Skip},
           Case{ReplaceAnswer::RenameAll, ExistingAction::WriteNew, false, false, ExistingAction::WriteNew},
       }) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    ScriptedPrompter prompter;
    prompter.replaceAnswers = {c.answer};  // afterwards: No
    ReplacePolicy policy;
    const ExistingDecision first = policy.decide(dir / "a.txt", prompter);
    EXPECT_EQ(first.action, c.first);
    EXPECT_EQ(first.countAsCopied, c.countsAsCopied);
    if (first.action == ExistingAction::WriteNew) {
      EXPECT_EQ(first.target.filename(), "a0.txt");
    }
    const ExistingDecision second = policy.decide(dir / "a.txt", prompter);
    EXPECT_EQ(second.action, c.second);
    EXPECT_EQ(prompter.questions.size(), c.asksAgain ? 2u : 1u);
    if (c.answer == ReplaceAnswer::NoToAll) {
      EXPECT_FALSE(second.countAsCopied);
    }
  }
}

}  // namespace
}  // namespace dravolin
