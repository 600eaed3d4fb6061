#include "results/saved_times.h"

#include <fcntl.h>

#include <cerrno>
#include <ctime>

namespace dravolin {
namespace {

constexpr timespec kOmit{0, UTIME_OMIT};

// A packed FAT date and time (2-second steps) as local time; omitted when
// the date is no calendar date or the time no clock time.
timespec fatLocalTime(std::uint32_t date, std::uint32_t time) {
  const unsigned month = (date >> 5) & 0x0F;
  const unsigned day = date & 0x1F;
  const unsigned hour = (time >> 11) & 0x1F;
  const unsigned minute = (time >> 5) & 0x3F;
  const unsigned second = (time & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return kOmit;
  std::tm t{};
  t.tm_year = static_cast<int>(80 + ((date >> 9) & 0x7F));
  t.tm_mon = static_cast<int>(month - 1);
  t.tm_mday = static_cast<int>(day);
  t.tm_hour = static_cast<int>(hour);
  t.tm_min = static_cast<int>(minute);
  t.tm_sec = static_cast<int>(second);
  t.tm_isdst = -1;  // the zone's rule for that date decides
  const std::time_t local = std::mktime(&t);
  if (local == static_cast<std::time_t>(-1)) return kOmit;
  return {local, 0};
}

// A FILETIME (100 ns since 1601-01-01 UTC); 0 means "no time".
timespec fileTime(std::uint32_t low, std::uint32_t high) {
  const std::uint64_t value = std::uint64_t{low} | (std::uint64_t{high} << 32);
  if (value == 0) return kOmit;
  constexpr std::int64_t kEpochDifference = 11644473600LL;  // 1601-01-01 to 1970-01-01
  timespec out{};
  out.tv_sec = static_cast<std::time_t>(static_cast<std::int64_t>(value / 10000000ULL) - kEpochDifference);
  out.tv_nsec = static_cast<long>(value % 10000000ULL * 100);
  return out;
}

bool cannotHoldTime(int error) { return error == EPERM || error == EOPNOTSUPP || error == EINVAL; }

}  // namespace

std::array<timespec, 2> savedTimes(const EntryTimes& times, bool fat) {
  // FAT: modified date and time, created date and time, accessed date only.
  // NTFS: three FILETIMEs as low and high words: modified, created, accessed.
  if (fat) return {fatLocalTime(times[4], 0), fatLocalTime(times[0], times[1])};
  return {fileTime(times[4], times[5]), fileTime(times[0], times[1])};
}

int applySavedTimes(int fd, const EntryTimes& times, bool fat) {
  const auto ts = savedTimes(times, fat);
  if (ts[0].tv_nsec == UTIME_OMIT && ts[1].tv_nsec == UTIME_OMIT) return 0;
  if (::futimens(fd, ts.data()) == 0) return 0;
  return cannotHoldTime(errno) ? 0 : errno;
}

int applySavedTimes(const std::filesystem::path& path, const EntryTimes& times, bool fat) {
  const auto ts = savedTimes(times, fat);
  if (ts[0].tv_nsec == UTIME_OMIT && ts[1].tv_nsec == UTIME_OMIT) return 0;
  if (::utimensat(AT_FDCWD, path.c_str(), ts.data(), AT_SYMLINK_NOFOLLOW) == 0) return 0;
  return cannotHoldTime(errno) ? 0 : errno;
}

}  // namespace dravolin
