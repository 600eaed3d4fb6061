#include "app/app_environment.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace dravolin {
namespace {

// The data folder is found relative to the program: installed beside
// <prefix>/bin, in a build folder a few levels up; never elsewhere.
TEST(DataFolder, IsFoundRelativeToTheProgram) {
  struct Case {
    const char* program;
    const char* languageFile;  // where EnglishW.dat lies, "" for nowhere
    const char* expected;      // "" for not found
  };
  const Case cases[] = {
      {"usr/bin/dravolin", "usr/share/dravolin/EnglishW.dat", "usr/share/dravolin"},
      {"opt/x/bin/dravolin-wizard", "opt/x/share/dravolin/EnglishW.dat", "opt/x/share/dravolin"},
      {"build/src/cli/dravolin", "build/share/dravolin/EnglishW.dat", "build/share/dravolin"},
      {"build/tests/unit/app/app_tests", "build/share/dravolin/EnglishW.dat", "build/share/dravolin"},
      // A share/dravolin without the language file is not a data folder.
      {"usr/bin/dravolin", "usr/share/dravolin/other.txt", ""},
      // Too far up to belong to the program.
      {"a/b/c/d/e/bin/dravolin", "a/share/dravolin/EnglishW.dat", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    test::TempDir root;
    test::writeFile(root / c.languageFile, "1=x\n");
    const auto found = dataFolderBeside(root / c.program);
    EXPECT_EQ(found, *c.expected ? root / c.expected : std::filesystem::path());
  }
  EXPECT_EQ(dataFolderBeside({}), std::filesystem::path());
}

}  // namespace
}  // namespace dravolin
