#include "common/config_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

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
  // The temporary file has a name of its own each time, so nothing can be
  // put in its way: a limit on the size of files makes its write fail.
  store.setValue("App", "A", std::string(4096, '2'));
  struct sigaction ignore{}, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit small = before;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto saved = store.save();
  ::setrlimit(RLIMIT_FSIZE, &before);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  ASSERT_FALSE(saved);
  EXPECT_NE(saved.error().message.find("settings.ini"), std::string::npos);
  EXPECT_EQ(ConfigStore(file).value("App", "A"), "1");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1) << "no temporary file is left";
}

TEST(ConfigStoreFile, TwoRunsSavingAtOnceNeverMixTheirFiles) {
  // Two runs of the program save the same settings file at the same time:
  // the file is always one run's whole text, and no save fails for the other.
  const fs::path dir = freshFolder("concurrent");
  const fs::path file = dir / "settings.ini";
  auto saveMany = [&file](const std::string& value, std::atomic<int>& failures) {
    ConfigStore store(file);
    store.setValue("App", "Run", value);
    store.setValue("App", "Padding", std::string(20000, value[0]));
    for (int i = 0; i < 150; ++i)
      if (!store.save()) ++failures;
  };
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  int torn = 0;
  std::thread reader([&] {
    while (!done) {
      const ConfigStore read(file);
      const std::string run = read.value("App", "Run");
      if (!run.empty() && read.value("App", "Padding") != std::string(20000, run[0])) ++torn;
    }
  });
  std::thread a(saveMany, "a", std::ref(failures));
  std::thread b(saveMany, "b", std::ref(failures));
  a.join();
  b.join();
  done = true;
  reader.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(torn, 0);
  const std::string last = ConfigStore(file).value("App", "Run");
  EXPECT_TRUE(last == "a" || last == "b") << last;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1) << "no temporary file is left";
}

}  // namespace
}  // namespace dravolin
