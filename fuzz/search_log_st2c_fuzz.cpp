// Any bytes as a ".ST2C" search log.
#include "search_log_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzzSearchLogRoundTrip(data, size, dravolin::SearchLogKind::FoundList);
}
