#pragma once
// The destination folder of a saving or of raw recovery: the check of the
// destination dialog's OK button, the creation of missing folders along a
// path, and the free space of the drive that holds it.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/error.h"

namespace dravolin {

inline constexpr const char* kInvalidDestinationMessage = "Not a valid Destination. Please specify destination.";

// Creates every missing folder along the path, component by component.
// True when the path is a folder afterwards; false when a component could
// not be made (or exists and is not a folder).
bool CreateFolderPath(const std::filesystem::path& path);

// The destination check: an empty text is refused; a folder that does not
// exist is created; when it still does not exist the same message is given.
// Returns the absolute folder on success, the message otherwise.
[[nodiscard]] Result<std::filesystem::path> checkDestination(const std::string& text);

// Bytes available to an unprivileged user on the drive that holds the folder.
std::optional<std::uint64_t> freeSpaceOf(const std::filesystem::path& folder);

}  // namespace dravolin
