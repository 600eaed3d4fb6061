#pragma once
// Hand-built NTFS structures for the reader tests: an MFT record or an index
// buffer assembled field by field, its update sequence applied as NTFS writes
// it (the saved stride ends in the array, the sequence number at each end).
#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_reader.h"

namespace dravolin::test {

using Bytes = std::vector<std::byte>;

inline void put(Bytes& b, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) b.at(at + i) = std::byte((value >> (8 * i)) & 0xFF);
}

inline Bytes bytesOf(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(std::byte(v));
  return b;
}

// Resident attribute: header of 24 bytes (name after it), value 8-aligned.
inline Bytes residentAttribute(std::uint32_t type, const Bytes& value, std::u16string name = {}) {
  const std::size_t value_offset = (24 + 2 * name.size() + 7) / 8 * 8;
  Bytes a((value_offset + value.size() + 7) / 8 * 8);
  put(a, 0, type, 4);
  put(a, 4, a.size(), 4);
  put(a, 9, name.size(), 1);
  put(a, 10, 24, 2);
  for (std::size_t i = 0; i < name.size(); ++i) put(a, 24 + 2 * i, name[i], 2);
  put(a, 16, value.size(), 4);
  put(a, 20, value_offset, 2);
  std::copy(value.begin(), value.end(), a.begin() + value_offset);
  return a;
}

// Non-resident attribute: header of 64 bytes, runs after it.
inline Bytes nonResidentAttribute(std::uint32_t type, const Bytes& runs, std::uint64_t data_size,
                                  std::uint64_t first_vcn = 0, std::uint16_t flags = 0,
                                  std::uint64_t initialized_size = UINT64_MAX) {
  Bytes a((64 + runs.size() + 1 + 7) / 8 * 8);
  put(a, 0, type, 4);
  put(a, 4, a.size(), 4);
  put(a, 8, 1, 1);
  put(a, 12, flags, 2);
  put(a, 16, first_vcn, 8);
  put(a, 32, 64, 2);
  if (flags & 1) put(a, 34, 4, 1);
  put(a, 40, (data_size + 4095) / 4096 * 4096, 8);
  put(a, 48, data_size, 8);
  put(a, 56, initialized_size == UINT64_MAX ? data_size : initialized_size, 8);
  std::copy(runs.begin(), runs.end(), a.begin() + 64);
  return a;
}

inline Bytes fileNameValue(std::uint64_t parent, std::uint16_t parent_sequence, const std::u16string& name,
                           int name_space, std::uint64_t size = 0) {
  Bytes v(66 + 2 * name.size());
  put(v, 0, parent | (std::uint64_t{parent_sequence} << 48), 8);
  put(v, 8, 0x01D0000000000001ull, 8);
  put(v, 48, size, 8);
  put(v, 64, name.size(), 1);
  put(v, 65, name_space, 1);
  for (std::size_t i = 0; i < name.size(); ++i) put(v, 66 + 2 * i, name[i], 2);
  return v;
}

// Applies the update sequence the way NTFS writes a structure: each stride's
// last two bytes go to the array, the sequence number takes their place.
inline void protectStrides(Bytes& b, std::size_t array_offset, std::uint16_t number) {
  const std::size_t strides = b.size() / 512;
  put(b, 4, array_offset, 2);
  put(b, 6, strides + 1, 2);
  put(b, array_offset, number, 2);
  for (std::size_t i = 0; i < strides; ++i) {
    b[array_offset + 2 + 2 * i] = b[512 * i + 510];
    b[array_offset + 3 + 2 * i] = b[512 * i + 511];
    put(b, 512 * i + 510, number, 2);
  }
}

// A "FILE" record of size bytes (update sequence array at 0x30, number at
// 0x2C, attributes right after the array) holding the attributes given; not yet
// protected (call protectStrides(record, 0x30, n)).
inline Bytes mftRecord(std::uint32_t number, std::uint16_t flags, const std::vector<Bytes>& attributes,
                       std::uint64_t base_reference = 0, std::size_t size = 1024, std::uint16_t sequence = 1) {
  Bytes r(size);
  r[0] = std::byte('F'); r[1] = std::byte('I'); r[2] = std::byte('L'); r[3] = std::byte('E');
  put(r, 16, sequence, 2);
  const std::size_t first = (0x30 + 2 * (size / 512 + 1) + 7) / 8 * 8;
  put(r, 20, first, 2);
  put(r, 22, flags, 2);
  put(r, 28, size, 4);
  put(r, 32, base_reference, 8);
  put(r, 0x2C, number, 4);
  std::size_t at = first;
  for (const auto& a : attributes) {
    std::copy(a.begin(), a.end(), r.begin() + at);
    at += a.size();
  }
  put(r, at, 0xFFFFFFFF, 4);
  put(r, 24, at + 8, 4);
  return r;
}

}  // namespace dravolin::test
