#include "imaging/bad_sector_list.h"

#include <cerrno>
#include <cstring>

namespace dravolin {
namespace fs = std::filesystem;

BadSectorList::BadSectorList(fs::path path) : path_(std::move(path)) {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove(path_, ec);
}

BadSectorList::~BadSectorList() {
  if (file_) std::fclose(file_);
}

void BadSectorList::add(SectorNumber sector) {
  ++count_;
  if (path_.empty() || !error_.empty()) return;
  if (!file_) {
    file_ = std::fopen(path_.c_str(), "w");
    if (!file_) {
      error_ = path_.string() + ": " + std::strerror(errno);
      return;
    }
  }
  if (std::fprintf(file_, "%llu\n", static_cast<unsigned long long>(sector)) < 0)
    error_ = path_.string() + ": " + std::strerror(errno);
}

bool BadSectorList::finish() {
  if (!file_) return error_.empty();
  bool ok = std::fflush(file_) == 0;
  if (std::fclose(file_) != 0) ok = false;
  file_ = nullptr;
  finished_ = true;
  if (!ok && error_.empty()) error_ = path_.string() + ": " + std::strerror(errno);
  return ok && error_.empty();
}

}  // namespace dravolin
