#pragma once
// What the front ends can do with the two logs: view, clear, change folder.
#include <filesystem>
#include <optional>
#include <string>

#include "common/prompter.h"
#include "logs/log_file.h"

namespace dravolin {

// "Activity Report" or "Recovery History".
std::string logDisplayName(LogKind kind);

// The file to open in a viewer, or nullopt after telling the user
// "Activity Report file not found" / "Recovery History file not found".
std::optional<std::filesystem::path> viewLog(const LogFile& log, Prompter& prompter);

// Asks "Are you sure you want to delete Activity Report" (or Recovery
// History) and deletes the file on yes; a missing file is reported as the
// file name followed by " file not found". Returns true when deleted.
bool clearLog(const LogFile& log, Prompter& prompter);

}  // namespace dravolin
