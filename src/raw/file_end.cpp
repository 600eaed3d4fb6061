#include "raw/file_end.h"

#include <array>
#include <cstring>
#include <string.h>  // memmem
#include <vector>

namespace dravolin {
namespace {

std::vector<std::byte> utf16le(std::string_view ascii) {
  std::vector<std::byte> out;
  out.reserve(ascii.size() * 2);
  for (char c : ascii) {
    out.push_back(static_cast<std::byte>(c));
    out.push_back(std::byte{0});
  }
  return out;
}

struct StreamName {
  std::vector<std::byte> text;
  const char* type;
};

const std::vector<std::byte>& rootEntry() {
  static const std::vector<std::byte> text = utf16le("Root Entry");
  return text;
}

const std::array<StreamName, 4>& streamNames() {
  static const std::array<StreamName, 4> names = {{{utf16le("WordDocument"), "DOC"},
                                                   {utf16le("Workbook"), "XLS"},
                                                   {utf16le("PowerPoint Document"), "PPT"},
                                                   {utf16le("PageMaker"), "PMD"}}};
  return names;
}

bool startsWith(ByteSpan data, std::size_t offset, std::span<const std::byte> text) {
  return fitsIn(data, offset, text.size()) && std::memcmp(data.data() + offset, text.data(), text.size()) == 0;
}

FileEnd numbered(ExtensionEntry& entry, std::uint64_t sizeSectors, std::string name) {
  FileEnd end{sizeSectors, std::move(name), entry.FileCounter};
  entry.FileCounter += 1;
  return end;
}

}  // namespace

const std::byte* findSignature(ByteSpan haystack, std::span<const std::byte> signature) {
  if (signature.empty()) return haystack.data();
  if (haystack.size() < signature.size()) return nullptr;
  const std::byte* p = haystack.data();
  const std::byte* last = haystack.data() + (haystack.size() - signature.size());  // last start position
  const int first = std::to_integer<int>(signature[0]);
  // A first byte that is rare in the data lets memchr run ahead; when it
  // keeps stopping at false starts (zeros in zeros), the general search
  // takes over.
  std::size_t falseStarts = 0;
  while (p <= last) {
    const void* hit = std::memchr(p, first, static_cast<std::size_t>(last - p) + 1);
    if (!hit) return nullptr;
    p = static_cast<const std::byte*>(hit);
    if (std::memcmp(p + 1, signature.data() + 1, signature.size() - 1) == 0) return p;
    ++p;
    if (++falseStarts >= 32 && static_cast<std::size_t>(p - haystack.data()) < falseStarts * 64) {
      const void* found = memmem(p, static_cast<std::size_t>(haystack.data() + haystack.size() - p), signature.data(),
                                 signature.size());
      return static_cast<const std::byte*>(found);
    }
  }
  return nullptr;
}

std::optional<std::string> compoundDirectoryType(ByteSpan view) {
  if (!startsWith(view, 0, rootEntry())) return std::nullopt;
  for (std::size_t p = 0; p < kSectorSize; ++p)
    for (const auto& name : streamNames())
      if (startsWith(view, p, name.text)) return std::string(name.type);
  return std::nullopt;
}

int findInSector(ByteSpan view, std::span<const std::byte> signature) {
  if (signature.empty() || view.empty()) return signature.empty() && !view.empty() ? 0 : -1;
  // Start positions 0..511: the compared bytes end at most len - 1 bytes
  // into the following sector.
  const std::size_t limit = std::min(view.size(), kSectorSize - 1 + signature.size());
  const std::byte* hit = findSignature(view.first(limit), signature);
  if (!hit) return -1;
  return static_cast<int>(hit - view.data());
}

std::optional<std::int64_t> lookAheadDatabaseEnd(SectorNumber a, SectorNumber partitionEnd,
                                                 std::span<const std::byte> header, std::byte pageMarker,
                                                 const SectorGroupReader& read) {
  if (a >= partitionEnd) return std::nullopt;
  std::array<std::byte, 8 * kSectorSize> group{};
  std::optional<std::int64_t> remembered;
  // Every round starts after the sector remembered in the round before, so
  // the walk moves forward and ends at the selection end at the latest.
  for (;;) {
    read(a, group);
    bool marked = false;
    for (std::size_t i = 0; i < 8; ++i) {
      ByteSpan sector(group.data() + i * kSectorSize, kSectorSize);
      if (startsWith(sector, 0, header)) return static_cast<std::int64_t>(a + i) - 2;
      if (sector[1] == pageMarker) {
        remembered = static_cast<std::int64_t>(a + i);
        marked = true;
      }
    }
    if (!marked || static_cast<std::uint64_t>(*remembered) + 9 > partitionEnd) return remembered;
    a = static_cast<SectorNumber>(*remembered) + 1;
  }
}

std::uint64_t readSizeField(const ExtensionEntry& entry, ByteSpan headerSector) {
  if (entry.sizeOffset < 0 || entry.sizeLength <= 0 || entry.sizeLength > 8) return 0;
  const auto offset = static_cast<std::size_t>(entry.sizeOffset);
  const auto length = static_cast<std::size_t>(entry.sizeLength);
  if (!fitsIn(headerSector, offset, length)) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < length; ++i) value |= std::uint64_t{readU8(headerSector, offset + i)} << (8 * i);
  return value;
}

int FindFileEnd(ExtensionEntry& entry, ByteSpan headerSector, ByteSpan view, SectorNumber b, SectorNumber d,
                CompoundState& compound, FileEnd& out, const DatabaseLookAhead& databaseLookAhead) {
  const std::uint64_t spanned = d - b;  // sectors from the header to this one, less one
  if (!entry.hasSizeField()) {
    for (const SignatureRecord& sig : entry.ends) {
      if (sig.offset == kAnyOffset) {
        if (entry.compound && compound.CompoundStreamType.empty())
          if (auto type = compoundDirectoryType(view)) compound.CompoundStreamType = *type;
        // A compound end signature counts only for the sub-type the
        // directory named, so the others need not be looked for.
        if (entry.compound && compound.CompoundStreamType != sig.name) continue;
        if (findInSector(view, sig.bytes) < 0) continue;
        if (entry.compound) {
          compound.subTypeSeen = true;
          if (sig.selected) compound.subTypeSelected = true;
        }
        out = numbered(entry, spanned + 1 + entry.sectorsPastEnd, sig.name);
        return kEndFound;
      }
      if (sig.offset >= 0 && startsWith(view.first(std::min(view.size(), kSectorSize)),
                                        static_cast<std::size_t>(sig.offset), sig.bytes)) {
        out = numbered(entry, spanned + 2, entry.name);
        return kEndFound;
      }
    }
    if (entry.usesPageLookAhead() && databaseLookAhead) {
      std::optional<std::int64_t> last = databaseLookAhead(d + 1);
      if (!last) return kEndRejected;
      const std::int64_t size = *last - static_cast<std::int64_t>(b) + 2;
      if (size < 1) return kEndRejected;
      out = numbered(entry, static_cast<std::uint64_t>(size), entry.name);
      return kEndFound;
    }
    return kEndNotYet;
  }
  const std::uint64_t limit = entry.MaxFileBytes;
  switch (entry.sizeRule) {
    case SizeRule::FixedSize:
      out = numbered(entry, limit / kSectorSize + 2, entry.name);
      return kEndFound;
    case SizeRule::RejectOutOfRange: {
      const std::uint64_t value = readSizeField(entry, headerSector);
      if (value < 1 || value > limit) return kEndRejected;
      out = numbered(entry, value / kSectorSize + 2, entry.name);
      return kEndFound;
    }
    case SizeRule::CutToLimit:
    case SizeRule::None: {
      std::uint64_t value = readSizeField(entry, headerSector);
      if (value < 1) return kEndNotYet;
      if (value > limit) value = limit;
      out = numbered(entry, value / kSectorSize + 2, entry.name);
      return kEndFound;
    }
  }
  return kEndNotYet;
}

}  // namespace dravolin
