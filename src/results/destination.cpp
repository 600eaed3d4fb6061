#include "results/destination.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>

namespace dravolin {
namespace fs = std::filesystem;

namespace {

// "PATH: reason" of a component that is not a folder and could not be made
// one. Something other than a folder under that name is "Not a directory",
// not the "File exists" mkdir gives for it.
std::string folderFailure(const fs::path& at, std::error_code error) {
  std::error_code ignored;
  if (!error || error == std::errc::file_exists || fs::exists(fs::symlink_status(at, ignored)))
    error = std::make_error_code(std::errc::not_a_directory);
  return at.string() + ": " + std::strerror(error.value());
}

}  // namespace

bool CreateFolderPath(const fs::path& path, std::string* why) {
  if (path.empty()) {
    if (why) *why = "no folder named";
    return false;
  }
  std::error_code error;
  fs::path built;
  for (const auto& part : path) {
    built /= part;
    if (part.empty() || part == "/") continue;
    if (fs::is_directory(built, error)) continue;
    std::error_code made;
    fs::create_directory(built, made);
    if (!fs::is_directory(built, error)) {
      if (why) *why = folderFailure(built, made ? made : error);
      return false;
    }
  }
  if (fs::is_directory(path, error)) return true;
  if (why) *why = folderFailure(path, error);
  return false;
}

Result<fs::path> checkDestination(const std::string& text, std::string* why) {
  if (text.empty()) {
    if (why) *why = "no folder named";
    return makeError(ErrorKind::InvalidArgument, kInvalidDestinationMessage);
  }
  std::error_code error;
  fs::path folder = fs::absolute(fs::path(text), error);
  if (error) {
    if (why) *why = text + ": " + std::strerror(error.value());
    return makeError(ErrorKind::InvalidArgument, kInvalidDestinationMessage);
  }
  folder = folder.lexically_normal();
  if (!fs::is_directory(folder, error) && !CreateFolderPath(folder, why))
    return makeError(ErrorKind::InvalidArgument, kInvalidDestinationMessage);
  if (!fs::is_directory(folder, error)) {
    if (why) *why = folderFailure(folder, error);
    return makeError(ErrorKind::InvalidArgument, kInvalidDestinationMessage);
  }
  return folder;
}

std::optional<std::uint64_t> freeSpaceOf(const fs::path& folder) {
  std::error_code error;
  const fs::space_info info = fs::space(folder, error);
  if (error) return std::nullopt;
  return static_cast<std::uint64_t>(info.available);
}

namespace {

// Room for ".", ".", the process and serial numbers and the suffix.
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kPartialOverhead = 2 + 20 + 1 + 20 + 14;

bool processRuns(std::uint64_t pid) {
  if (pid == 0 || pid > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) return false;
  if (::kill(static_cast<pid_t>(pid), 0) == 0) return true;
  return errno == EPERM;  // it runs, under another user
}

}  // namespace

std::string partialFileName(const std::string& finalName, std::uint64_t pid, std::uint64_t serial) {
  std::size_t keep = std::min(finalName.size(), kMaxNameBytes - kPartialOverhead);
  // Never cut a UTF-8 character: continuation bytes are 10xxxxxx.
  while (keep > 0 && keep < finalName.size() && (static_cast<unsigned char>(finalName[keep]) & 0xC0) == 0x80) --keep;
  return "." + finalName.substr(0, keep) + "." + std::to_string(pid) + "-" + std::to_string(serial) +
         kPartialFileSuffix;
}

std::optional<std::uint64_t> partialFileOwner(const std::string& name) {
  const std::string_view suffix(kPartialFileSuffix);
  if (name.size() < 1 + suffix.size() || name.front() != '.' ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return std::nullopt;
  // ".NAME.PID-SERIAL" before the suffix: the token after the last '.'.
  const std::string_view head = std::string_view(name).substr(0, name.size() - suffix.size());
  const std::size_t dot = head.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  const std::string_view token = head.substr(dot + 1);
  const std::size_t dash = token.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash + 1 >= token.size()) return std::nullopt;
  std::uint64_t pid = 0, serial = 0;
  const auto pidEnd = token.data() + dash;
  if (auto [p, e] = std::from_chars(token.data(), pidEnd, pid); e != std::errc{} || p != pidEnd) return std::nullopt;
  const auto end = token.data() + token.size();
  if (auto [p, e] = std::from_chars(pidEnd + 1, end, serial); e != std::errc{} || p != end) return std::nullopt;
  return pid;
}

std::vector<fs::path> removePartialLeftovers(const fs::path& folder) {
  std::vector<fs::path> removed;
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return removed;
  const auto self = static_cast<std::uint64_t>(::getpid());
  for (const fs::directory_entry& entry : it) {
    const auto owner = partialFileOwner(entry.path().filename().string());
    if (!owner || *owner == self || processRuns(*owner)) continue;
    std::error_code typeError;
    if (!entry.is_regular_file(typeError) || entry.is_symlink(typeError)) continue;
    if (fs::remove(entry.path(), typeError)) removed.push_back(entry.path());
  }
  return removed;
}

}  // namespace dravolin
