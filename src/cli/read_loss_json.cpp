#include "cli/read_loss_json.h"

#include "cli/cli_context.h"
#include "results/unicode_text.h"

#include <cstdio>

#include "results/read_loss_report.h"

namespace dravolin::cli {
const char* readLossKindName(ReadLossKind kind) {
  switch (kind) {
    case ReadLossKind::FolderSectors: return "folder_sectors";
    case ReadLossKind::FatChain: return "fat_chain";
    case ReadLossKind::MftRecord: return "mft_record";
  }
  return "folder_sectors";
}

nlohmann::json sectorRangesJson(const std::vector<SectorRange>& ranges) {
  nlohmann::json out = nlohmann::json::array();
  for (const SectorRange& range : ranges) out.push_back({range.start, range.end});
  return out;
}

nlohmann::json readLossesJson(const ResultTree& tree) {
  nlohmann::json out = nlohmann::json::array();
  for (const ReadLoss& loss : tree.entries().Losses.list) {
    out.push_back({{"kind", readLossKindName(loss.kind)},
                   {"folder", lossFolderPath(tree, loss)},
                   {"sectors", sectorRangesJson(loss.sectors)},
                   {"entries_lost", loss.entriesLost},
                   {"records", loss.recordNumbers}});
  }
  return out;
}

void addReadLossJson(nlohmann::json& doc, const std::vector<SectorRange>& unreadable, const ResultTree* tree) {
  doc["unreadable"] = sectorRangesJson(unreadable);
  if (tree != nullptr && !tree->entries().Losses.empty()) doc["losses"] = readLossesJson(*tree);
}

bool printReadLosses(const ResultTree& tree) {
  const std::vector<std::string> lines = describeReadLosses(tree);
  // The lines name folders read from the disk: shown escaped.
  for (const std::string& line : lines) printMessage(shownText(line));
  return !lines.empty();
}

}  // namespace dravolin::cli
