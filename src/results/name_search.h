#pragma once
// The name search over the found entries of the file system on display:
// a wildcard pattern on the names, optionally filtered by deleted state,
// by one of the three dates and by size. Runs as a worker.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/job.h"
#include "results/result_tree.h"

namespace dravolin {

// True when the name matches the pattern: "*" matches every name, "*.*"
// every name holding a '.', otherwise '*' stands for any run of characters
// and '?' for exactly one. Both are compared in upper case. An empty pattern
// or an empty name never matches.
bool matchesNamePattern(std::string_view pattern, std::string_view name);
// The same on upper-cased code points (the worker converts once per name).
bool matchesUpperPattern(std::u32string_view pattern, std::u32string_view name);

enum class DeletedChoice { Include = 0, Exclude = 1, Only = 2 };

enum class SizeUnit { Bytes, KB, MB, GB };

struct SearchDate {
  int day = 0, month = 0, year = 0;
};

struct NameSearchRequest {
  std::string pattern;
  std::optional<DeletedChoice> deleted;  // "Type" box
  struct DateFilter {
    EntryDateKind kind = EntryDateKind::Created;  // the choice: 0 created, 1 modified, 2 accessed
    SearchDate from, to;
  };
  std::optional<DateFilter> date;        // "Date" box
  struct SizeFilter {
    std::uint64_t from = 0, to = 0;
    SizeUnit unit = SizeUnit::KB;
  };
  std::optional<SizeFilter> size;        // "Size" box
};

// The unit's multiplier; any other unit text means bytes.
SizeUnit sizeUnitFromText(std::string_view text);
std::uint64_t sizeUnitFactor(SizeUnit unit);

// The date filter's day number, ((year × 360) + (month × 30) + day) × 24.
std::int64_t searchDayNumber(int year, int month, int day);
bool passesSearchDate(const NameSearchRequest::DateFilter& filter, const CalendarDate& date);

struct NameSearchHit {
  RowKind kind = RowKind::File;
  std::size_t index = 0;   // in DirectoryList or FileList
  std::string name;
  std::string type;
  std::string folderPath;  // the tree path of its folder, "/" for the root
  std::string path;        // folder path + name
  std::uint64_t size = 0;
  EntryDateTexts dates;
  std::uint64_t id = 0;    // folders: own id; files: file index
  bool deleted = false;
};

// Which node a hit is, without its texts: what a window keeps per hit, so
// that a search of "*" over a million names stays small.
struct NameSearchMatch {
  RowKind kind = RowKind::File;
  std::size_t index = 0;  // in DirectoryList or FileList
};

class NameSearch {
 public:
  explicit NameSearch(const ResultTree& tree) : tree_(tree) {}

  // Runs the search; hits are in the order of the hit list (each new hit
  // inserted at the top). Stops early when the job's stop is requested.
  std::vector<NameSearchHit> run(const NameSearchRequest& request, Job& job) const;
  // The same search, keeping only which nodes matched, in the same order.
  std::vector<NameSearchMatch> find(const NameSearchRequest& request, Job& job) const;
  // The texts of one match, made from the nodes as they are now.
  NameSearchHit hitOf(const NameSearchMatch& match) const;

 private:
  bool passesFilters(const NameSearchRequest& request, bool deleted, const EntryTimes& times,
                     std::optional<std::uint64_t> size) const;
  const ResultTree& tree_;
};

}  // namespace dravolin
