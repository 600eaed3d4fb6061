#include "common/format.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace dravolin {

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
  va_end(args);
  return out;
}

std::string formatMegaGiga(std::uint64_t bytes) {
  constexpr std::uint64_t kGiB = 1073741824ULL;
  if (bytes <= kGiB) return formatText("%.3f MB", static_cast<double>(bytes) / 1048576.0);
  return formatText("%.3f GB", static_cast<double>(bytes) / static_cast<double>(kGiB));
}

std::string formatPartitionSize(std::uint64_t bytes) {
  constexpr std::uint64_t kMiB = 1048576ULL;
  constexpr std::uint64_t kGiB = 1073741824ULL;
  if (bytes < kMiB) return {};
  if (bytes < kGiB) return std::to_string(bytes / kMiB) + " MB";
  return std::to_string(bytes / kGiB) + " GB";
}

std::string formatDateLine(const std::tm& local) {
  static constexpr const char* kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};
  static constexpr const char* kMonths[] = {"January", "February", "March",     "April",
                                            "May",     "June",     "July",      "August",
                                            "September", "October", "November", "December"};
  int weekday = (local.tm_wday >= 0 && local.tm_wday < 7) ? local.tm_wday : 0;
  int month = (local.tm_mon >= 0 && local.tm_mon < 12) ? local.tm_mon : 0;
  return formatText("%d:%02d - %s, %s %02d, %d", local.tm_hour, local.tm_min, kWeekdays[weekday],
                    kMonths[month], local.tm_mday, local.tm_year + 1900);
}

std::tm localTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string localDateLine() { return formatDateLine(localTimeNow()); }

}  // namespace dravolin
