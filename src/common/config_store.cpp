#include "common/config_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace dravolin {
namespace {

// Position of the first "=" that is not escaped.
std::size_t findSeparator(const std::string& line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\') ++i;
    else if (line[i] == '=') return i;
  }
  return std::string::npos;
}

// A trailing blank that belongs to an escaped " " stays; other trailing blanks go.
std::string trimField(const std::string& s) {
  auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  std::size_t e = s.size();
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) {
    std::size_t backslashes = 0;
    for (std::size_t i = e - 1; i > b && s[i - 1] == '\\'; --i) ++backslashes;
    if (backslashes % 2 == 1) break;
    --e;
  }
  return s.substr(b, e - b);
}

}  // namespace

std::string escapeConfigText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool atEnd = i == 0 || i + 1 == text.size();
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '=': case '[': case ']': case ';': case '#': out += '\\'; out += c; break;
      case ' ': out += atEnd ? "\\ " : " "; break;
      default: out += c;
    }
  }
  return out;
}

std::string unescapeConfigText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    switch (next) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case '\\': case '=': case '[': case ']': case ';': case '#': case ' ': out += next; break;
      default:  // not an escape this store writes: keep it as it stands
        out += '\\';
        out += next;
    }
  }
  return out;
}

ConfigStore::ConfigStore(std::filesystem::path file) : file_(std::move(file)) {
  if (auto loaded = load(); !loaded) loadError_ = loaded.error();
}

std::string ConfigStore::value(const std::string& section, const std::string& name) const {
  auto s = sections_.find(section);
  if (s == sections_.end()) return {};
  auto v = s->second.find(name);
  return v == s->second.end() ? std::string{} : v->second;
}

void ConfigStore::setValue(const std::string& section, const std::string& name, const std::string& value) {
  sections_[section][name] = value;
}

void ConfigStore::removeSection(const std::string& section) { sections_.erase(section); }

std::vector<std::string> ConfigStore::names(const std::string& section) const {
  std::vector<std::string> out;
  auto s = sections_.find(section);
  if (s != sections_.end())
    for (const auto& [name, value] : s->second) out.push_back(name);
  return out;
}

Result<void> ConfigStore::load() {
  sections_.clear();
  if (file_.empty()) return {};
  std::error_code ec;
  if (!std::filesystem::exists(file_, ec)) return {};
  if (std::filesystem::is_directory(file_, ec))
    return makeError(ErrorKind::Io, "cannot read the settings file " + file_.string() + ": it is a folder");
  std::ifstream in(file_, std::ios::binary);
  if (!in)
    return makeError(ErrorKind::Io, "cannot read the settings file " + file_.string() + ": " + std::strerror(errno));
  std::string line;
  std::string section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = trimField(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']' && (line.size() < 3 || line[line.size() - 2] != '\\')) {
      section = unescapeConfigText(line.substr(1, line.size() - 2));
      continue;
    }
    const std::size_t eq = findSeparator(line);
    if (eq == std::string::npos) continue;
    sections_[section][unescapeConfigText(trimField(line.substr(0, eq)))] =
        unescapeConfigText(trimField(line.substr(eq + 1)));
  }
  if (in.bad()) return makeError(ErrorKind::Io, "cannot read the settings file " + file_.string());
  return {};
}

Result<void> ConfigStore::save() const {
  if (file_.empty()) return makeError(ErrorKind::InvalidArgument, "no settings file");
  std::error_code ec;
  if (file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path(), ec);
  std::ostringstream out;
  for (const auto& [section, values] : sections_) {
    out << '[' << escapeConfigText(section) << "]\n";
    for (const auto& [name, value] : values) out << escapeConfigText(name) << '=' << escapeConfigText(value) << '\n';
    out << '\n';
  }
  const std::string text = out.str();
  // A name of its own in the same folder (mkstemp), renamed over the file
  // when whole: two runs saving at once never write into one temporary
  // file, and the file is always one run's whole text.
  std::string pattern = file_.string() + ".XXXXXX";
  std::string temporary;
  const auto fail = [&](const std::string& what) {
    const std::string reason = std::strerror(errno);
    if (!temporary.empty()) std::filesystem::remove(temporary, ec);
    return makeError(ErrorKind::Io, "cannot write the settings file " + file_.string() + ": " + what + ": " + reason);
  };
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return fail("open");
  temporary = pattern;
  // mkstemp makes the file its owner's only; a settings file that exists
  // keeps the permissions it had.
  if (struct stat existing{}; ::stat(file_.c_str(), &existing) == 0) ::fchmod(fd, existing.st_mode & 07777);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return fail("write");
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    ::close(fd);
    return fail("fsync");
  }
  if (::close(fd) != 0) return fail("close");
  if (::rename(temporary.c_str(), file_.c_str()) != 0) return fail("rename");
  // The rename is durable once the folder's entry is on the disk too.
  const std::string folder = file_.has_parent_path() ? file_.parent_path().string() : std::string(".");
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

}  // namespace dravolin
