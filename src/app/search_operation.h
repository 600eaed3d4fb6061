#pragma once
// Starting the file-system search of Step 3 for both front ends: the worker
// that the search controller's kind calls for, run over the session's source
// with the controller's copy of the volume parameters. A file system that
// app/ learns to search shows up in every front end through here.
#include <string>

#include "app/search_controller.h"
#include "app/session.h"
#include "common/error.h"

namespace dravolin {

// The worker for controller.kind() (FAT directory tree or FAT exhaustive
// search); any other kind, or a session without an open source, is an Error
// whose message says the search is not available. codePage decodes FAT
// short names for the statistics' last name. A worker that cannot run to its
// end reports its message through controller.fail.
[[nodiscard]] Result<SearchController::Worker> makeSearchWorker(Session& session, SearchController& controller,
                                                  const std::string& codePage);

// The totals of the Step 3 block: the found entries' size and counts.
SearchTotals foundTotals(const Session& session);

}  // namespace dravolin
