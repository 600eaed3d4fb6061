// dravolin recover: the exit code follows the final message. One table of
// saving outcomes on the fixture images: everything saved; the partial files
// a killed run left, removed and said once; a read-only destination; a file
// whose listed size is more than its data holds (a search log that says so);
// existing files skipped by --on-exists skip.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "results/destination.h"
#include "results/search_log.h"
#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::runDravolin;
using test::TempDir;

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// A search log of ntfs.img in which /hello.txt (13 bytes) is listed at 18,000 bytes.
fs::path logWithALongerHello(const TempDir& home) {
  const auto scan = runDravolin({"scan", test::fixturePath("ntfs.img").string(), "--save-log",
                                 (home / "result").string(), "-q"},
                                home.path());
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  const fs::path log = home / "RESULT.ST4";
  const std::string bytes = test::readFile(log);
  auto decoded = decodeSearchLog(std::as_bytes(std::span(bytes.data(), bytes.size())), SearchLogKind::Results);
  EXPECT_TRUE(decoded.has_value());
  if (!decoded) return log;
  bool found = false;
  for (FileNode& file : decoded->files) {
    if (file.wideName != u"hello.txt") continue;
    EXPECT_EQ(file.size, 13u);
    file.size = 18000;
    found = true;
  }
  EXPECT_TRUE(found);
  const std::vector<std::byte> encoded = encodeSearchLog(*decoded, SearchLogKind::Results);
  test::writeFile(log, std::string(reinterpret_cast<const char*>(encoded.data()), encoded.size()));
  return log;
}

TEST(SavingOutcomes, TheExitCodeFollowsTheMessage) {
  const std::string fat16 = test::fixturePath("fat16.img").string();
  const std::string ntfs = test::fixturePath("ntfs.img").string();
  const std::string imageHash = test::sha256File(fat16);
  // A process number no process can have (above the largest pid_max).
  constexpr std::uint64_t kGone = 999999999;
  struct Case {
    const char* what;
    // Prepares the destination (and the home folder); the arguments of the run.
    std::function<std::vector<std::string>(const TempDir& home, const fs::path& to)> prepare;
    int exitCode;
    const char* message;
    const char* stderrOnce;   // said exactly once on stderr ("" for nothing)
    const char* errorPart;    // part of an entry of "errors" ("" for none expected)
  };
  const Case cases[] = {
      {"everything saved",
       [&](const TempDir&, const fs::path& to) {
         return std::vector<std::string>{"recover", fat16, "--path", "/Documents", "--to", to.string()};
       },
       0, "Saving completed successfully.", "", ""},
      {"the partial files of a killed run are removed and said once",
       [&](const TempDir&, const fs::path& to) {
         // What a run killed in two folders leaves: partial files only.
         test::writeFile(to / partialFileName("Letter to Anna.txt", kGone, 7), "cut sho");
         test::writeFile(to / "Documents" / partialFileName("Many notes", kGone, 3), "cut");
         return std::vector<std::string>{"recover", fat16, "--path", "/Documents", "--to", to.string()};
       },
       0, "Saving completed successfully.", "removed 2 partly written file(s) left by an interrupted saving", ""},
      {"a read-only destination",
       [&](const TempDir&, const fs::path& to) {
         return std::vector<std::string>{"recover", fat16, "--path", "/Documents", "--to", to.string()};
       },
       1, "Saving not completed successfully.", "", "the folder could not be created"},
      {"a file saved shorter than its listed size",
       [&](const TempDir& home, const fs::path& to) {
         return std::vector<std::string>{"recover", ntfs, "--load-log", logWithALongerHello(home).string(),
                                         "--path", "/hello.txt", "--to", to.string()};
       },
       1, "Saving not completed successfully.", "", "saved 13 of its listed 18000 bytes"},
      {"existing files skipped by --on-exists skip",
       [&](const TempDir& home, const fs::path& to) {
         EXPECT_EQ(runDravolin({"recover", fat16, "--path", "/Documents/Many notes", "--to", to.string(), "-q"},
                               home.path())
                       .exitCode,
                   0);
         return std::vector<std::string>{"recover", fat16,        "--path",     "/Documents/Many notes",
                                         "--to",    to.string(), "--on-exists", "skip"};
       },
       1, "Saving not completed successfully.", "existing file(s) were left alone", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir home;
    const fs::path to = home / "out";
    fs::create_directories(to / "Documents");
    std::unique_ptr<test::ReadOnlyFolder> readOnly;
    if (std::string(c.what) == "a read-only destination") {
      readOnly = std::make_unique<test::ReadOnlyFolder>(home / "ro");
      if (!readOnly->usable()) {
        std::cerr << "[ SKIPPED  ] " << c.what << ": no way to make a folder read-only here\n";
        continue;
      }
    }
    const fs::path target = readOnly ? readOnly->path() : to;
    std::vector<std::string> args = c.prepare(home, target);
    const auto text = runDravolin(args, home.path());
    EXPECT_EQ(text.exitCode, c.exitCode) << text.err;
    EXPECT_EQ(countOf(text.err, std::string("dravolin: ") + c.message + "\n"), 1u) << text.err;
    if (*c.stderrOnce) {
      EXPECT_EQ(countOf(text.err, c.stderrOnce), 1u) << text.err;
    }
    // No partial file is left behind.
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(target, error))
      EXPECT_FALSE(partialFileOwner(entry.path().filename().string()).has_value()) << entry.path();

    // The same run in JSON (after the text run the destination holds its
    // files: a run that wrote files is asked again with a fresh folder).
    if (c.exitCode == 0 || std::string(c.what).starts_with("a file saved")) {
      fs::remove_all(target / "Documents", error);
      fs::remove(target / "hello.txt", error);
    }
    if (std::string(c.what).starts_with("existing")) args = c.prepare(home, target);
    args.push_back("--json");
    const auto machine = runDravolin(args, home.path());
    EXPECT_EQ(machine.exitCode, c.exitCode) << machine.err;
    const json doc = json::parse(machine.out);
    EXPECT_EQ(doc["message"], c.message);
    EXPECT_TRUE(doc["unreadable"].is_array() && doc["unreadable"].empty()) << "a healthy image";
    bool named = false;
    for (const auto& entry : doc["errors"]) named |= entry["error"].get<std::string>().find(c.errorPart) != std::string::npos;
    if (*c.errorPart) EXPECT_TRUE(named) << doc["errors"].dump();
    else EXPECT_TRUE(doc["errors"].empty()) << doc["errors"].dump();
  }
  EXPECT_EQ(test::sha256File(fat16), imageHash);
}

}  // namespace
}  // namespace dravolin
