#pragma once
// Helpers shared by the tests: temporary folders, scripted prompters,
// fixture paths, running the command line, hashing files, a failing image.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_environment.h"
#include "common/prompter.h"
#include "disk/sector_source.h"

namespace dravolin::test {

// A folder that is removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A folder nothing can be written to, as a read-only destination drive is:
// a read-only tmpfs mounted on it when the tests run as root (who may write
// into any folder whatever its permissions), its write permission taken
// away otherwise. usable() is false when neither keeps a write out.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(std::filesystem::path path);
  ~ReadOnlyFolder();
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
  bool usable() const { return usable_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool mounted_ = false;
  bool usable_ = false;
};

// Settings file and log folder inside a temporary folder, so no test touches
// the user's own.
EnvironmentOptions isolatedEnvironment(const TempDir& dir);

// Answers questions from queues; records what was asked.
class ScriptedPrompter final : public Prompter {
 public:
  std::deque<BadSectorAnswer> badSectorAnswers;
  std::deque<ReplaceAnswer> replaceAnswers;
  std::deque<bool> yesNoAnswers;
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  int badSectorQuestions = 0;

  BadSectorAnswer askBadSector() override;
  ReplaceAnswer askReplace(const std::string& path) override;
  bool askYesNo(const std::string& text) override;
  void inform(const std::string& text) override { messages.push_back(text); }
};

// An image that fails every read touching [badFirst, badEnd), shown as a
// source that maps in place or not: a pass that sweeps image files in the
// page cache on two threads sweeps the first on two and the second on one.
// With copies 2 it holds the image twice, back to back. Mapped, it shows its
// sectors as if they had all been in memory when the pass began (the failing
// ones as zeros), as pages that were evicted and then could not be read
// again.
class FailingImage final : public SectorSource {
 public:
  FailingImage(SectorSource& image, bool mappable, int copies, SectorNumber badFirst, SectorNumber badEnd)
      : image_(image), mappable_(mappable), copies_(copies), badFirst_(badFirst), badEnd_(badEnd) {}
  std::uint64_t sizeInBytes() const override { return image_.sizeInBytes() * static_cast<std::uint64_t>(copies_); }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override;
  std::unique_ptr<MappedSectors> map(SectorNumber first, std::uint32_t count) override;
  bool mapsInPlace() const override { return mappable_; }
  bool isImage() const override { return true; }
  std::string description() const override { return image_.description(); }

 private:
  SectorSource& image_;
  bool mappable_;
  int copies_;
  SectorNumber badFirst_, badEnd_;
};

// Path of a fixture image built by tests/fixtures/build-images.sh.
std::filesystem::path fixturePath(const std::string& name);

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs the dravolin binary with arguments (each passed as is) and captures
// its output. Settings and logs go to the given folder.
CommandResult runDravolin(const std::vector<std::string>& arguments, const std::filesystem::path& home);

// Runs a shell command and returns its standard output; exit code in *status.
std::string runShell(const std::string& command, int* status = nullptr);

std::string sha256File(const std::filesystem::path& file);
std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& bytes);

// A test-case name GoogleTest accepts, made from a description: letters and
// digits kept, every other run of characters one underscore.
std::string caseName(std::string_view description);

// Name generator for INSTANTIATE_TEST_SUITE_P over cases with a `what` field.
struct NameFromWhat {
  template <typename Info>
  std::string operator()(const Info& info) const { return caseName(info.param.what); }
};

}  // namespace dravolin::test
