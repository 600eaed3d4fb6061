#pragma once
// The words a user reads about what a search could not read: one line per
// loss, naming the folder (as the result tree shows it), the sectors and what
// they cost. Shared by the command line, the wizard and the activity report.
#include <string>
#include <vector>

#include "entries/read_losses.h"
#include "results/result_tree.h"

namespace dravolin {

// "Folder /MANY: 8 unreadable sectors (1234-1241); 128 folder entries could not be read"
// "Folder /DATA: its chain is unreadable in both FAT copies (2 sectors: 40-41); the rest of the folder could not be read"
// "MFT records 5000-5001 could not be read (2 sectors: 90000-90001); the files and folders they held are lost"
std::vector<std::string> describeReadLosses(const ResultTree& tree);

// The folder a loss belongs to, as a path of the tree ("/" for the root,
// "/Lost/..." for an orphan); "folder N" when the tree does not hold it.
std::string lossFolderPath(const ResultTree& tree, const ReadLoss& loss);

}  // namespace dravolin
