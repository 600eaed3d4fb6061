#include "common/config_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace dravolin {
namespace {

namespace fs = std::filesystem;

fs::path freshFolder(const std::string& name) {
  fs::path dir = fs::temp_directory_path() / ("dravolin-config-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

struct RoundTripCase {
  const char* label;
  std::string section, name, value;
  friend void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.label; }
};

class ConfigRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(ConfigRoundTrip, ValueReadsBackAsWritten) {
  const auto& c = GetParam();
  const fs::path file = freshFolder(c.label) / "settings.ini";
  ConfigStore store(file);
  store.setValue(c.section, c.name, c.value);
  store.setValue("Other", "After", "plain");  // a neighbour that must not be disturbed
  ASSERT_TRUE(store.save());
  ConfigStore reread(file);
  EXPECT_FALSE(reread.loadError());
  EXPECT_EQ(reread.value(c.section, c.name), c.value);
  EXPECT_EQ(reread.value("Other", "After"), "plain");
  EXPECT_FALSE(fs::exists(fs::path(file) += ".tmp"));
}

INSTANTIATE_TEST_SUITE_P(
    AnyText, ConfigRoundTrip,
    ::testing::Values(RoundTripCase{"Plain", "App", "FilePath", "/usr/share/dravolin"},
                      RoundTripCase{"Newlines", "App", "Note", "line one\nline two\r\n"},
                      RoundTripCase{"EqualsSigns", "App", "a=b", "x=y=z"},
                      RoundTripCase{"LeadingAndTrailingBlanks", "App", " Name ", "  value with blanks  "},
                      RoundTripCase{"Backslashes", "App", "Path", "C:\\Dir\\n\\"},
                      RoundTripCase{"CommentAndSectionCharacters", "[odd]", "#name", "; not a comment [x]"},
                      RoundTripCase{"Tabs", "App", "T", "\ta\tb\t"},
                      RoundTripCase{"OnlyBlanks", "App", "Blank", "   "},
                      RoundTripCase{"Empty", "App", "Empty", ""},
                      RoundTripCase{"Utf8", "Geometry", "Disk0", "Café ΑΒΓ 日本"}),
    [](const ::testing::TestParamInfo<RoundTripCase>& p) { return std::string(p.param.label); });

TEST(ConfigStoreFile, HandWrittenFileWithCrLfAndCommentsIsRead) {
  const fs::path file = freshFolder("handwritten") / "settings.ini";
  std::ofstream(file) << "; comment\r\n[App]\r\n  FilePath = /opt/data  \r\n# another\r\nLog=C:\\Logs\r\n";
  ConfigStore store(file);
  EXPECT_EQ(store.value("App", "FilePath"), "/opt/data");
  EXPECT_EQ(store.value("App", "Log"), "C:\\Logs");  // a backslash that is no escape stays
}

TEST(ConfigStoreFile, UnreadableFileIsReportedAndMissingFileIsNot) {
  const fs::path dir = freshFolder("unreadable");
  EXPECT_FALSE(ConfigStore(dir / "missing.ini").loadError());
  fs::create_directories(dir / "folder.ini");
  const ConfigStore folder(dir / "folder.ini");
  ASSERT_TRUE(folder.loadError());
  EXPECT_NE(folder.loadError()->message.find("folder.ini"), std::string::npos);
}

TEST(ConfigStoreFile, SaveIntoAnUnwritablePlaceFailsAndKeepsTheOldFile) {
  const fs::path dir = freshFolder("readonly");
  const fs::path file = dir / "settings.ini";
  ConfigStore store(file);
  store.setValue("App", "A", "1");
  ASSERT_TRUE(store.save());
  // A folder where the temporary file would go makes the write fail.
  fs::create_directories(fs::path(file) += ".tmp");
  store.setValue("App", "A", "2");
  const auto saved = store.save();
  ASSERT_FALSE(saved);
  EXPECT_NE(saved.error().message.find("settings.ini"), std::string::npos);
  EXPECT_EQ(ConfigStore(file).value("App", "A"), "1");
}

}  // namespace
}  // namespace dravolin
