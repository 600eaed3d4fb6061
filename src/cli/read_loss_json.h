#pragma once
// What a job could not read, in the JSON every command writes and on
// stderr: "unreadable" (the sectors the job's watch saw, as [start, end)
// pairs) and "losses" (what the search behind a result tree could not read,
// one object per loss), and the lines that name the losses.
#include <vector>

#include <nlohmann/json.hpp>

#include "results/read_loss_report.h"
#include "results/result_tree.h"

namespace dravolin::cli {

// "folder_sectors", "fat_chain" or "mft_record".
const char* readLossKindName(ReadLossKind kind);

// [[start, end], ...], end exclusive.
nlohmann::json sectorRangesJson(const std::vector<SectorRange>& ranges);

// [{"kind": "folder_sectors" | "fat_chain" | "mft_record", "folder": "/MANY",
//   "sectors": [[s, e], ...], "entries_lost": N, "records": [...]}, ...]
nlohmann::json readLossesJson(const ResultTree& tree);

// Adds "unreadable" to doc (an empty list when the job met no unreadable
// sector) and, when the search behind tree lost anything, "losses".
void addReadLossJson(nlohmann::json& doc, const std::vector<SectorRange>& unreadable, const ResultTree* tree);

// Says each loss of the search behind tree on stderr ("dravolin: " + line);
// true when there was any.
bool printReadLosses(const ResultTree& tree);

}  // namespace dravolin::cli
