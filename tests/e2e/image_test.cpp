// dravolin image on the fixture disks: byte-identical image files that every
// command reads back, and copies onto a loop device the test attaches to a
// file of its own (never onto anything else).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using test::runDravolin;
using test::runShell;

std::string quote(const std::string& s) { return "'" + s + "'"; }

// A loop device attached to a file the test made; detached when the guard
// goes, also when an assertion ends the test early.
class LoopGuard {
 public:
  explicit LoopGuard(const fs::path& file) {
    int status = 0;
    device_ = runShell("losetup -f --show " + quote(file.string()) + " 2>&1", &status);
    while (!device_.empty() && device_.back() == '\n') device_.pop_back();
    if (status != 0) {
      failure_ = device_.empty() ? "losetup failed" : device_;
      device_.clear();
    }
  }
  ~LoopGuard() { detach(); }
  LoopGuard(const LoopGuard&) = delete;
  LoopGuard& operator=(const LoopGuard&) = delete;
  void detach() {
    if (!device_.empty()) runShell("losetup -d " + quote(device_));
    device_.clear();
  }
  const std::string& device() const { return device_; }
  const std::string& failure() const { return failure_; }

 private:
  std::string device_;
  std::string failure_;
};

std::string bytesOf(const fs::path& file, std::uint64_t offset, std::uint64_t length) {
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(length, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(length));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// The digest a coreutils tool (md5sum, sha256sum) prints for its input.
std::string digestOf(const std::string& shellInput, const std::string& tool) {
  std::string out = runShell(shellInput + " | " + tool);
  return out.substr(0, out.find(' '));
}

// Runs md5sum -c on BASE.md5 and sha256sum -c on BASE.sha256 in their
// folder, the input fed by feed ("" or "cat A B | "); each must print only
// "NAME: OK", with no warning about a line it cannot read.
void expectListChecks(const fs::path& base, const std::string& feed, const std::string& name) {
  for (const std::string algorithm : {"md5", "sha256"}) {
    const std::string tool = algorithm + "sum";
    int status = -1;
    std::string out = runShell("cd " + quote(base.parent_path().string()) + " && " + feed + tool + " --strict -c " +
                                   quote(base.filename().string() + "." + algorithm) + " 2>&1",
                               &status);
    EXPECT_EQ(status, 0) << tool << ": " << out;
    EXPECT_EQ(out, name + ": OK\n") << tool;
  }
}

nlohmann::json partitionsOf(const std::string& source, const fs::path& home) {
  auto result = runDravolin({"partitions", source, "--json"}, home);
  EXPECT_EQ(result.exitCode, 0) << source << ": " << result.err;
  if (result.exitCode != 0) return {};
  return nlohmann::json::parse(result.out)["partitions"];
}

TEST(ImageCommand, WholeDiskGivesAByteIdenticalImageThatListsTheSame) {
  test::TempDir dir;
  const fs::path source = test::fixturePath("mbr.img");
  const std::string before = test::sha256File(source);
  auto result = runDravolin({"image", source.string(), "--whole-disk", "--to", (dir / "copy.img").string(), "--json",
                             "--log-dir", (dir / "logs").string()},
                            dir / "home");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto doc = nlohmann::json::parse(result.out);
  EXPECT_EQ(doc["pieces"], nlohmann::json::array({(dir / "copy.img").string()}));  // a name of its own
  EXPECT_EQ(doc["sectors_copied"], fs::file_size(source) / 512);
  EXPECT_EQ(doc["unreadable_sectors"], 0);
  EXPECT_EQ(doc["bad_sector_list"], "");
  EXPECT_EQ(doc["message"], "Image creation completed successfully.");
  EXPECT_EQ(test::sha256File(dir / "copy.img"), before);
  EXPECT_EQ(test::sha256File(source), before) << "the source is never written";
  EXPECT_FALSE(fs::exists(dir / "copy.img.bad-sectors.txt"));
  // MD5 and SHA-256 of the source, and the list beside the image that checks it.
  const std::string md5 = digestOf("cat " + quote(source.string()), "md5sum");
  EXPECT_EQ(doc["md5"], md5);
  EXPECT_EQ(doc["sha256"], before);
  EXPECT_EQ(doc["hash_list"], (dir / "copy.img.md5").string());
  EXPECT_EQ(doc["hash_files"],
            nlohmann::json::array({(dir / "copy.img.md5").string(), (dir / "copy.img.sha256").string()}));
  expectListChecks(dir / "copy.img", "", "copy.img");

  const std::string log = test::readFile(dir / "logs" / "Activity Log.txt");
  EXPECT_NE(log.find("Step 1 : Image Recovery"), std::string::npos);
  EXPECT_NE(log.find("Image Creation Type : Image\r\nDestination Image : " + (dir / "copy.img").string() +
                     "\r\nMultifile : Not Checked"),
            std::string::npos);
  EXPECT_NE(log.find("Image creation completed successfully."), std::string::npos);
  EXPECT_EQ(log.find("Unreadable Sectors"), std::string::npos) << "said only when there were unreadable sectors";
  EXPECT_NE(log.find("Image creation completed successfully.\r\nMD5 : " + md5 + "\r\nSHA-256 : " + before +
                     "\r\nHash File : " + (dir / "copy.img.md5").string() + "\r\nHash File : " +
                     (dir / "copy.img.sha256").string()),
            std::string::npos)
      << log;

  // The image, by its piece or by the name it was made with, lists as the source does.
  auto expected = partitionsOf(source.string(), dir / "home");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(partitionsOf((dir / "copy.img").string(), dir / "home"), expected);
  auto text = runDravolin({"partitions", source.string()}, dir / "home");
  auto textCopy = runDravolin({"partitions", (dir / "copy.img").string()}, dir / "home");
  auto table = [](const std::string& out) { return out.substr(out.find('\n')); };  // past the source line
  EXPECT_EQ(table(textCopy.out), table(text.out));
}

TEST(ImageCommand, PiecesAreReadBackAsOneDisk) {
  // A sparse disk one piece and 100 sectors long that begins with the MBR fixture.
  test::TempDir dir;
  const fs::path big = dir / "big.raw";
  fs::copy_file(test::fixturePath("mbr.img"), big);
  fs::resize_file(big, (1331200 + 100) * 512);
  auto result = runDravolin({"image", big.string(), "--whole-disk", "--to", (dir / "set" / "Image.img").string(),
                             "--multifile", "--json"},
                            dir / "home");
  ASSERT_EQ(result.exitCode, 1) << "the folder does not exist yet";
  fs::create_directories(dir / "set");
  result = runDravolin({"image", big.string(), "--whole-disk", "--to", (dir / "set" / "Image.img").string(),
                        "--multifile", "--json"},
                       dir / "home");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto doc = nlohmann::json::parse(result.out);
  EXPECT_EQ(doc["pieces"],
            nlohmann::json::array({(dir / "set" / "Image0.img").string(), (dir / "set" / "Image1.img").string()}));
  // The hashes of a series are those of the whole source; its list checks
  // the pieces joined by cat.
  EXPECT_EQ(doc["md5"], digestOf("cat " + quote(big.string()), "md5sum"));
  EXPECT_EQ(doc["sha256"], test::sha256File(big));
  expectListChecks(dir / "set" / "Image.img", "cat Image0.img Image1.img | ", "-");
  EXPECT_EQ(fs::file_size(dir / "set" / "Image1.img"), 100u * 512);
  EXPECT_EQ(runShell("cat " + quote((dir / "set" / "Image0.img").string()) + " " +
                     quote((dir / "set" / "Image1.img").string()) + " | sha256sum"),
            runShell("sha256sum < " + quote(big.string())));

  auto expected = partitionsOf(big.string(), dir / "home");
  ASSERT_FALSE(expected.empty());
  for (const fs::path& source : {dir / "set" / "Image0.img", dir / "set" / "Image.img", dir / "set"})
    EXPECT_EQ(partitionsOf(source.string(), dir / "home"), expected) << source;
  auto disk = [](const std::string& out) { return nlohmann::json::parse(out)["disk_bytes"]; };
  auto fromPieces = runDravolin({"partitions", (dir / "set").string(), "--json"}, dir / "home");
  ASSERT_EQ(fromPieces.exitCode, 0) << fromPieces.err;
  EXPECT_EQ(disk(fromPieces.out), fs::file_size(big));
}

TEST(ImageCommand, PartitionAndRangeCopyTheirSectors) {
  test::TempDir dir;
  const fs::path source = test::fixturePath("mbr.img");
  auto listing = partitionsOf(source.string(), dir / "home");
  ASSERT_GE(listing.size(), 2u);
  const std::uint64_t start = listing[1]["start"], end = listing[1]["end"];
  auto partition = runDravolin({"image", source.string(), "--partition", "2", "--to", (dir / "p.img").string(),
                                "--multifile", "--json"},
                               dir / "home");
  ASSERT_EQ(partition.exitCode, 0) << partition.err;
  EXPECT_EQ(test::readFile(dir / "p0.img"), bytesOf(source, start * 512, (end - start) * 512));

  auto range = runDravolin({"image", source.string(), "--range", "7", "300", "--to", (dir / "r.img").string()},
                           dir / "home");
  ASSERT_EQ(range.exitCode, 0) << range.err;
  EXPECT_NE(range.out.find("Image creation completed successfully."), std::string::npos);
  EXPECT_EQ(test::readFile(dir / "r.img"), bytesOf(source, 7 * 512, 293 * 512));
}

TEST(ImageCommand, TwoCopiesOntoOnePathAtOnceLeaveOneWholeImageAndOneRefusal) {
  // Two runs started together, from two different disks, onto one image
  // path and with one settings file: one copy is made whole, with the hashes
  // of its own source, and the other is refused; the settings file is left
  // whole, with no temporary file beside it.
  const std::vector<fs::path> sources = {test::fixturePath("fat16.img"), test::fixturePath("fat32.img")};
  const std::vector<std::string> digests = {test::sha256File(sources[0]), test::sha256File(sources[1])};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    test::TempDir dir;
    const fs::path target = dir / "same.img";
    test::CommandResult results[2];
    std::vector<std::thread> runs;
    for (int i = 0; i < 2; ++i)
      runs.emplace_back([&, i] {
        results[i] = runDravolin({"image", sources[i].string(), "--whole-disk", "--to", target.string(), "--json",
                                  "--config", (dir / "shared.ini").string(), "--log-dir", (dir / "logs").string()},
                                 dir / ("home" + std::to_string(i)));
      });
    for (auto& run : runs) run.join();
    ASSERT_EQ(results[0].exitCode + results[1].exitCode, 1)
        << results[0].exitCode << ": " << results[0].err << "\n" << results[1].exitCode << ": " << results[1].err;
    const int won = results[0].exitCode == 0 ? 0 : 1;
    const test::CommandResult& refused = results[1 - won];
    EXPECT_NE(refused.err.find("already exists"), std::string::npos) << refused.err;
    EXPECT_EQ(nlohmann::json::parse(refused.out)["exit_code"], 1);
    EXPECT_EQ(test::sha256File(dir / "same.img"), digests[won]) << "the image is the winner's source, whole";
    EXPECT_EQ(nlohmann::json::parse(results[won].out)["sha256"], digests[won]);
    expectListChecks(dir / "same.img", "", "same.img");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"home0", "home1", "logs", "same.img", "same.img.md5",
                                               "same.img.sha256", "shared.ini"}));
  }
}

TEST(ImageCommand, RefusalsAndUsageErrors) {
  test::TempDir dir;
  const std::string source = test::fixturePath("fat16.img").string();
  test::writeFile(dir / "old.img", "keep me");
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"image", source, "--whole-disk", "--to", (dir / "old.img").string()}, 1,
       "This image file already exists. Select different file"},
      {{"image", source, "--whole-disk"}, 2, "--to PATH or --to-disk DEVICE"},
      {{"image", source, "--to", (dir / "x.img").string()}, 2, "--whole-disk"},  // never chosen implicitly
      {{"image", source, "--whole-disk", "--to-disk", "/dev/null", "--multifile"}, 2, ""},
      {{"image", source, "--whole-disk", "--to", (dir / "x.img").string(), "--to-disk", "/dev/null"}, 2, ""},
      {{"image", source, "--whole-disk", "--to-disk", "Disk999"}, 1, "not a disk of this machine"},
      {{"image", source, "--whole-disk", "--to", (dir / "no-such-folder" / "x.img").string()}, 1,
       "No such file or directory"},
  };
  for (const auto& c : cases) {
    auto result = runDravolin(c.arguments, dir / "home");
    EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments.back() << "\n" << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
  EXPECT_EQ(test::readFile(dir / "old.img"), "keep me");
  auto replaced = runDravolin({"image", source, "--whole-disk", "--to", (dir / "old.img").string(), "--overwrite"},
                              dir / "home");
  EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
  EXPECT_EQ(test::sha256File(dir / "old.img"), test::sha256File(source));
}

TEST(ImageCommand, CopyOntoALoopDeviceOfTheTestsOwnFile) {
  test::TempDir dir;
  const fs::path source = test::fixturePath("mbr.img");
  const std::uint64_t sourceBytes = fs::file_size(source);
  // The target is a file of 0xAB bytes one MiB larger than the source.
  const std::uint64_t targetBytes = sourceBytes + (1 << 20);
  test::writeFile(dir / "target.img", std::string(targetBytes, '\xAB'));
  test::writeFile(dir / "small.img", std::string(sourceBytes - 512, '\xAB'));
  LoopGuard target(dir / "target.img");
  if (target.device().empty()) GTEST_SKIP() << "cannot attach a loop device here: " << target.failure();
  LoopGuard small(dir / "small.img");
  ASSERT_FALSE(small.device().empty()) << small.failure();

  // Without --yes and without a terminal the disk is not written.
  auto unconfirmed =
      runDravolin({"image", source.string(), "--whole-disk", "--to-disk", target.device()}, dir / "home");
  EXPECT_EQ(unconfirmed.exitCode, 1);
  EXPECT_NE(unconfirmed.err.find("All data will be lost in Target Disk"), std::string::npos) << unconfirmed.err;
  // A disk one sector too small is refused.
  auto tooSmall = runDravolin({"image", source.string(), "--whole-disk", "--to-disk", small.device(), "--yes"},
                              dir / "home");
  EXPECT_EQ(tooSmall.exitCode, 1);
  EXPECT_NE(tooSmall.err.find("Insufficient free space on target. Please change target drive."), std::string::npos)
      << tooSmall.err;
  // A source never goes onto its own disk.
  auto ownDisk = runDravolin({"image", target.device(), "--whole-disk", "--to-disk", target.device(), "--yes"},
                             dir / "home");
  EXPECT_EQ(ownDisk.exitCode, 1);
  EXPECT_NE(ownDisk.err.find("holds the source being imaged"), std::string::npos) << ownDisk.err;
  auto backing = runDravolin(
      {"image", (dir / "small.img").string(), "--whole-disk", "--to-disk", small.device(), "--yes"}, dir / "home");
  EXPECT_EQ(backing.exitCode, 1);
  EXPECT_NE(backing.err.find("holds the source being imaged"), std::string::npos) << backing.err;

  auto copied = runDravolin({"image", source.string(), "--whole-disk", "--to-disk", target.device(), "--yes",
                             "--json"},
                            dir / "home");
  ASSERT_EQ(copied.exitCode, 0) << copied.err;
  auto doc = nlohmann::json::parse(copied.out);
  EXPECT_EQ(doc["message"], "Image creation completed successfully.");
  EXPECT_EQ(doc["sectors_copied"], sourceBytes / 512);
  // A disk has no folder for a hash list: the hashes are in the summary only.
  EXPECT_EQ(doc["sha256"], test::sha256File(source));
  EXPECT_EQ(doc["md5"], digestOf("cat " + quote(source.string()), "md5sum"));
  EXPECT_FALSE(doc.contains("hash_list"));
  target.detach();
  small.detach();

  EXPECT_EQ(bytesOf(dir / "target.img", 0, sourceBytes), test::readFile(source));
  EXPECT_EQ(bytesOf(dir / "target.img", sourceBytes, 1 << 20), std::string(1 << 20, '\xAB'))
      << "nothing past the copy is written";
  EXPECT_EQ(test::readFile(dir / "small.img"), std::string(sourceBytes - 512, '\xAB'));
}

// A target disk is named by what identifies it: `disks` lists a loop device
// of the test's own file with its path, size and backing file, and
// --to-disk takes its disk number as well as its path, saying which disk it
// writes before it does.
TEST(ImageCommand, TargetDiskByNumberIsNamedByItsIdentity) {
  test::TempDir dir;
  const fs::path source = test::fixturePath("fat16.img");
  test::writeFile(dir / "target.img", std::string(fs::file_size(source), '\xAB'));
  LoopGuard target(dir / "target.img");
  if (target.device().empty()) GTEST_SKIP() << "cannot attach a loop device here: " << target.failure();
  auto disks = runDravolin({"disks", "--json"}, dir / "home");
  ASSERT_EQ(disks.exitCode, 0) << disks.err;
  std::string number;
  const auto listed = nlohmann::json::parse(disks.out);
  for (const auto& d : listed["disks"]) {
    if (d["path"] != target.device()) continue;
    number = d["name"];
    EXPECT_EQ(d["size"], fs::file_size(source));
    EXPECT_EQ(d["model"], fs::canonical(dir / "target.img").string());
    EXPECT_TRUE(d["serial"].is_null());
    EXPECT_FALSE(d["removable"].get<bool>());
  }
  ASSERT_FALSE(number.empty()) << target.device() << " not listed:\n" << disks.out;
  auto copied = runDravolin({"image", source.string(), "--whole-disk", "--to-disk", number, "--yes"}, dir / "home");
  ASSERT_EQ(copied.exitCode, 0) << copied.err;
  EXPECT_NE(copied.err.find("dravolin: target " + number + ": " + target.device() + ", " +
                            fs::canonical(dir / "target.img").string()),
            std::string::npos)
      << copied.err;
  target.detach();
  EXPECT_EQ(test::sha256File(dir / "target.img"), test::sha256File(source));
}

}  // namespace
}  // namespace dravolin

namespace dravolin {
namespace {

TEST(ImageCommand, ToPathsWriteInsideTheirFolderUnderTheNamesTheyGive) {
  // Every file of a copy lies in the folder of --to; a single image keeps a
  // name with an extension of its own, pieces cut only a real extension.
  struct Case {
    std::string to;  // inside the row's folder "sub"
    bool multiFile;
    std::vector<std::string> image;  // the image files, in "sub"
  };
  const std::vector<Case> cases = {
      {"backup", false, {"backup0.img"}},     {"backup", true, {"backup0.img"}},
      {"sdb.dd", false, {"sdb.dd"}},          {"sdb.dd", true, {"sdb0.img"}},
      {"disk.img", false, {"disk.img"}},      {"disk.img", true, {"disk0.img"}},
      {"x", false, {"x0.img"}},               {"x", true, {"x0.img"}},
      {"my.backup", false, {"my.backup0.img"}},  // ".backup" is part of the name
      {"my.backup", true, {"my.backup0.img"}},
  };
  const fs::path source = test::fixturePath("fat16.img");
  test::TempDir dir;
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to + (c.multiFile ? " --multifile" : ""));
    const fs::path root = dir / ("row" + std::to_string(row++));
    fs::create_directories(root / "sub");
    std::vector<std::string> arguments = {"image", source.string(), "--range", "0", "100", "--to",
                                          (root / "sub" / c.to).string(), "--log-dir", (dir / "logs").string()};
    if (c.multiFile) arguments.push_back("--multifile");
    auto result = runDravolin(arguments, dir / "home");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::set<std::string> expected;
    for (const auto& name : c.image) expected.insert("sub/" + name);
    expected.insert("sub/" + c.to + ".md5");
    expected.insert("sub/" + c.to + ".sha256");
    std::set<std::string> written;
    for (const auto& entry : fs::recursive_directory_iterator(root))
      if (entry.is_regular_file()) written.insert(fs::relative(entry.path(), root).string());
    EXPECT_EQ(written, expected);
    EXPECT_TRUE(test::readFile(root / "sub" / c.image.front()) == bytesOf(source, 0, 100 * 512)) << "the image's bytes";
  }
  // A folder is not an image name: refused, nothing written.
  fs::create_directories(dir / "folder");
  auto folder = runDravolin({"image", source.string(), "--range", "0", "100", "--to", (dir / "folder").string() + "/"},
                            dir / "home");
  EXPECT_EQ(folder.exitCode, 1);
  EXPECT_NE(folder.err.find("must name an image file"), std::string::npos) << folder.err;
  EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

}  // namespace
}  // namespace dravolin
