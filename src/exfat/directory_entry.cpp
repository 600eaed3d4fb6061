#include "exfat/directory_entry.h"

#include <algorithm>

namespace dravolin {
namespace {

// Days from 1970-01-01 of a civil date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

ExfatTimestamp timestampAt(ByteSpan entry, std::size_t packed, std::optional<std::size_t> increment,
                           std::size_t offset) {
  ExfatTimestamp t;
  t.packed = readU32(entry, packed);
  t.increment10ms = increment ? readU8(entry, *increment) : 0;
  t.utcOffset = readU8(entry, offset);
  return t;
}

}  // namespace

std::uint64_t exfatTimestampToFileTime(const ExfatTimestamp& time) {
  const std::uint32_t p = time.packed;
  const unsigned seconds = (p & 0x1F) * 2;
  const unsigned minutes = (p >> 5) & 0x3F;
  const unsigned hours = (p >> 11) & 0x1F;
  const unsigned day = (p >> 16) & 0x1F;
  const unsigned month = (p >> 21) & 0x0F;
  const unsigned year = 1980 + (p >> 25);
  if (day == 0 || month == 0 || month > 12 || hours > 23 || minutes > 59 || seconds > 59) return 0;
  std::int64_t unixSeconds = daysFromCivil(year, month, day) * 86400 + hours * 3600 + minutes * 60 + seconds;
  if (time.utcOffset & 0x80) {
    // Seven-bit two's complement, in 15-minute steps east of UTC.
    int steps = time.utcOffset & 0x7F;
    if (steps >= 64) steps -= 128;
    unixSeconds -= static_cast<std::int64_t>(steps) * 15 * 60;
  }
  const std::uint64_t centiseconds = std::min<std::uint8_t>(time.increment10ms, 199);
  constexpr std::int64_t kEpochDifference = 11644473600LL;
  const std::int64_t since1601 = unixSeconds + kEpochDifference;
  if (since1601 <= 0) return 0;
  return static_cast<std::uint64_t>(since1601) * 10000000ULL + centiseconds * 100000ULL;
}

std::uint16_t exfatSetChecksum(ByteSpan entries) {
  std::uint16_t checksum = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i == kFileSetChecksum || i == kFileSetChecksum + 1) continue;
    std::uint8_t byte = static_cast<std::uint8_t>(entries[i]);
    if (i % kExfatEntrySize == 0) byte |= kExfatInUse;
    checksum = static_cast<std::uint16_t>(((checksum & 1) ? 0x8000 : 0) + (checksum >> 1) + byte);
  }
  return checksum;
}

EntrySetOutcome decodeExfatEntrySet(ByteSpan directory, std::size_t offset) {
  EntrySetOutcome out;
  if (!fitsIn(directory, offset, kExfatEntrySize)) {
    out.fault = EntrySetFault::Truncated;
    return out;
  }
  const ByteSpan file = directory.subspan(offset, kExfatEntrySize);
  const std::uint8_t type = readU8(file, 0);
  if ((type | kExfatInUse) != kExfatFileEntry) {
    out.fault = EntrySetFault::NotAFileEntry;
    return out;
  }
  const bool inUse = (type & kExfatInUse) != 0;
  const std::size_t secondaries = readU8(file, kFileSecondaryCount);
  // A stream and at least one name; a name of 255 units needs 17 entries.
  if (secondaries < 2 || secondaries > 18) {
    out.fault = EntrySetFault::BadSecondaryCount;
    return out;
  }
  const std::size_t length = (secondaries + 1) * kExfatEntrySize;
  if (!fitsIn(directory, offset, length)) {
    out.fault = EntrySetFault::Truncated;
    return out;
  }
  const ByteSpan set = directory.subspan(offset, length);
  const std::uint8_t stateBit = inUse ? kExfatInUse : 0;
  const ByteSpan stream = set.subspan(kExfatEntrySize, kExfatEntrySize);
  if (readU8(stream, 0) != ((kExfatStreamEntry & ~kExfatInUse) | stateBit)) {
    out.fault = EntrySetFault::BadStream;
    return out;
  }
  const std::size_t nameLength = readU8(stream, kStreamNameLength);
  const std::size_t nameEntries = secondaries - 1;
  if (nameLength == 0 || (nameLength + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry > nameEntries) {
    out.fault = EntrySetFault::BadName;
    return out;
  }
  ExfatEntrySet result;
  result.name.reserve(nameLength);
  for (std::size_t e = 0; e < nameEntries && result.name.size() < nameLength; ++e) {
    const ByteSpan entry = set.subspan((e + 2) * kExfatEntrySize, kExfatEntrySize);
    if (readU8(entry, 0) != ((kExfatNameEntry & ~kExfatInUse) | stateBit)) {
      out.fault = EntrySetFault::BadName;
      return out;
    }
    for (std::size_t u = 0; u < kNameUnitsPerEntry && result.name.size() < nameLength; ++u)
      result.name.push_back(static_cast<char16_t>(readU16(entry, kNameCharacters + 2 * u)));
  }
  if (exfatSetChecksum(set) != readU16(file, kFileSetChecksum)) {
    out.fault = EntrySetFault::BadChecksum;
    return out;
  }
  result.inUse = inUse;
  result.attributes = readU16(file, kFileAttributes);
  result.directory = (result.attributes & kExfatDirectoryAttribute) != 0;
  result.noFatChain = (readU8(stream, kStreamFlags) & kStreamNoFatChain) != 0;
  result.validDataLength = readU64(stream, kStreamValidDataLength);
  result.firstCluster = readU32(stream, kStreamFirstCluster);
  result.dataLength = readU64(stream, kStreamDataLength);
  result.created = timestampAt(file, kFileCreateTimestamp, kFileCreate10ms, kFileCreateUtcOffset);
  result.modified = timestampAt(file, kFileModifiedTimestamp, kFileModified10ms, kFileModifiedUtcOffset);
  result.accessed = timestampAt(file, kFileAccessedTimestamp, std::nullopt, kFileAccessedUtcOffset);
  result.entries = secondaries + 1;
  out.set = std::move(result);
  return out;
}

std::u16string decodeExfatVolumeLabel(ByteSpan entry) {
  std::u16string label;
  const std::size_t count = std::min<std::size_t>(readU8(entry, kLabelLength), 11);
  for (std::size_t i = 0; i < count; ++i) label.push_back(static_cast<char16_t>(readU16(entry, kLabelCharacters + 2 * i)));
  return label;
}

}  // namespace dravolin
