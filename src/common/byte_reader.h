#pragma once
// Little-endian field readers over untrusted buffers. Every read checks the
// offset against the span in an overflow-safe way. readU8 .. readU64 yield 0
// when the field lies outside it, so a truncated structure parses as empty;
// fieldU8 .. fieldU64 yield nothing there, for readers that must tell a
// missing field from a field that is 0.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace dravolin {

using ByteSpan = std::span<const std::byte>;

inline bool fitsIn(ByteSpan data, std::size_t offset, std::size_t length) {
  return offset <= data.size() && length <= data.size() - offset;
}

inline std::uint8_t readU8(ByteSpan data, std::size_t offset) {
  return fitsIn(data, offset, 1) ? static_cast<std::uint8_t>(data[offset]) : 0;
}

inline std::uint16_t readU16(ByteSpan data, std::size_t offset) {
  if (!fitsIn(data, offset, 2)) return 0;
  return static_cast<std::uint16_t>(readU8(data, offset) | (readU8(data, offset + 1) << 8));
}

inline std::uint32_t readU32(ByteSpan data, std::size_t offset) {
  if (!fitsIn(data, offset, 4)) return 0;
  return static_cast<std::uint32_t>(readU16(data, offset)) |
         (static_cast<std::uint32_t>(readU16(data, offset + 2)) << 16);
}

inline std::uint64_t readU64(ByteSpan data, std::size_t offset) {
  if (!fitsIn(data, offset, 8)) return 0;
  return static_cast<std::uint64_t>(readU32(data, offset)) |
         (static_cast<std::uint64_t>(readU32(data, offset + 4)) << 32);
}

inline std::optional<std::uint8_t> fieldU8(ByteSpan data, std::size_t offset) {
  if (!fitsIn(data, offset, 1)) return std::nullopt;
  return readU8(data, offset);
}

inline std::optional<std::uint16_t> fieldU16(ByteSpan data, std::size_t offset) {
  if (!fitsIn(data, offset, 2)) return std::nullopt;
  return readU16(data, offset);
}

inline std::optional<std::uint32_t> fieldU32(ByteSpan data, std::size_t offset) {
  if (!fitsIn(data, offset, 4)) return std::nullopt;
  return readU32(data, offset);
}

inline std::optional<std::uint64_t> fieldU64(ByteSpan data, std::size_t offset) {
  if (!fitsIn(data, offset, 8)) return std::nullopt;
  return readU64(data, offset);
}

// True when the bytes at offset equal the ASCII text exactly.
inline bool matchesAscii(ByteSpan data, std::size_t offset, std::string_view text) {
  if (!fitsIn(data, offset, text.size())) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (static_cast<char>(data[offset + i]) != text[i]) return false;
  return true;
}

inline void writeU16(std::span<std::byte> data, std::size_t offset, std::uint16_t value) {
  if (offset > data.size() || data.size() - offset < 2) return;
  data[offset] = std::byte(value & 0xFF);
  data[offset + 1] = std::byte(value >> 8);
}

inline void writeU32(std::span<std::byte> data, std::size_t offset, std::uint32_t value) {
  writeU16(data, offset, static_cast<std::uint16_t>(value & 0xFFFF));
  writeU16(data, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

}  // namespace dravolin
