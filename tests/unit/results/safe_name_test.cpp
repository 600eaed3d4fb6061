#include "results/safe_name.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace dravolin {
namespace {

TEST(SafeName, EveryNameStaysOneComponentInsideTheFolder) {
  struct Case {
    std::string name;
    std::string expected;
  };
  for (const Case& c : {Case{"report.txt", "report.txt"},
                        Case{"..", "__"},
                        Case{".", "_"},
                        Case{"", "_"},
                        Case{"../../etc/passwd", ".._.._etc_passwd"},
                        Case{"a\\b", "a_b"},
                        Case{"/abs", "_abs"},
                        Case{std::string("tab\there\x01\x7F", 10), "tab_here__"},
                        Case{std::string("nul\0x", 5), "nul_x"},
                        Case{"Caf\xC3\xA9 cr\xC3\xA8me.txt", "Caf\xC3\xA9 cr\xC3\xA8me.txt"},
                        Case{"...", "..."},
                        Case{"a:b", "a:b"}}) {
    SCOPED_TRACE(c.expected);
    const std::string safe = sanitiseName(c.name);
    EXPECT_EQ(safe, c.expected);
    const std::filesystem::path joined = std::filesystem::path("/dest") / safe;
    EXPECT_EQ(joined.parent_path(), "/dest");
    EXPECT_EQ(joined.lexically_normal().parent_path(), "/dest");
  }
}

TEST(SafeName, LongNamesAreCutAtACharacterBoundaryKeepingTheExtension) {
  std::string longName;
  for (int i = 0; i < 200; ++i) longName += "\xC3\xA9";  // 400 bytes
  const std::string cut = sanitiseName(longName + ".txt");
  EXPECT_LE(cut.size(), kMaxComponentBytes);
  EXPECT_TRUE(cut.ends_with("\xC3\xA9.txt"));
  const std::string plain = sanitiseName(longName);
  EXPECT_LE(plain.size(), kMaxComponentBytes);
  EXPECT_EQ(plain.size() % 2, 0u);
}

}  // namespace
}  // namespace dravolin
