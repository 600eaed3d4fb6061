#include "results/read_loss_report.h"

namespace dravolin {
namespace {

std::string recordList(const std::vector<std::uint64_t>& records) {
  // Consecutive numbers are written as one range.
  std::string out;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < records.size();) {
    std::size_t j = i;
    while (j + 1 < records.size() && records[j + 1] == records[j] + 1) ++j;
    if (shown == 20) {
      out += ", ...";
      break;
    }
    if (!out.empty()) out += ", ";
    out += std::to_string(records[i]);
    if (j > i) out += "-" + std::to_string(records[j]);
    ++shown;
    i = j + 1;
  }
  return out;
}

}  // namespace

std::string lossFolderPath(const ResultTree& tree, const ReadLoss& loss) {
  const FoundEntries& entries = tree.entries();
  const std::ptrdiff_t directory = entries.findDirectory(loss.folderId, loss.partition);
  if (directory >= 0)
    if (auto item = tree.itemOfDirectory(static_cast<std::size_t>(directory))) return tree.pathText(*item);
  if (auto item = tree.itemOfId(loss.folderId)) return tree.pathText(*item);
  return "folder " + std::to_string(loss.folderId);
}

std::vector<std::string> describeReadLosses(const ResultTree& tree) {
  std::vector<std::string> lines;
  for (const ReadLoss& loss : tree.entries().Losses.list) {
    const std::string sectors = describeSectorRanges(loss.sectors);
    switch (loss.kind) {
      case ReadLossKind::FolderSectors: {
        std::string line = "Folder " + lossFolderPath(tree, loss) + ": " + sectors + " unreadable";
        if (loss.entriesLost > 0)
          line += "; " + std::to_string(loss.entriesLost) + " folder entries could not be read";
        if (!loss.recordNumbers.empty()) line += "; lost records " + recordList(loss.recordNumbers);
        lines.push_back(std::move(line));
        break;
      }
      case ReadLossKind::FatChain:
        lines.push_back("Folder " + lossFolderPath(tree, loss) + ": its chain is unreadable in both FAT copies (" +
                        sectors + "); the rest of the folder could not be read");
        break;
      case ReadLossKind::MftRecord:
        lines.push_back((loss.recordNumbers.size() == 1 ? "MFT record " : "MFT records ") +
                        recordList(loss.recordNumbers) + " could not be read (" + sectors +
                        "); the files and folders they held are lost");
        break;
    }
  }
  return lines;
}

}  // namespace dravolin
