#include "logs/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text_encoding.h"

namespace dravolin {
namespace fs = std::filesystem;

std::string logFileName(LogKind kind) {
  return kind == LogKind::Activity ? "Activity Log.txt" : "Recovery Log.txt";
}

LogFile::LogFile(LogKind kind, fs::path folder, std::string codePage)
    : kind_(kind), folder_(std::move(folder)), codePage_(std::move(codePage)) {}

void LogFile::setFolder(fs::path folder) {
  std::lock_guard lock(mutex_);
  folder_ = std::move(folder);
}

bool LogFile::append(std::string_view utf8Text) {
  std::lock_guard lock(mutex_);
  std::string text = utf8ToCodePage(utf8Text, codePage_);
  if (text.size() > kLogEntryLimit) text.resize(kLogEntryLimit);
  std::error_code ec;
  fs::create_directories(folder_, ec);
  const fs::path file = folder_ / logFileName(kind_);
  // A read-only log is made writable again, as the user cannot fix that mid-search.
  if (fs::exists(file, ec)) {
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, ec);
    auto size = fs::file_size(file, ec);
    if (!ec && size > kLogSizeLimit) fs::remove(file, ec);
  }
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string entry = "\r\n" + text;
  const char* data = entry.data();
  std::size_t left = entry.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, data, left);
    if (n <= 0) {
      ok = false;
      break;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  ::close(fd);
  return ok;
}

bool LogFile::appendLines(std::initializer_list<std::string_view> lines) {
  bool ok = true;
  for (auto line : lines) ok = append(line) && ok;
  return ok;
}

bool LogFile::appendLines(const std::vector<std::string>& lines) {
  bool ok = true;
  for (const auto& line : lines) ok = append(line) && ok;
  return ok;
}

}  // namespace dravolin
