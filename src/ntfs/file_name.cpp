#include "ntfs/file_name.h"

#include "ntfs/attribute.h"

namespace dravolin {

Result<FileName> parseFileName(ByteSpan value) {
  if (value.size() < 66) return makeError(ErrorKind::NotFound, "file name too short");
  FileName name;
  name.parent = FileReference::fromRaw(readU64(value, 0));
  name.creation_time = readU64(value, 8);
  name.modification_time = readU64(value, 16);
  name.mft_change_time = readU64(value, 24);
  name.access_time = readU64(value, 32);
  name.allocated_size = readU64(value, 40);
  name.data_size = readU64(value, 48);
  name.flags = readU32(value, 56);
  const std::size_t length = readU8(value, 64);
  const std::uint8_t name_space = readU8(value, 65);
  if (name_space > 3) return makeError(ErrorKind::NotFound, "file name: unknown namespace");
  name.name_space = static_cast<FileNameNamespace>(name_space);
  auto text = readUtf16(value, 66, length);
  if (!text) return makeError(ErrorKind::NotFound, "file name: characters out of range");
  name.name = std::move(*text);
  return name;
}

std::vector<FileName> readFileNames(const MftRecord& record) {
  std::vector<FileName> names;
  AttributeCursor walk(record);
  while (const AttributeHeader* attribute = walk.next()) {
    if (!attribute->is(AttributeType::FileName) || attribute->non_resident || !attribute->name.empty()) continue;
    if (auto name = parseFileName(attribute->value)) names.push_back(std::move(*name));
  }
  return names;
}

std::optional<std::size_t> bestFileNameIndex(const std::vector<FileName>& names) {
  static constexpr FileNameNamespace kOrder[] = {FileNameNamespace::Win32, FileNameNamespace::Win32AndDos,
                                                 FileNameNamespace::Posix, FileNameNamespace::Dos};
  for (auto wanted : kOrder)
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i].name_space == wanted) return i;
  return std::nullopt;
}

Result<FileName> chooseFileName(const std::vector<FileName>& names) {
  if (auto best = bestFileNameIndex(names)) return names[*best];
  return makeError(ErrorKind::NotFound, "no file name");
}

Result<FileName> readBestFileName(const MftRecord& record) { return chooseFileName(readFileNames(record)); }

std::u16string namelessRecordName(std::uint64_t number, bool folder) {
  std::u16string name = folder ? u"Dir" : u"File";
  for (char c : std::to_string(number)) name.push_back(static_cast<char16_t>(c));
  return name;
}

}  // namespace dravolin
