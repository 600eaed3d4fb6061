#pragma once
// Texts the wizard shows for sizes, times and numbers.
#include <cstdint>
#include <ctime>
#include <string>

namespace dravolin {

// "%.3f MB" up to and including 1,073,741,824 bytes, "%.3f GB" above.
std::string formatMegaGiga(std::uint64_t bytes);

// Size text of a partition: whole MB from 1 MiB below 1 GiB, whole GB from
// 1 GiB up, empty below 1 MiB.
std::string formatPartitionSize(std::uint64_t bytes);

// The date line of the start block: "9:05 - Sunday, December 06, 2026".
std::string formatDateLine(const std::tm& local);
// The local time now, and its date line.
std::tm localTimeNow();
std::string localDateLine();

// printf-style formatting into a std::string.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace dravolin
