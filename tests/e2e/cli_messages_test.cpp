// How the command line reports: failures as one JSON document under --json,
// messages on stderr with the program's name, results on stdout; damaged
// volumes refused by searches but open to carving and imaging; savings that
// never lose a file in silence; destinations on the source disk refused; the
// activity report of a whole-disk or range choice. Source images never change.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::runDravolin;
using test::sha256File;

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

std::vector<std::string> filesBelow(const fs::path& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
  std::sort(files.begin(), files.end());
  return files;
}

class CliMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"fat12.img", "fat16.img", "damaged/mbr-failed-volume-checks.img",
                             "damaged/fat12-duplicate-names.img"})
      hashes[name] = sha256File(test::fixturePath(name));
  }
  void TearDown() override {
    for (const auto& [name, hash] : hashes) EXPECT_EQ(sha256File(test::fixturePath(name)), hash) << name << " changed";
  }
  test::CommandResult run(const std::vector<std::string>& arguments) { return runDravolin(arguments, dir / "home"); }
  static std::string image(const char* name) { return test::fixturePath(name).string(); }

  test::TempDir dir;
  std::map<std::string, std::string> hashes;
};

TEST_F(CliMessagesTest, EveryFailingCommandPrintsOneJsonDocumentAndItsMessageOnStderr) {
  const std::string damaged = image("damaged/mbr-failed-volume-checks.img");
  const std::string fat12 = image("fat12.img");
  const std::string out = (dir / "out").string();
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;  // part of the error
  };
  const Case cases[] = {
      {{"bogus"}, 2, "unknown command 'bogus'"},
      {{"disks", "--nonsense"}, 2, "--nonsense"},
      {{"partitions", "/nonexistent/disk.img"}, 1, "No such file or directory"},
      {{"partitions"}, 2, "SOURCE is required"},
      {{"scan", damaged, "--partition", "1"}, 1, "the volume check failed"},
      {{"scan", damaged}, 2, "Choose what to work on"},
      {{"scan", fat12, "--whole-disk"}, 2, "needs a file system"},
      {{"recover", fat12, "--to", out}, 2, "say what to save"},
      {{"recover", fat12, "--all", "--to", out, "--on-create-error", "maybe"}, 2, "maybe"},
      {{"recover", damaged, "--partition", "3", "--all", "--to", out}, 1, "NTFS"},
      {{"find", fat12, "*.txt", "--size", "big"}, 2, "--size takes"},
      {{"find", damaged, "--partition", "1", "*"}, 1, "the volume check failed"},
      {{"carve", fat12, "--whole-disk", "--types", "nothing", "--to", out}, 2, "Unknown file type"},
      {{"carve", fat12, "--types", "jpeg", "--to", out}, 2, "Choose what to work on"},
      {{"image", fat12, "--whole-disk"}, 2, "--to PATH or --to-disk"},
      {{"image", fat12, "--range", "10", "5", "--to", out + "/x.img"}, 1, "End sector"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
    const auto text = run(args);
    EXPECT_EQ(text.exitCode, c.exitCode) << text.err;
    EXPECT_EQ(text.out, "") << "errors never go to stdout";
    EXPECT_TRUE(text.err.starts_with("dravolin: ")) << text.err;
    EXPECT_NE(text.err.find(c.message), std::string::npos) << text.err;

    args.push_back("--json");
    const auto withJson = run(args);
    EXPECT_EQ(withJson.exitCode, c.exitCode);
    json doc;
    ASSERT_NO_THROW(doc = json::parse(withJson.out)) << "stdout is one JSON document:\n" << withJson.out;
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc["exit_code"], c.exitCode);
    EXPECT_NE(doc["error"].get<std::string>().find(c.message), std::string::npos) << doc.dump();
  }
}

TEST_F(CliMessagesTest, SearchesRefuseAFailedVolumeCheckWhileRawWorkGoesOn) {
  const std::string damaged = image("damaged/mbr-failed-volume-checks.img");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
    const char* notInMessage;
  };
  const fs::path out = dir / "out";
  const Case cases[] = {
      {{"scan", damaged, "--partition", "1"}, 1, "Partition - 1 ( FAT16 ): the volume check failed", nullptr},
      {{"scan", damaged, "--partition", "3"}, 1, "Partition - 3 ( NTFS ): the volume check failed", "FAT"},
      {{"scan", damaged, "--range", "2048", "34816", "--fs", "fat16"}, 1, "The range 2048 to 34816 does not hold a valid FAT16 volume", nullptr},
      {{"carve", damaged, "--partition", "1", "--types", "all", "--to", (out / "c1").string()}, 0,
       "warning: Partition - 1 ( FAT16 ): the volume check failed", nullptr},
      {{"carve", damaged, "--range", "118784", "167936", "--fs", "Ntfs", "--types", "Jpeg,PNG", "--to",
        (out / "c3").string()},
       0, "warning: The range 118784 to 167936 does not hold a valid NTFS volume", "FAT"},
      {{"image", damaged, "--partition", "3", "--to", (out / "p3.img").string()}, 0,
       "warning: Partition - 3 ( NTFS ): the volume check failed", "FAT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[2] + " " + c.args[3]);
    const auto result = run(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_NE(result.err.find("dravolin: " + std::string(c.message)), std::string::npos) << result.err;
    if (c.notInMessage) {
      EXPECT_EQ(firstLine(result.err).find(c.notInMessage), std::string::npos) << result.err;
    }
  }
  // The image of the damaged partition is its sectors as they are.
  EXPECT_EQ(fs::file_size(out / "p3.img") , std::uintmax_t{(167936 - 118784) * 512ull});
}

TEST_F(CliMessagesTest, SavingNeverLosesAFileInSilence) {
  const std::string duplicates = image("damaged/fat12-duplicate-names.img");
  // Three deleted files show as /_EADME.TXT. Without a terminal and without
  // --on-exists the later ones are renamed, and that is said once.
  const fs::path renamed = dir / "renamed";
  const auto first = run({"recover", duplicates, "--all", "--deleted-only", "--to", renamed.string()});
  EXPECT_EQ(first.exitCode, 0) << first.err;
  for (const char* name : {"_EADME.TXT", "_EADME0.TXT", "_EADME1.TXT"}) {
    EXPECT_EQ(fs::file_size(renamed / name), 700u) << name;
  }
  EXPECT_EQ(countOf(first.err, "existing files are kept and new ones renamed"), 1) << first.err;
  EXPECT_EQ(first.out.find("Saving completed successfully."), std::string::npos) << "the final message is on stderr";
  EXPECT_NE(first.err.find("dravolin: Saving completed successfully."), std::string::npos) << first.err;
  const std::size_t written = filesBelow(renamed).size();
  EXPECT_NE(first.out.find(std::to_string(written) + " files, "), std::string::npos) << first.out;

  // Skipping by the user's choice is counted; the saving then says it did
  // not complete, and the exit code follows the message.
  const fs::path skipped = dir / "skipped";
  const auto skip = run({"recover", duplicates, "--all", "--deleted-only", "--to", skipped.string(),
                         "--on-exists", "SKIP", "--json"});
  EXPECT_EQ(skip.exitCode, 1) << skip.err;
  const json skipDoc = json::parse(skip.out);
  EXPECT_EQ(skipDoc["files_written"], written - 2);
  EXPECT_EQ(skipDoc["skipped"], 2);
  EXPECT_EQ(skipDoc["not_written"], 0);

  // A file that cannot be created (a folder of its name is at the
  // destination): --yes does not answer the question; the file is skipped,
  // the others are written, and the run ends with exit 1 naming the loss.
  const std::string fat12 = image("fat12.img");
  for (const char* answer : {"", "skip", "abort"}) {
    SCOPED_TRACE(answer);
    const fs::path to = dir / ("blocked-" + std::string(answer));
    fs::create_directories(to / "hello.txt");
    std::vector<std::string> args{"recover", fat12, "--all", "--to", to.string(), "--on-exists", "replace",
                                  "--yes", "--json"};
    if (*answer) args.insert(args.end(), {"--on-create-error", answer});
    const auto result = run(args);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const json doc = json::parse(result.out);
    const std::uint64_t selected = doc["selected_files"].get<std::uint64_t>();
    EXPECT_EQ(selected, 47u);
    EXPECT_TRUE(fs::is_directory(to / "hello.txt"));
    if (std::string(answer) == "abort") {
      EXPECT_EQ(doc["message"], "Saving not completed successfully.");
      EXPECT_EQ(doc["files_written"], 0) << "hello.txt is the first file of the root";
      EXPECT_NE(result.err.find("47 of 47 selected files were not written"), std::string::npos) << result.err;
    } else {
      EXPECT_EQ(doc["files_written"], selected - 1);
      EXPECT_EQ(doc["not_written"], 1);
      EXPECT_NE(result.err.find("1 of 47 selected files were not written because of errors"), std::string::npos)
          << result.err;
      EXPECT_EQ(countOf(result.err, "(use --on-create-error)"), *answer ? 0 : 1) << result.err;
    }
  }
}

TEST_F(CliMessagesTest, ActivityReportOfAWholeDiskOrARangeHasTheDiskBlock) {
  const std::string fat16 = image("fat16.img");
  const std::string size = std::to_string(fs::file_size(fat16));
  struct Case {
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {{"carve", fat16, "--whole-disk", "--types", "jpeg", "--to", (dir / "c").string()}},
      {{"image", fat16, "--range", "0", "2048", "--to", (dir / "r.img").string()}},
      {{"scan", fat16, "--range", "0", "65536", "--fs", "FAT16"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const fs::path logs = dir / ("logs-" + c.args[0]);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--log-dir", logs.string()});
    const auto result = run(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string log = test::readFile(logs / "Activity Log.txt");
    const std::size_t block = log.find("\r\nStep 2 :\r\n-------\r\nSelected Information : Disk");
    ASSERT_NE(block, std::string::npos) << log;
    const std::size_t model = log.find("\r\nModel Number : " + fs::canonical(fat16).string() +
                                           "\r\nMedia Type : Image\r\nDisk Size : " + size +
                                           "\r\nSearch Exhaustive : Not Checked\r\n",
                                       block);
    EXPECT_NE(model, std::string::npos) << log;
    EXPECT_LT(model, log.find("Step 2 (a) :")) << "the disk block comes before the range";
    EXPECT_EQ(log.find("Unreadable Sectors"), std::string::npos);
  }
}

// A loop device attached to a copy of the NTFS fixture, its file system
// mounted through ntfs-3g; both undone by the destructor.
class MountedLoop {
 public:
  MountedLoop(const fs::path& image, const fs::path& mountPoint) : mountPoint_(mountPoint) {
    int status = 0;
    device_ = test::runShell("losetup -f --show '" + image.string() + "' 2>&1", &status);
    while (!device_.empty() && device_.back() == '\n') device_.pop_back();
    if (status != 0) {
      failure_ = "losetup: " + device_;
      device_.clear();
      return;
    }
    fs::create_directories(mountPoint);
    const std::string said = test::runShell("ntfs-3g '" + device_ + "' '" + mountPoint.string() + "' 2>&1", &status);
    if (status != 0) failure_ = "ntfs-3g: " + said;
    else mounted_ = true;
  }
  ~MountedLoop() {
    if (mounted_) test::runShell("umount '" + mountPoint_.string() + "'");
    if (!device_.empty()) test::runShell("losetup -d '" + device_ + "'");
  }
  MountedLoop(const MountedLoop&) = delete;
  MountedLoop& operator=(const MountedLoop&) = delete;
  bool ready() const { return mounted_; }
  const std::string& device() const { return device_; }
  const std::string& failure() const { return failure_; }

 private:
  fs::path mountPoint_;
  std::string device_;
  std::string failure_;
  bool mounted_ = false;
};

TEST_F(CliMessagesTest, ADestinationOnTheSourceDiskIsRefused) {
  const auto help = run({"recover", "--help"});
  EXPECT_NE(help.out.find("Note : It is advisable to Save Data on a Drive other then the Source."), std::string::npos);

  fs::copy_file(test::fixturePath("ntfs.img"), dir / "ntfs-copy.img");
  const fs::path mounted = dir / "mnt";
  MountedLoop loop(dir / "ntfs-copy.img", mounted);
  if (!loop.ready()) GTEST_SKIP() << "cannot attach and mount a loop device here: " << loop.failure();
  const std::string device = loop.device();
  struct Case {
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {{"recover", device, "--all", "--to", (mounted / "saved").string()}},
      {{"carve", device, "--whole-disk", "--types", "jpeg", "--to", (mounted / "carved").string()}},
      {{"image", device, "--whole-disk", "--to", (mounted / "sub" / "copy.img").string()}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const auto refused = run(c.args);
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_EQ(firstLine(refused.err), "dravolin: Note : It is advisable to Save Data on a Drive other then the Source.");
    EXPECT_NE(refused.err.find("lies on the source disk (" + fs::path(device).filename().string() + ")"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(countOf(refused.err, "\n"), 2) << "the note and one line:\n" << refused.err;
    EXPECT_FALSE(fs::exists(mounted / "saved") || fs::exists(mounted / "carved") || fs::exists(mounted / "sub"));
  }
  // Allowed on request; and the folder that holds the image file is not the source disk.
  const auto allowed = run({"carve", device, "--whole-disk", "--types", "jpeg", "--to", (mounted / "carved").string(),
                            "--allow-same-disk"});
  EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
  EXPECT_NE(allowed.err.find("writing there anyway"), std::string::npos) << allowed.err;
  const auto beside = run({"carve", device, "--whole-disk", "--types", "jpeg", "--to", (dir / "beside").string()});
  EXPECT_EQ(beside.exitCode, 0) << beside.err;
  EXPECT_EQ(beside.err.find("lies on the source disk"), std::string::npos) << beside.err;
}

// Names holding a newline and an escape sequence (ntfs-3g writes them as
// NTFS allows): the text outputs of scan and find show them escaped, so no
// row is forged and nothing reaches the terminal; JSON keeps the names.
TEST(CliNames, ControlCharactersInNamesAreShownEscapedInText) {
  test::TempDir home;
  const std::string image = test::fixturePath("damaged/ntfs-control-names.img").string();
  const std::string fake = "/fake\\nDeleted File 0 fake.txt", red = "/red\\x1b[31m alert.txt";
  struct Row {
    std::vector<std::string> arguments;
  };
  const Row rows[] = {{{"scan", image}}, {{"scan", image, "--exhaustive"}}, {{"find", image, "*a*"}}};
  for (const Row& row : rows) {
    const auto result = runDravolin(row.arguments, home.path());
    ASSERT_EQ(result.exitCode, 0) << row.arguments.back() << result.err;
    EXPECT_NE(result.out.find(fake + "\n"), std::string::npos) << row.arguments.back() << result.out;
    EXPECT_NE(result.out.find(red + "\n"), std::string::npos) << row.arguments.back() << result.out;
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << row.arguments.back();
    EXPECT_EQ(result.out.find("\nDeleted File 0 fake.txt"), std::string::npos) << row.arguments.back();
  }
  const auto listed = runDravolin({"scan", image, "--json"}, home.path());
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  std::set<std::string> names;
  const json document = json::parse(listed.out);
  for (const auto& entry : document["entries"]) names.insert(entry["name"].get<std::string>());
  EXPECT_TRUE(names.contains("fake\nDeleted File 0 fake.txt"));
  EXPECT_TRUE(names.contains("red\x1b[31m alert.txt"));
}

}  // namespace
}  // namespace dravolin

namespace dravolin {
namespace {

// What a run says of paths it cannot use, of files it could not save whole
// and of names read from the disk: each message once, every stderr line
// starting with "dravolin: ", a path named with the system's reason, a
// clipped file listed in the JSON with its reason and sizes, and control
// characters of names (a newline, ESC, the C1 introducer U+009B) never
// reaching the terminal raw.
TEST(CliReports, EachMessageOnceWithItsReasonAndNamesEscaped) {
  test::TempDir dir;
  const fs::path home = dir / "home";
  test::writeFile(dir / "afile", "x");
  const std::string afile = (dir / "afile").string();
  const std::string fat16 = test::fixturePath("fat16.img").string();
  const std::string cut = test::fixturePath("damaged/ntfs-cut-short.img").string();
  const std::string clipped = test::fixturePath("damaged/fat16-oversized-file-size.img").string();
  const std::string names = test::fixturePath("damaged/ntfs-control-names.img").string();
  test::ReadOnlyFolder readOnly(dir / "ro");
  const std::string cutWarning =
      "dravolin: End sector 65535 lies past the end of the source (60000 sectors): the selection was cut at the end "
      "of the source, sector 60000\n";
  const std::string csi = "csi\\x9b31m note.txt";  // U+009B shown escaped
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> once;    // each exactly once on stderr (or stdout when it starts with "out:")
    bool needsReadOnly = false;
  };
  const std::vector<Case> cases = {
      {"unusable destination", {"recover", fat16, "--all", "--to", afile + "/x"}, 1,
       {"dravolin: Not a valid Destination. Please specify destination. (" + afile + ": Not a directory)\n"}},
      {"unwritable image path", {"image", fat16, "--whole-disk", "--to", afile + "/x.img"}, 1,
       {"dravolin: cannot create the image file " + afile + "/x.img: Not a directory\n"}},
      {"source path through a file", {"scan", afile + "/x.img"}, 1, {"dravolin: " + afile + "/x.img: Not a directory\n"}},
      {"file that cannot be created", {"recover", fat16, "--path", "/hello.txt", "--yes", "--to", (dir / "ro").string()}, 1,
       {"dravolin: error: " + (dir / "ro" / "hello.txt").string() + ": cannot create the file: Read-only file system\n"},
       true},
      {"cut warning of a scan", {"scan", cut}, 0, {cutWarning}},
      {"cut warning of an image", {"image", cut, "--partition", "1", "--to", (dir / "cut.img").string()}, 0,
       {cutWarning}},
      {"clipped file", {"recover", clipped, "--all", "--yes", "--to", (dir / "clipped").string()}, 1,
       {"dravolin: incomplete: " + (dir / "clipped" / "Several clusters fat16.dat").string() +
        ": saved 8192 of 4294967295 bytes (its size field claims more than the volume holds)\n"}},
      {"names of recover's listing", {"recover", names, "--all", "--to", (dir / "names").string()}, 0,
       {"out:" + (dir / "names" / csi).string() + "\n"}},
      {"names of recover's errors", {"recover", names, "--all", "--yes", "--to", (dir / "ro").string()}, 1,
       {"dravolin: error: " + (dir / "ro" / csi).string() + ": cannot create the file: Read-only file system\n"},
       true},
      {"a name given back in an error", {"recover", names, "--path", "/fake\nDeleted File 0 fake.txt/x", "--to",
                                         (dir / "names2").string()}, 1,
       {"dravolin: --path /fake\\nDeleted File 0 fake.txt/x: no such folder or file"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsReadOnly && !readOnly.usable()) {
      std::cerr << "[ SKIPPED  ] " << c.what << ": no way to make a folder read-only here\n";
      continue;
    }
    const auto result = runDravolin(c.args, home);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    for (const std::string& text : c.once) {
      if (text.starts_with("out:")) EXPECT_EQ(countOf(result.out, text.substr(4)), 1) << result.out;
      else EXPECT_EQ(countOf(result.err, text), 1) << result.err;
    }
    std::size_t at = 0;
    for (std::string line; at < result.err.size(); at += line.size() + 1) {
      line = result.err.substr(at, result.err.find('\n', at) - at);
      EXPECT_TRUE(line.starts_with("dravolin: ")) << line;
    }
    for (const char* raw : {"\x1b", "\xc2\x9b", "\nDeleted File 0 fake.txt"}) {
      EXPECT_EQ(result.err.find(raw), std::string::npos) << result.err;
      EXPECT_EQ(result.out.find(raw), std::string::npos) << result.out;
    }
  }

  // The JSON of a run with a clipped file lists it with its reason and sizes;
  // the incomplete count is the number of files listed.
  const auto saved = runDravolin({"recover", clipped, "--all", "--yes", "--to", (dir / "clipped-json").string(),
                                  "--json"}, home);
  EXPECT_EQ(saved.exitCode, 1) << saved.err;
  const json doc = json::parse(saved.out);
  ASSERT_EQ(doc["incomplete_files"].size(), 1u) << doc.dump();
  EXPECT_EQ(doc["incomplete"], 1);
  const json& file = doc["incomplete_files"][0];
  EXPECT_EQ(file["path"], (dir / "clipped-json" / "Several clusters fat16.dat").string());
  EXPECT_EQ(file["reason"], "clipped");
  EXPECT_EQ(file["saved_bytes"], 8192);
  EXPECT_EQ(file["expected_bytes"], 4294967295ull);
  EXPECT_EQ(test::readFile(dir / "clipped-json" / "Several clusters fat16.dat").size(), 8192u);
}

}  // namespace
}  // namespace dravolin
