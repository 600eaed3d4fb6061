// dravolin scan: runs the search the wizard would run on a FAT or NTFS volume and
// prints the result tree with the browser's columns and its summary line.
#include <charconv>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/search_results.h"
#include "results/unicode_text.h"

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

// Writes text to stdout in large pieces: a large volume has hundreds of
// thousands of rows.
class OutputBuffer {
 public:
  ~OutputBuffer() { flush(); }
  std::string& text() { return buffer_; }
  void flushIfFull() {
    if (buffer_.size() > (1u << 20)) flush();
  }
  void flush() {
    std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
    buffer_.clear();
  }

 private:
  std::string buffer_;
};

// The date texts of an entry. Neighbouring entries mostly share their time
// fields (files copied together), so the texts of the last fields asked for
// are kept and given again while the fields stay the same.
class DateTexts {
 public:
  // iso: the ISO texts too (the JSON listing); the text listing shows only
  // the others.
  DateTexts(bool fat, bool iso) : fat_(fat), iso_(iso) {}
  const EntryDateTexts& of(const EntryTimes& times) {
    if (!valid_ || times != times_) {
      fillEntryDateTexts(texts_, times, fat_, iso_, &lastDay_);
      times_ = times;
      valid_ = true;
    }
    return texts_;
  }

 private:
  bool fat_;
  bool iso_;
  bool valid_ = false;
  EntryTimes times_{};
  EntryDateTexts texts_;
  ShownDay lastDay_;
};

// The rows of the text listing, in the columns of the heading.
class RowWriter {
 public:
  // dateWidth: 17 for FAT dates ("07-Mar-2006 09:05"), 20 for NTFS ones with seconds.
  RowWriter(OutputBuffer& out, std::size_t dateWidth)
      : out_(out), buffer_(out.text()), dateWidth_(dateWidth) {}
  // path is the folder prefix followed by name (either may be empty). The
  // row is written straight into the buffer: a listing has a row per entry.
  void row(std::string_view type, std::uint64_t size, const EntryDateTexts& dates, std::uint64_t id,
           std::string_view prefix, std::string_view name) {
    // Control characters in names are shown escaped: a name cannot forge a
    // row or reach the terminal as a sequence.
    std::string shownPrefix, shownName;
    if (hasControlCharacters(prefix)) prefix = shownPrefix = shownText(prefix);
    if (hasControlCharacters(name)) name = shownName = shownText(name);
    const std::size_t at = buffer_.size();
    const std::size_t most = at + 96 + 3 * dateWidth_ + type.size() + dates.modified.size() + dates.created.size() +
                             dates.accessed.size() + prefix.size() + name.size();
    buffer_.resize_and_overwrite(most, [&](char* start, std::size_t) {
      char* p = start + at;
      auto put = [&p](std::string_view text) {
        if (text.empty()) return;  // an empty view may hold no pointer at all
        std::memcpy(p, text.data(), text.size());
        p += text.size();
      };
      auto pad = [&p](std::size_t length, std::size_t width) {
        if (length >= width) return;
        std::memset(p, ' ', width - length);
        p += width - length;
      };
      auto left = [&](std::string_view text, std::size_t width) {
        put(text);
        pad(text.size(), width);
      };
      auto number = [&](std::uint64_t value, std::size_t width) {
        char digits[24];
        const auto length = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
        pad(length, width);
        put({digits, length});
      };
      left(type, 14);
      put(" ");
      number(size, 12);
      put("  ");
      left(dates.modified, dateWidth_);
      put("  ");
      left(dates.created, dateWidth_);
      put("  ");
      left(dates.accessed, dateWidth_ == 17 ? 11 : dateWidth_);
      put("  ");
      number(id, 10);
      put("  ");
      put(prefix);
      put(name);
      put("\n");
      return static_cast<std::size_t>(p - start);
    });
    out_.flushIfFull();
  }

 private:
  OutputBuffer& out_;
  std::string& buffer_;
  std::size_t dateWidth_;
};

// One entry of the JSON listing; the keys in the sorted order of a json object.
void writeEntry(JsonWriter& json, std::string_view path, std::string_view name, bool folder, bool deleted,
                std::uint64_t size, std::uint64_t id, std::uint32_t parent, const EntryDateTexts& dates) {
  json.beginObject();
  json.key("accessed");
  json.value(dates.accessed);
  json.key("accessed_iso");
  json.value(dates.accessedIso);
  json.key("created");
  json.value(dates.created);
  json.key("created_iso");
  json.value(dates.createdIso);
  json.key("deleted");
  json.value(deleted);
  json.key("id");
  json.value(id);
  json.key("kind");
  json.value(folder ? "folder" : "file");
  json.key("modified");
  json.value(dates.modified);
  json.key("modified_iso");
  json.value(dates.modifiedIso);
  json.key("name");
  json.value(name);
  json.key("parent");
  json.value(std::uint64_t{parent});
  json.key("path");
  json.value(path);
  json.key("size");
  json.value(size);
  json.key("type");
  json.value(typeText(folder, deleted));
  json.endObject();
}

}  // namespace

CommandRunner registerScanCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("scan", "Search a FAT or NTFS volume and print every folder and file found");
  auto options = std::make_shared<ScanOptions>();
  command->add_option("SOURCE", options->source, "Block device, DiskN, image file or folder, first piece of a split image (.001, .aa), or E01, qcow2, VMDK, VHD, VHDX image")->required();
  context.addChoiceOptions(*command, false);
  context.addCommonOptions(*command, true);
  addSearchOptions(*command, options->search);
  command->add_option("--save-log", options->search.saveLog,
                      "Write the results to a search log (FILE.ST4; the name is upper-cased and .ST4 added)");
  return [options, &context]() -> int {
    context.openSource(options->source, true);
    // Every sector the job could not read, from the volume check on.
    UnreadableWatch watch(*context.session().reader());
    commitChoiceOrLoadLog(context, options->search);
    auto tree = searchAndBuildTree(context, options->search);
    saveResultsLog(context, options->search);
    const SearchStop& stop = context.session().searchStop;
    const std::vector<SectorRange> unreadable = watch.sectors().ranges();
    const FoundEntries& entries = tree->entries();
    const std::string summary = tree->summary();

    DateTexts dates(tree->isFat(), context.common.json);
    if (context.common.json) {
      // Written as the listing goes, laid out as printJson would lay out the
      // same document.
      OutputBuffer out;
      JsonWriter json(out.text());
      std::string path;
      json.beginObject();
      json.key("aborted");
      json.value(stop.stopped || context.interrupted());
      json.key("covered");
      if (const nlohmann::json covered = coveredJson(stop); covered.is_null()) {
        json.nullValue();
      } else {
        json.beginObject();
        json.key("end");
        json.value(covered["end"].get<std::uint64_t>());
        json.key("start");
        json.value(covered["start"].get<std::uint64_t>());
        json.endObject();
      }
      json.key("directories");
      json.value(std::uint64_t{entries.DirectoryCount});
      json.key("entries");
      json.beginArray();
      walkTree(
          *tree,
          [&](std::size_t item, const std::string& folderPath) {
            const auto directory = static_cast<std::size_t>(tree->item(item).directory);
            const DirectoryNode& node = entries.DirectoryList[directory];
            writeEntry(json, folderPath, tree->item(item).name, true, node.isDeleted(), 0, node.ownId,
                       node.parentId, dates.of(node.times));
            out.flushIfFull();
          },
          [&](std::size_t file, const std::string& prefix) {
            const FileNode& node = entries.FileList[file];
            const std::string name = tree->fileName(file);
            path.assign(prefix);
            path += name;
            writeEntry(json, path, name, false, node.isDeleted(), node.size, shownFileId(*tree, node), node.parentId,
                       dates.of(node.times));
            out.flushIfFull();
          });
      json.endArray();
      json.key("file_system");
      json.value(toString(context.session().state.FileSystemType));
      json.key("files");
      json.value(std::uint64_t{entries.FileCount});
      if (!entries.Losses.empty()) {
        json.key("losses");
        writeLossesJson(json, *tree);
      }
      json.key("summary");
      json.value(summary);
      json.key("total_size");
      json.value(entries.TotalSize);
      if (!unreadable.empty()) {
        json.key("unreadable");
        writeRangesJson(json, unreadable);
      }
      json.endObject();
      out.text() += '\n';
      out.flush();
      std::fflush(stdout);
      return reportSearchEnd(context.session(), tree.get(), watch.sectors());
    }

    const int dateWidth = tree->isFat() ? 17 : 20;
    std::printf("%-14s %12s  %-*s  %-*s  %-*s  %10s  %s\n", "Type", "Size", dateWidth, "Modified Date", dateWidth,
                "Created Date", tree->isFat() ? 11 : dateWidth, "Accessed Date", "ID", "Path");
    {
      OutputBuffer buffer;
      RowWriter out(buffer, static_cast<std::size_t>(dateWidth));
      std::string name;
      walkTree(
          *tree,
          [&](std::size_t item, const std::string& path) {
            const DirectoryNode& node = entries.DirectoryList[static_cast<std::size_t>(tree->item(item).directory)];
            out.row(typeText(true, node.isDeleted()), 0, dates.of(node.times), node.ownId, path, {});
          },
          [&](std::size_t file, const std::string& prefix) {
            const FileNode& node = entries.FileList[file];
            name.clear();
            tree->appendFileName(name, file);
            out.row(typeText(false, node.isDeleted()), node.size, dates.of(node.times), shownFileId(*tree, node), prefix,
                    name);
          });
    }
    std::printf("%s\n", summary.c_str());
    std::fflush(stdout);
    // What could not be read and where a stop left the search, after the
    // listing, which is printed in full either way.
    return reportSearchEnd(context.session(), tree.get(), watch.sectors());
  };
}

}  // namespace dravolin::cli
