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

// Visits every folder of the tree depth first, each followed by its files;
// both get the folder's path text, made once per folder.
template <typename FolderFn, typename FileFn>
void walkTree(const ResultTree& tree, FolderFn onFolder, FileFn onFile) {
  std::vector<std::size_t> pending{ResultTree::kTopItem};
  while (!pending.empty()) {
    const std::size_t item = pending.back();
    pending.pop_back();
    const std::string path = tree.pathText(item);
    if (item != ResultTree::kTopItem) onFolder(item, path);
    const std::string prefix = path == "/" ? path : path + "/";
    for (std::size_t file : tree.entries().childFiles(tree.item(item).id)) onFile(file, prefix);
    const auto& children = tree.item(item).children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(*it);
  }
}

// The listing is written through one buffer: a large volume has hundreds
// of thousands of rows.
class RowWriter {
 public:
  ~RowWriter() { flush(); }
  void column(std::string_view text, std::size_t width, bool right = false) {
    const std::size_t pad = text.size() < width ? width - text.size() : 0;
    if (right) buffer_.append(pad, ' ');
    buffer_ += text;
    if (!right) buffer_.append(pad, ' ');
  }
  void row(std::string_view type, std::uint64_t size, const EntryDateTexts& dates, std::uint64_t id,
           std::string_view path) {
    column(type, 14);
    buffer_.push_back(' ');
    column(std::to_string(size), 12, true);
    buffer_ += "  ";
    column(dates.modified, 17);
    buffer_ += "  ";
    column(dates.created, 17);
    buffer_ += "  ";
    column(dates.accessed, 11);
    buffer_ += "  ";
    column(std::to_string(id), 10, true);
    buffer_ += "  ";
    buffer_ += path;
    buffer_.push_back('\n');
    if (buffer_.size() > (1u << 20)) flush();
  }
  void flush() {
    std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
    buffer_.clear();
  }

 private:
  std::string buffer_;
};

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
          [&](std::size_t item, const std::string& path) {
            const auto directory = static_cast<std::size_t>(tree->item(item).directory);
            const DirectoryNode& node = entries.DirectoryList[directory];
            list.push_back(entryJson(path, tree->item(item).name, true, node.isDeleted(), 0, node.ownId,
                                     node.parentId, entryDateTexts(node.times, tree->isFat())));
          },
          [&](std::size_t file, const std::string& prefix) {
            const FileNode& node = entries.FileList[file];
            const std::string name = tree->fileName(file);
            list.push_back(entryJson(prefix + name, name, false, node.isDeleted(), node.size, node.fileIndex,
                                     node.parentId, entryDateTexts(node.times, tree->isFat())));
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
    {
      RowWriter out;
      walkTree(
          *tree,
          [&](std::size_t item, const std::string& path) {
            const DirectoryNode& node = entries.DirectoryList[static_cast<std::size_t>(tree->item(item).directory)];
            out.row(typeText(true, node.isDeleted()), 0, entryDateTexts(node.times, tree->isFat()), node.ownId, path);
          },
          [&](std::size_t file, const std::string& prefix) {
            const FileNode& node = entries.FileList[file];
            out.row(typeText(false, node.isDeleted()), node.size, entryDateTexts(node.times, tree->isFat()),
                    node.fileIndex, prefix + tree->fileName(file));
          });
    }
    std::printf("%s\n", summary.c_str());
    return kExitOk;
  };
}

}  // namespace dravolin::cli
