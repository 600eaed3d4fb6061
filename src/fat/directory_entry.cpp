#include "fat/directory_entry.h"

#include <algorithm>

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
  // Gathered in place, then made into both strings at once.
  unsigned char text[12];
  std::size_t length = 0;
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
    if (byte != ' ') text[length++] = byte;
  }
  if (readU8(entry, 8) != ' ') text[length++] = '.';
  for (std::size_t i = 8; i < 11; ++i) {
    const std::uint8_t byte = lowered(readU8(entry, i), (caseFlags & kLowercaseExtension) != 0);
    if (byte != ' ') text[length++] = byte;
  }
  // A NUL byte ends the text, as it would any C string built from the entry.
  length = static_cast<std::size_t>(std::find(text, text + length, 0) - text);
  name.narrow.assign(reinterpret_cast<const char*>(text), length);
  name.wide.assign(text, text + length);  // each byte widened as it is
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
  // Gathered in place: the name ends once it holds more than the longest
  // name, so at most one entry's characters more.
  std::array<char16_t, kLongNameMaxChars + 1 + kLongNameEntryChars> name;
  std::size_t length = 0;
  auto found = [&] { return std::optional<std::u16string>(std::in_place, name.data(), length); };
  std::size_t offset = shortOffset;
  std::size_t entries = 0;
  while (true) {
    // The start of the buffer ends the name like an entry that is not part
    // of it: found when the characters fill whole entries.
    if (offset < kDirectoryEntrySize || readU8(directory, offset - kDirectoryEntrySize + 11) != kAttributeLongName) {
      if (length != 0 && length % kLongNameEntryChars == 0) return found();
      return std::nullopt;
    }
    offset -= kDirectoryEntrySize;
    const std::byte* entry = directory.data() + offset;
    for (const std::size_t at : kLongNameOffsets) {
      const auto c =
          static_cast<char16_t>(std::to_integer<unsigned>(entry[at]) | (std::to_integer<unsigned>(entry[at + 1]) << 8));
      if (c == 0) return found();
      name[length++] = c;
    }
    ++entries;
    const auto sequence = std::to_integer<std::uint8_t>(entry[0]);
    if (deletedShort) {
      // The sequence byte of a deleted long-name entry is the deletion mark,
      // whose bits say nothing about where the name ends.
      if (sequence != kDeletedMark && (sequence & kLastLongEntryFlag) != 0) return found();
      if (entries >= kDeletedLongNameMaxEntries) return found();
    } else if ((sequence & kLastLongEntryFlag) != 0) {
      return found();
    }
    if (length > kLongNameMaxChars) return found();
  }
}

namespace {

// The characters refused below 0x80 as a set of bits: 0x01..0x1F and those of
// extra.
constexpr std::array<std::uint64_t, 2> refusedBits(std::string_view extra) {
  std::array<std::uint64_t, 2> bits{};
  for (unsigned c = 0x01; c <= 0x1F; ++c) bits[0] |= std::uint64_t{1} << c;
  for (char c : extra) bits[static_cast<unsigned char>(c) / 64] |= std::uint64_t{1} << (static_cast<unsigned char>(c) % 64);
  return bits;
}

bool passes(std::u16string_view name, const std::array<std::uint64_t, 2>& refused) {
  for (char16_t c : name)
    if (c < 0x80 && (refused[c / 64] >> (c % 64) & 1) != 0) return false;
  return true;
}

}  // namespace

bool isValidEntryName(std::u16string_view name) {
  static constexpr auto refused = refusedBits("\"\\/?*<>|");
  return passes(name, refused);
}

bool isListableEntryName(std::u16string_view name) {
  static constexpr auto refused = refusedBits("\"?*<>|");
  return passes(name, refused);
}

}  // namespace dravolin
