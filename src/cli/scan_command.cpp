// dravolin scan: runs the search the wizard would run on a FAT volume and
// prints the result tree with the browser's columns and its summary line.
#include <cstdio>

#include "cli/commands.h"
#include "cli/search_results.h"

namespace dravolin::cli {
namespace {

struct ScanOptions {
  std::string source;
  SearchOptions search;
};

// Visits every folder of the tree depth first, each followed by its files.
template <typename FolderFn, typename FileFn>
void walkTree(const ResultTree& tree, FolderFn onFolder, FileFn onFile) {
  std::vector<std::size_t> pending{ResultTree::kTopItem};
  while (!pending.empty()) {
    const std::size_t item = pending.back();
    pending.pop_back();
    if (item != ResultTree::kTopItem) onFolder(item);
    for (std::size_t file : tree.entries().childFiles(tree.item(item).id)) onFile(item, file);
    const auto& children = tree.item(item).children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(*it);
  }
}

std::string childPath(const ResultTree& tree, std::size_t item, const std::string& name) {
  const std::string folder = tree.pathText(item);
  return folder == "/" ? "/" + name : folder + "/" + name;
}

}  // namespace

CommandRunner registerScanCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("scan", "Search a FAT volume and print every folder and file found");
  auto options = std::make_shared<ScanOptions>();
  command->add_option("SOURCE", options->source, "Block device, DiskN, image file or image folder")->required();
  context.addChoiceOptions(*command, false);
  context.addCommonOptions(*command, true);
  addSearchOptions(*command, options->search);
  return [options, &context]() -> int {
    context.openSource(options->source, true);
    context.commitChoice(ChoiceRule::NeedsFileSystem);
    auto tree = searchAndBuildTree(context, options->search);
    const FoundEntries& entries = tree->entries();
    const std::string summary = tree->summary();

    if (context.common.json) {
      nlohmann::json list = nlohmann::json::array();
      walkTree(
          *tree,
          [&](std::size_t item) {
            const auto directory = static_cast<std::size_t>(tree->item(item).directory);
            const DirectoryNode& node = entries.DirectoryList[directory];
            list.push_back(entryJson(tree->pathText(item), tree->item(item).name, true, node.isDeleted(), 0,
                                     node.ownId, node.parentId, entryDateTexts(node.times, tree->isFat())));
          },
          [&](std::size_t item, std::size_t file) {
            const FileNode& node = entries.FileList[file];
            const std::string name = tree->fileName(file);
            list.push_back(entryJson(childPath(*tree, item, name), name, false, node.isDeleted(), node.size,
                                     node.fileIndex, node.parentId, entryDateTexts(node.times, tree->isFat())));
          });
      context.printJson({{"file_system", context.session().state.FileSystemType},
                         {"directories", entries.DirectoryCount},
                         {"files", entries.FileCount},
                         {"total_size", entries.TotalSize},
                         {"summary", summary},
                         {"entries", list}});
      return kExitOk;
    }

    std::printf("%-14s %12s  %-17s  %-17s  %-11s  %10s  %s\n", "Type", "Size", "Modified Date", "Created Date",
                "Accessed Date", "ID", "Path");
    auto printRow = [](const std::string& type, std::uint64_t size, const EntryDateTexts& dates, std::uint64_t id,
                       const std::string& path) {
      std::printf("%-14s %12llu  %-17s  %-17s  %-11s  %10llu  %s\n", type.c_str(),
                  static_cast<unsigned long long>(size), dates.modified.c_str(), dates.created.c_str(),
                  dates.accessed.c_str(), static_cast<unsigned long long>(id), path.c_str());
    };
    walkTree(
        *tree,
        [&](std::size_t item) {
          const DirectoryNode& node = entries.DirectoryList[static_cast<std::size_t>(tree->item(item).directory)];
          printRow(typeText(true, node.isDeleted()), 0, entryDateTexts(node.times, tree->isFat()), node.ownId,
                   tree->pathText(item));
        },
        [&](std::size_t item, std::size_t file) {
          const FileNode& node = entries.FileList[file];
          printRow(typeText(false, node.isDeleted()), node.size, entryDateTexts(node.times, tree->isFat()),
                   node.fileIndex, childPath(*tree, item, tree->fileName(file)));
        });
    std::printf("%s\n", summary.c_str());
    return kExitOk;
  };
}

}  // namespace dravolin::cli
