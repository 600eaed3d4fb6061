#pragma once
// The plain-text list of the sectors an imaging could not read: one decimal
// sector number per line. The file is created with the first sector that is
// reported, so a healthy disk leaves none; a list left by an earlier run is
// removed when a new one begins.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "disk/sector_source.h"

namespace dravolin {

class BadSectorList {
 public:
  // An empty path keeps the count only.
  explicit BadSectorList(std::filesystem::path path);
  ~BadSectorList();
  BadSectorList(const BadSectorList&) = delete;
  BadSectorList& operator=(const BadSectorList&) = delete;

  void add(SectorNumber sector);
  // Flushes and closes the file; false when it could not be written fully.
  bool finish();

  std::uint64_t count() const { return count_; }
  // The file when one was written, else empty.
  std::filesystem::path writtenPath() const { return file_ || finished_ ? path_ : std::filesystem::path(); }
  const std::string& error() const { return error_; }

 private:
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  std::uint64_t count_ = 0;
  bool finished_ = false;  // a file was written and closed
  std::string error_;
};

}  // namespace dravolin
