#pragma once
// The file-system search of the committed selection as both front ends
// start it: the worker for the kind the search controller chose, and the
// result tree of what it found. A file system that app/ supports here shows
// up in the command line and the wizard alike.
#include <memory>
#include <string>

#include "app/search_controller.h"
#include "app/session.h"
#include "common/error.h"
#include "results/result_tree.h"

namespace dravolin {

struct SearchRequest {
  // Decodes FAT short names for display and saving.
  std::string codePage = std::string(kDefaultNameCodePage);
};

// The worker to start with controller.start() for controller.kind(); an
// error for a selection no engine here can search.
[[nodiscard]] Result<SearchController::Worker> makeSearchWorker(Session& session, SearchController& controller,
                                                                 const SearchRequest& request = {});

// Step 4: the result tree of the entries the search left in the session.
std::unique_ptr<ResultTree> buildResultTree(Session& session, const SearchRequest& request = {});

}  // namespace dravolin
