#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace dravolin::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "dravolin-test-XXXXXX").string();
  if (char* made = mkdtemp(pattern.data())) path_ = made;
  else throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ReadOnlyFolder::ReadOnlyFolder(fs::path path) : path_(std::move(path)) {
  fs::create_directories(path_);
  if (::geteuid() == 0) {
    int status = -1;
    runShell("mount -t tmpfs -o ro,size=1m tmpfs '" + path_.string() + "' 2>/dev/null", &status);
    mounted_ = status == 0;
  } else {
    fs::permissions(path_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  const fs::path probe = path_ / "probe";
  std::ofstream out(probe);
  usable_ = !out.is_open();
  if (!usable_) {
    out.close();
    std::error_code ec;
    fs::remove(probe, ec);
  }
}

ReadOnlyFolder::~ReadOnlyFolder() {
  if (mounted_) runShell("umount '" + path_.string() + "' 2>/dev/null");
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
}

EnvironmentOptions isolatedEnvironment(const TempDir& dir) {
  EnvironmentOptions options;
  options.configFile = dir / "dravolin.ini";
  options.logDir = dir.path();
  return options;
}

BadSectorAnswer ScriptedPrompter::askBadSector() {
  ++badSectorQuestions;
  if (badSectorAnswers.empty()) return BadSectorAnswer::Skip;
  auto a = badSectorAnswers.front();
  badSectorAnswers.pop_front();
  return a;
}

ReplaceAnswer ScriptedPrompter::askReplace(const std::string& path) {
  questions.push_back(path);
  if (replaceAnswers.empty()) return ReplaceAnswer::No;
  auto a = replaceAnswers.front();
  replaceAnswers.pop_front();
  return a;
}

bool ScriptedPrompter::askYesNo(const std::string& text) {
  questions.push_back(text);
  if (yesNoAnswers.empty()) return false;
  bool a = yesNoAnswers.front();
  yesNoAnswers.pop_front();
  return a;
}

namespace {

class CopiedSectors final : public MappedSectors {
 public:
  explicit CopiedSectors(std::vector<std::byte> data) : data_(std::move(data)) { bytes_ = data_; }

 private:
  std::vector<std::byte> data_;
};

}  // namespace

TransferStatus FailingImage::read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) {
  if (first < badEnd_ && badFirst_ < first + count) return TransferStatus::IoError;
  const SectorNumber size = image_.sectorCount();
  for (std::uint32_t done = 0; done < count;) {
    const SectorNumber at = (first + done) % size;
    const auto n = static_cast<std::uint32_t>(std::min<SectorNumber>(count - done, size - at));
    if (image_.read(at, n, out.subspan(std::size_t{done} * kSectorSize)) != TransferStatus::Ok)
      return TransferStatus::IoError;
    done += n;
  }
  return TransferStatus::Ok;
}

std::unique_ptr<MappedSectors> FailingImage::map(SectorNumber first, std::uint32_t count) {
  if (!mappable_) return nullptr;
  std::vector<std::byte> data(std::size_t{count} * kSectorSize);
  if (read(first, count, data) == TransferStatus::Ok) return std::make_unique<CopiedSectors>(std::move(data));
  for (SectorNumber s = first; s < first + count; ++s) {
    const auto sector = std::span<std::byte>(data).subspan((s - first) * kSectorSize, kSectorSize);
    if (read(s, 1, sector) != TransferStatus::Ok) std::fill(sector.begin(), sector.end(), std::byte{0});
  }
  return std::make_unique<CopiedSectors>(std::move(data));
}

fs::path fixturePath(const std::string& name) { return fs::path(DRAVOLIN_FIXTURES_DIR) / name; }

static std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

std::string runShell(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return out;
  }
  std::array<char, 4096> buffer{};
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

CommandResult runDravolin(const std::vector<std::string>& arguments, const fs::path& home) {
  fs::create_directories(home);
  std::string command = "XDG_CONFIG_HOME=" + quote((home / "config").string()) +
                        " XDG_STATE_HOME=" + quote((home / "state").string()) + " " + quote(DRAVOLIN_CLI_PATH);
  for (const auto& a : arguments) command += " " + quote(a);
  fs::path errFile = home / "stderr.txt";
  command += " 2>" + quote(errFile.string()) + " </dev/null";
  CommandResult result;
  result.out = runShell(command, &result.exitCode);
  result.err = readFile(errFile);
  return result;
}

std::string sha256File(const fs::path& file) {
  std::string out = runShell("sha256sum " + quote(file.string()));
  return out.substr(0, out.find(' '));
}

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const fs::path& file, const std::string& bytes) {
  if (file.has_parent_path()) fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string caseName(std::string_view description) {
  std::string name;
  bool gap = false;
  for (const char c : description) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (keep) {
      if (gap && !name.empty()) name += '_';
      name += c;
      gap = false;
    } else {
      gap = true;
    }
  }
  return name.empty() ? std::string("unnamed") : name;
}

}  // namespace dravolin::test
