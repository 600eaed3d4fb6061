#pragma once
// The modified and accessed times a saved file or folder is given: those the
// listing shows for its entry. FAT keeps local wall-clock times (applied in
// the local time zone of this machine), NTFS keeps FILETIMEs in UTC.
#include <sys/stat.h>

#include <array>
#include <filesystem>

#include "entries/found_entries.h"

namespace dravolin {

// {accessed, modified} for utimensat; a field the entry holds no valid time
// in is UTIME_OMIT (the time of saving stays).
std::array<timespec, 2> savedTimes(const EntryTimes& times, bool fat);

// Gives the open file fd, or the file or folder at path, its entry's times.
// 0, or the system error; a destination that cannot hold the times (EPERM,
// EOPNOTSUPP, EINVAL: FAT's range, some network shares) counts as done.
int applySavedTimes(int fd, const EntryTimes& times, bool fat);
int applySavedTimes(const std::filesystem::path& path, const EntryTimes& times, bool fat);

}  // namespace dravolin
