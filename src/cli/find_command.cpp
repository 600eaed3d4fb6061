// dravolin find: the name search over what the search of a FAT or NTFS volume found,
// with the deleted-state, size and date filters of the search window.
#include <cstdio>

#include "cli/commands.h"
#include "cli/search_results.h"
#include "results/name_search.h"
#include "results/unicode_text.h"

namespace dravolin::cli {
namespace {

struct FindOptions {
  std::string source;
  std::string pattern;
  std::string deleted;
  std::string size;
  std::vector<std::string> date;  // KIND FROM..TO
  SearchOptions search;
};

NameSearchRequest::SizeFilter parseSizeRange(const std::string& text) {
  auto halves = splitRange(text);
  if (!halves) throw CliExit{kExitUsage, "--size takes FROM..TO[KB|MB|GB], not '" + text + "'"};
  std::string to = halves->second;
  SizeUnit unit = SizeUnit::Bytes;
  for (const char* suffix : {"KB", "MB", "GB"})
    if (to.size() > 2 && to.ends_with(suffix)) {
      unit = sizeUnitFromText(suffix);
      to.resize(to.size() - 2);
    }
  auto number = [&](const std::string& digits) -> std::uint64_t {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 19)
      throw CliExit{kExitUsage, "--size takes FROM..TO[KB|MB|GB], not '" + text + "'"};
    return std::stoull(digits);
  };
  return {number(halves->first), number(to), unit};
}

NameSearchRequest::DateFilter parseDateFilter(const std::vector<std::string>& values) {
  NameSearchRequest::DateFilter filter;
  const std::string& kind = values.at(0);
  if (kind == "created") filter.kind = EntryDateKind::Created;
  else if (kind == "modified") filter.kind = EntryDateKind::Modified;
  else if (kind == "accessed") filter.kind = EntryDateKind::Accessed;
  else throw CliExit{kExitUsage, "--date takes created, modified or accessed, not '" + kind + "'"};
  const auto [from, to] = parseDateRange("--date", values.at(1));
  filter.from = {from.day, from.month, from.year};
  filter.to = {to.day, to.month, to.year};
  return filter;
}

}  // namespace

CommandRunner registerFindCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("find", "Search the folders and files of a FAT or NTFS volume by name");
  auto o = std::make_shared<FindOptions>();
  command->add_option("SOURCE", o->source, "Block device, DiskN, image file or folder, first piece of a split image (.001, .aa), or E01, qcow2, VMDK, VHD, VHDX image")->required();
  command->add_option("PATTERN", o->pattern, "Name pattern: * any characters, ? one character (quote it)")
      ->required();
  context.addChoiceOptions(*command, false);
  command->add_option("--deleted", o->deleted, "Deleted entries: include, exclude or only")
      ->check(CLI::IsMember({"include", "exclude", "only"}));
  command->add_option("--size", o->size, "Files of FROM..TO bytes, or with a unit: 1..2KB, 1..5MB, 1..2GB");
  command->add_option("--date", o->date, "KIND FROM..TO: created, modified or accessed, dates YYYY-MM-DD")
      ->expected(2);
  context.addCommonOptions(*command, true);
  addSearchOptions(*command, o->search);

  return [o, &context]() -> int {
    NameSearchRequest request;
    request.pattern = o->pattern;
    if (o->deleted == "include") request.deleted = DeletedChoice::Include;
    else if (o->deleted == "exclude") request.deleted = DeletedChoice::Exclude;
    else if (o->deleted == "only") request.deleted = DeletedChoice::Only;
    if (!o->size.empty()) request.size = parseSizeRange(o->size);
    if (!o->date.empty()) request.date = parseDateFilter(o->date);

    context.openSource(o->source, true);
    // Every sector the job could not read, from the volume check on.
    UnreadableWatch watch(*context.session().reader());
    commitChoiceOrLoadLog(context, o->search);
    auto tree = searchAndBuildTree(context, o->search);

    std::vector<NameSearchHit> hits;
    WorkerJob job(context.prompter());
    runBrowserWorker(context, job, [&](Job& j) { hits = NameSearch(*tree).run(request, j); },
                     [&] { return ProgressState{job.percent(), job.lastName(), std::nullopt, std::nullopt}; });

    const FoundEntries& entries = tree->entries();
    auto parentOf = [&](const NameSearchHit& hit) {
      return hit.kind == RowKind::Folder ? entries.DirectoryList[hit.index].parentId
                                         : entries.FileList[hit.index].parentId;
    };
    // On NTFS the id of a file is its MFT number.
    for (auto& hit : hits)
      if (hit.kind == RowKind::File) hit.id = shownFileId(*tree, entries.FileList[hit.index]);
    if (context.common.json) {
      nlohmann::json list = nlohmann::json::array();
      for (const auto& hit : hits)
        list.push_back(entryJson(hit.path, hit.name, hit.kind == RowKind::Folder, hit.deleted, hit.size, hit.id,
                                 parentOf(hit), hit.dates));
      const SearchStop& stop = context.session().searchStop;
      nlohmann::json doc = {{"pattern", o->pattern},
                            {"count", hits.size()},
                            {"hits", list},
                            {"aborted", stop.stopped || context.interrupted()},
                            {"covered", coveredJson(stop)}};
      if (!entries.Losses.empty()) doc["losses"] = readLossesJson(*tree);
      if (!watch.sectors().empty()) doc["unreadable"] = sectorRangesJson(watch.sectors().ranges());
      context.printJson(doc);
      return reportSearchEnd(context.session(), tree.get(), watch.sectors());
    }
    std::printf("%-14s %12s  %-17s  %-17s  %-11s  %10s  %s\n", "Type", "File Size", "Created Date",
                "Modified Date", "Last Accessed", "ID", "Path");
    for (const auto& hit : hits)
      std::printf("%-14s %12llu  %-17s  %-17s  %-11s  %10llu  %s\n", hit.type.c_str(),
                  static_cast<unsigned long long>(hit.size), hit.dates.created.c_str(), hit.dates.modified.c_str(),
                  hit.dates.accessed.c_str(), static_cast<unsigned long long>(hit.id), shownText(hit.path).c_str());
    std::printf("Search String Found Count : %zu\n", hits.size());
    std::fflush(stdout);
    return reportSearchEnd(context.session(), tree.get(), watch.sectors());
  };
}

}  // namespace dravolin::cli
