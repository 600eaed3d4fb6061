#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

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
