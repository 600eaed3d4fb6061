#include "fat/directory_entry.h"

namespace dravolin {
namespace {

constexpr std::array<std::size_t, kLongNameEntryChars> kLongNameOffsets = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

}  // namespace

DirectoryEntry decodeDirectoryEntry(ByteSpan entry) {
  DirectoryEntry e;
  if (entry.size() < kDirectoryEntrySize) return e;
  e.firstByte = readU8(entry, 0);
  e.attributes = readU8(entry, 11);
  e.creationTime = readU16(entry, 14);
  e.creationDate = readU16(entry, 16);
  e.accessDate = readU16(entry, 18);
  e.clusterHigh = readU16(entry, 20);
  e.writeTime = readU16(entry, 22);
  e.writeDate = readU16(entry, 24);
  e.clusterLow = readU16(entry, 26);
  e.size = readU32(entry, 28);
  return e;
}

std::uint32_t makeClusterNumber(ByteSpan entry) {
  return readU16(entry, 26) | (std::uint32_t{readU16(entry, 20)} << 16);
}

bool isDotEntry(ByteSpan entry) { return fitsIn(entry, 0, 4) && readU8(entry, 0) == '.' && readU8(entry, 3) == ' '; }

bool beginsDirectory(ByteSpan sector) {
  return fitsIn(sector, 0, 35) && readU8(sector, 0) == '.' && readU8(sector, 1) == ' ' && readU8(sector, 32) == '.' &&
         readU8(sector, 33) == '.' && readU8(sector, 34) == ' ';
}

ShortName decodeShortName(ByteSpan entry) {
  ShortName name;
  if (!fitsIn(entry, 0, 11)) return name;
  auto append = [&](std::uint8_t byte) {
    name.narrow.push_back(static_cast<char>(byte));
    name.wide.push_back(static_cast<char16_t>(byte));
  };
  // Windows NT records an all-lowercase 8.3 name without a long name and
  // marks its base and extension as lowercase in byte 12; the name is shown
  // as it was typed.
  const std::uint8_t caseFlags = readU8(entry, 12);
  auto lowered = [](std::uint8_t byte, bool lower) {
    return lower && byte >= 'A' && byte <= 'Z' ? static_cast<std::uint8_t>(byte + ('a' - 'A')) : byte;
  };
  for (std::size_t i = 0; i < 8; ++i) {
    std::uint8_t byte = lowered(readU8(entry, i), (caseFlags & kLowercaseBase) != 0);
    if (i == 0 && byte == kDeletedMark) {
      name.deleted = true;
      byte = '_';
    } else if (i == 0 && byte == 0x05) {
      // A name whose first byte really is 0xE5 is stored with 0x05.
      byte = kDeletedMark;
    }
    if (byte != ' ') append(byte);
  }
  if (readU8(entry, 8) != ' ') name.narrow.push_back('.'), name.wide.push_back(u'.');
  for (std::size_t i = 8; i < 11; ++i) {
    const std::uint8_t byte = lowered(readU8(entry, i), (caseFlags & kLowercaseExtension) != 0);
    if (byte != ' ') append(byte);
  }
  // A NUL byte ends the text, as it would any C string built from the entry.
  if (auto nul = name.narrow.find('\0'); nul != std::string::npos) {
    name.narrow.resize(nul);
    name.wide.resize(nul);
  }
  return name;
}

std::array<char16_t, kLongNameEntryChars> longNamePiece(ByteSpan entry) {
  std::array<char16_t, kLongNameEntryChars> piece{};
  for (std::size_t i = 0; i < kLongNameEntryChars; ++i) piece[i] = static_cast<char16_t>(readU16(entry, kLongNameOffsets[i]));
  return piece;
}

std::optional<std::u16string> readLongName(ByteSpan directory, std::size_t shortOffset) {
  if (!fitsIn(directory, shortOffset, kDirectoryEntrySize)) return std::nullopt;
  const bool deletedShort = readU8(directory, shortOffset) == kDeletedMark;
  std::u16string name;
  std::size_t offset = shortOffset;
  std::size_t entries = 0;
  auto gatheredWhole = [&]() -> std::optional<std::u16string> {
    if (!name.empty() && name.size() % kLongNameEntryChars == 0) return name;
    return std::nullopt;
  };
  while (true) {
    // The start of the buffer ends the name like an entry that is not part of it.
    if (offset < kDirectoryEntrySize) return gatheredWhole();
    offset -= kDirectoryEntrySize;
    auto entry = directory.subspan(offset, kDirectoryEntrySize);
    if (readU8(entry, 11) != kAttributeLongName) return gatheredWhole();
    for (char16_t c : longNamePiece(entry)) {
      if (c == 0) return name;
      name.push_back(c);
    }
    ++entries;
    const std::uint8_t sequence = readU8(entry, 0);
    if (deletedShort) {
      // The sequence byte of a deleted long-name entry is the deletion mark,
      // whose bits say nothing about where the name ends.
      if (sequence != kDeletedMark && (sequence & kLastLongEntryFlag) != 0) return name;
      if (entries >= kDeletedLongNameMaxEntries) return name;
    } else if ((sequence & kLastLongEntryFlag) != 0) {
      return name;
    }
    if (name.size() > kLongNameMaxChars) return name;
  }
}

bool isValidEntryName(std::u16string_view name) {
  for (char16_t c : name) {
    if (c >= 0x01 && c <= 0x1F) return false;
    switch (c) {
      case u'"': case u'\\': case u'/': case u'?': case u'*': case u'<': case u'>': case u'|':
        return false;
      default: break;
    }
  }
  return true;
}

}  // namespace dravolin
