#include "results/name_search.h"

#include <algorithm>

#include "results/unicode_text.h"

namespace dravolin {
namespace {

// Wildcard match with backtracking to the last '*': linear in practice and
// bounded by pattern × name steps in the worst case.
bool wildcardMatch(std::u32string_view pattern, std::u32string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::u32string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u32string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

}  // namespace

bool matchesUpperPattern(std::u32string_view pattern, std::u32string_view name) {
  if (pattern.empty() || name.empty()) return false;
  if (pattern == U"*") return true;
  if (pattern == U"*.*") return name.find(U'.') != std::u32string_view::npos;
  return wildcardMatch(pattern, name);
}

bool matchesNamePattern(std::string_view pattern, std::string_view name) {
  return matchesUpperPattern(toUpperCase(utf8ToCodePoints(pattern)), toUpperCase(utf8ToCodePoints(name)));
}

SizeUnit sizeUnitFromText(std::string_view text) {
  if (text == "KB") return SizeUnit::KB;
  if (text == "MB") return SizeUnit::MB;
  if (text == "GB") return SizeUnit::GB;
  return SizeUnit::Bytes;
}

std::uint64_t sizeUnitFactor(SizeUnit unit) {
  switch (unit) {
    case SizeUnit::KB: return 1024ULL;
    case SizeUnit::MB: return 1048576ULL;
    case SizeUnit::GB: return 1073741824ULL;
    case SizeUnit::Bytes: break;
  }
  return 1;
}

std::int64_t searchDayNumber(int year, int month, int day) {
  return ((static_cast<std::int64_t>(year) * 360) + (static_cast<std::int64_t>(month) * 30) + day) * 24;
}

bool passesSearchDate(const NameSearchRequest::DateFilter& filter, const CalendarDate& date) {
  if (filter.to.year < filter.from.year) return false;
  if (date.year < filter.from.year || date.year > filter.to.year) return false;
  const std::int64_t value = searchDayNumber(date.year, date.month, date.day);
  return value >= searchDayNumber(filter.from.year, filter.from.month, filter.from.day) &&
         value <= searchDayNumber(filter.to.year, filter.to.month, filter.to.day);
}

bool NameSearch::passesFilters(const NameSearchRequest& request, bool deleted, const EntryTimes& times,
                               std::optional<std::uint64_t> size) const {
  if (request.deleted) {
    if (*request.deleted == DeletedChoice::Only && !deleted) return false;
    if (*request.deleted == DeletedChoice::Exclude && deleted) return false;
  }
  if (request.size && size) {
    // 64-bit products; a bound that would overflow is taken as the largest value.
    const std::uint64_t factor = sizeUnitFactor(request.size->unit);
    auto scaled = [factor](std::uint64_t v) {
      return v > UINT64_MAX / factor ? UINT64_MAX : v * factor;
    };
    const std::uint64_t from = scaled(request.size->from);
    const std::uint64_t to = scaled(request.size->to);
    if (to != 0 && (*size < from || *size > to)) return false;
  }
  if (request.date && !passesSearchDate(*request.date, entryDate(times, request.date->kind, tree_.isFat())))
    return false;
  return true;
}

std::vector<NameSearchMatch> NameSearch::find(const NameSearchRequest& request, Job& job) const {
  std::vector<NameSearchMatch> found;
  const std::u32string pattern = toUpperCase(utf8ToCodePoints(request.pattern));
  const FoundEntries& entries = tree_.entries();
  const std::uint64_t total =
      (request.size ? 0 : entries.DirectoryList.size()) + static_cast<std::uint64_t>(entries.FileList.size());
  std::uint64_t done = 0;
  auto progress = [&] {
    ++done;
    if ((done & 0xFF) == 0) {
      job.setPercent(total ? static_cast<int>(done * 100 / total) : 100);
      job.checkpoint();
    }
  };

  // Folders first, unless the size filter is on: folders have no size.
  if (!request.size) {
    for (std::size_t i = 0; i < entries.DirectoryList.size() && !job.stopRequested(); ++i) {
      progress();
      const DirectoryNode& node = entries.DirectoryList[i];
      if (node.partition != tree_.partition()) continue;
      const std::string name = entryName(node.narrowName, node.wideName, tree_.codePage());
      if (!matchesUpperPattern(pattern, toUpperCase(utf8ToCodePoints(name)))) continue;
      if (!passesFilters(request, node.isDeleted(), node.times, std::nullopt)) continue;
      found.push_back({RowKind::Folder, i});
      job.setLastName(name);
    }
  }
  for (std::size_t i = 0; i < entries.FileList.size() && !job.stopRequested(); ++i) {
    progress();
    const FileNode& node = entries.FileList[i];
    const std::string name = entryName(node.narrowName, node.wideName, tree_.codePage());
    if (!matchesUpperPattern(pattern, toUpperCase(utf8ToCodePoints(name)))) continue;
    if (!passesFilters(request, node.isDeleted(), node.times, node.size)) continue;
    found.push_back({RowKind::File, i});
    job.setLastName(name);
  }
  job.setPercent(100);
  // Each hit is inserted at the top of the hit list.
  std::reverse(found.begin(), found.end());
  found.shrink_to_fit();
  return found;
}

NameSearchHit NameSearch::hitOf(const NameSearchMatch& match) const {
  const FoundEntries& entries = tree_.entries();
  auto folderPathOf = [&](std::uint32_t parentId) -> std::string {
    auto item = tree_.itemOfId(parentId);
    return item ? tree_.pathText(*item) : std::string{};
  };
  NameSearchHit hit;
  hit.kind = match.kind;
  hit.index = match.index;
  if (match.kind == RowKind::Folder) {
    const DirectoryNode& node = entries.DirectoryList.at(match.index);
    hit.name = entryName(node.narrowName, node.wideName, tree_.codePage());
    hit.type = typeText(true, node.isDeleted());
    auto item = tree_.itemOfDirectory(match.index);
    hit.folderPath = item ? tree_.pathText(tree_.item(*item).parent) : folderPathOf(node.parentId);
    hit.dates = entryDateTexts(node.times, tree_.isFat());
    hit.id = node.ownId;
    hit.deleted = node.isDeleted();
  } else {
    const FileNode& node = entries.FileList.at(match.index);
    hit.name = entryName(node.narrowName, node.wideName, tree_.codePage());
    hit.type = typeText(false, node.isDeleted());
    hit.folderPath = folderPathOf(node.parentId);
    hit.size = node.size;
    hit.dates = entryDateTexts(node.times, tree_.isFat());
    hit.id = node.fileIndex;
    hit.deleted = node.isDeleted();
  }
  if (hit.folderPath.empty()) hit.path = hit.name;
  else hit.path = hit.folderPath == "/" ? "/" + hit.name : hit.folderPath + "/" + hit.name;
  return hit;
}

std::vector<NameSearchHit> NameSearch::run(const NameSearchRequest& request, Job& job) const {
  const std::vector<NameSearchMatch> matches = find(request, job);
  std::vector<NameSearchHit> hits;
  hits.reserve(matches.size());
  for (const NameSearchMatch& match : matches) hits.push_back(hitOf(match));
  return hits;
}

}  // namespace dravolin
