#pragma once
// $FILE_NAME: a name of a file with its parent folder, as held in the MFT
// record and as the key of a folder's index entries.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "common/error.h"
#include "ntfs/mft_record.h"

namespace dravolin {

enum class FileNameNamespace : std::uint8_t { Posix = 0, Win32 = 1, Dos = 2, Win32AndDos = 3 };

inline constexpr std::uint32_t kFileNameDirectoryFlag = 0x10000000;

struct FileName {
  FileReference parent;
  std::uint64_t creation_time = 0;
  std::uint64_t modification_time = 0;
  std::uint64_t mft_change_time = 0;
  std::uint64_t access_time = 0;
  std::uint64_t allocated_size = 0;
  std::uint64_t data_size = 0;
  std::uint32_t flags = 0;
  FileNameNamespace name_space = FileNameNamespace::Posix;
  std::u16string name;

  bool isDirectory() const { return (flags & kFileNameDirectoryFlag) != 0; }
};

// Decodes a file-name value: 66 bytes of fields and the name's characters,
// all within value. NotFound otherwise.
[[nodiscard]] Result<FileName> parseFileName(ByteSpan value);

// Every resident, unnamed $FILE_NAME of the record, in record order.
[[nodiscard]] std::vector<FileName> readFileNames(const MftRecord& record);

// The name to show: the first of namespace 1 (Win32), then 3 (Win32 and
// DOS), then 0 (POSIX, used by case-sensitive folders), then 2 (DOS).
// NotFound when the record has none.
[[nodiscard]] Result<FileName> chooseFileName(const std::vector<FileName>& names);
// The same choice without a copy: the index of the chosen name.
[[nodiscard]] std::optional<std::size_t> bestFileNameIndex(const std::vector<FileName>& names);
[[nodiscard]] Result<FileName> readBestFileName(const MftRecord& record);

// The name listed for a record whose names are gone (a deleted record whose
// $FILE_NAME lay in an extension record since reused): "Dir" or "File" and
// its MFT number, as found directories without a name are numbered.
std::u16string namelessRecordName(std::uint64_t number, bool folder);

}  // namespace dravolin
