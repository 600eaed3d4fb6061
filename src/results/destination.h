#pragma once
// The destination folder of a saving or of raw recovery: the check of the
// destination dialog's OK button, the creation of missing folders along a
// path, the free space of the drive that holds it, and the names files are
// written under until they are whole.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"

namespace dravolin {

inline constexpr const char* kInvalidDestinationMessage = "Not a valid Destination. Please specify destination.";

// Creates every missing folder along the path, component by component.
// True when the path is a folder afterwards; false when a component could
// not be made (or exists and is not a folder). When why is given, a failure
// names the component and the system's reason there ("/a/file: Not a
// directory").
bool CreateFolderPath(const std::filesystem::path& path, std::string* why = nullptr);

// The destination check: an empty text is refused; a folder that does not
// exist is created; when it still does not exist the same message is given.
// Returns the absolute folder on success, the message otherwise; why, when
// given, receives the path and the system's reason of a refusal.
[[nodiscard]] Result<std::filesystem::path> checkDestination(const std::string& text, std::string* why = nullptr);

// Bytes available to an unprivileged user on the drive that holds the folder.
std::optional<std::uint64_t> freeSpaceOf(const std::filesystem::path& folder);

// A file being saved is written under a hidden name beside its final one,
// ".NAME.PID-SERIAL.dravolin-part", and given its final name only once it is
// whole and on the disk, so that a run killed half-way never leaves a
// truncated file under a name a later run would take for the saved file.
inline constexpr const char* kPartialFileSuffix = ".dravolin-part";

// The partial name of a file of the given final name for the run of process
// pid; serial makes it unique within the run. A long final name is shortened
// (at a UTF-8 character boundary) so that the partial name stays within 255
// bytes.
std::string partialFileName(const std::string& finalName, std::uint64_t pid, std::uint64_t serial);

// The process whose run made a file of that name, when the name is a partial
// file name; nothing otherwise.
std::optional<std::uint64_t> partialFileOwner(const std::string& name);

// Removes from folder (not below it) the partial files left by runs that no
// longer run (their process is gone; the files of this process and of live
// processes are left alone). Returns the paths removed.
std::vector<std::filesystem::path> removePartialLeftovers(const std::filesystem::path& folder);

}  // namespace dravolin
