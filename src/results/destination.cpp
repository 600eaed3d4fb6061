#include "results/destination.h"

#include <system_error>

namespace dravolin {
namespace fs = std::filesystem;

bool CreateFolderPath(const fs::path& path) {
  if (path.empty()) return false;
  std::error_code error;
  fs::path built;
  for (const auto& part : path) {
    built /= part;
    if (part.empty() || part == "/") continue;
    if (fs::is_directory(built, error)) continue;
    fs::create_directory(built, error);
    if (!fs::is_directory(built, error)) return false;
  }
  return fs::is_directory(path, error);
}

Result<fs::path> checkDestination(const std::string& text) {
  if (text.empty()) return makeError(ErrorKind::InvalidArgument, kInvalidDestinationMessage);
  std::error_code error;
  fs::path folder = fs::absolute(fs::path(text), error);
  if (error) return makeError(ErrorKind::InvalidArgument, kInvalidDestinationMessage);
  folder = folder.lexically_normal();
  if (!fs::is_directory(folder, error) && !CreateFolderPath(folder))
    return makeError(ErrorKind::InvalidArgument, kInvalidDestinationMessage);
  if (!fs::is_directory(folder, error)) return makeError(ErrorKind::InvalidArgument, kInvalidDestinationMessage);
  return folder;
}

std::optional<std::uint64_t> freeSpaceOf(const fs::path& folder) {
  std::error_code error;
  const fs::space_info info = fs::space(folder, error);
  if (error) return std::nullopt;
  return static_cast<std::uint64_t>(info.available);
}

}  // namespace dravolin
