#include "results/destination.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace dravolin {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;

TEST(Destination, ChecksAndCreatesTheFolder) {
  TempDir dir;
  writeFile(dir / "afile", "x");
  struct Case {
    std::string text;
    bool accepted;
  };
  for (const Case& c : {Case{"", false},
                        Case{(dir / "new/deeper/still").string(), true},
                        Case{(dir / "new").string(), true},
                        Case{(dir / "afile").string(), false},
                        Case{(dir / "afile/below").string(), false}}) {
    SCOPED_TRACE(c.text);
    auto checked = checkDestination(c.text);
    EXPECT_EQ(checked.has_value(), c.accepted);
    if (checked) EXPECT_TRUE(fs::is_directory(*checked));
    else EXPECT_EQ(checked.error().message, kInvalidDestinationMessage);
  }
  EXPECT_TRUE(CreateFolderPath(dir / "x/y/z"));
  EXPECT_TRUE(CreateFolderPath(dir / "x/y/z"));  // already there: used as it is
  EXPECT_FALSE(CreateFolderPath(dir / "afile/sub"));
  EXPECT_TRUE(freeSpaceOf(dir.path()).has_value());
}

}  // namespace
}  // namespace dravolin
