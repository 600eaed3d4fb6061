#pragma once
// MFT records ("FILE") and the update sequence that protects every 512-byte
// stride of a multi-sector structure (MFT records and index buffers).
#include <cstdint>
#include <optional>
#include <span>

#include "common/byte_reader.h"
#include "common/error.h"

namespace dravolin {

inline constexpr std::size_t kUpdateSequenceStride = 512;
inline constexpr std::uint16_t kMftRecordInUse = 0x0001;
inline constexpr std::uint16_t kMftRecordDirectory = 0x0002;

// A 48-bit record number with the 16-bit sequence number of the record it
// names; a reference whose sequence number no longer matches the record's
// own names a record that was reused since.
struct FileReference {
  std::uint64_t record_number = 0;
  std::uint16_t sequence_number = 0;

  static FileReference fromRaw(std::uint64_t raw) {
    return {raw & 0x0000FFFFFFFFFFFFull, static_cast<std::uint16_t>(raw >> 48)};
  }
  bool isZero() const { return record_number == 0 && sequence_number == 0; }
  friend bool operator==(const FileReference&, const FileReference&) = default;
};

struct UpdateSequenceOutcome {
  // Bytes from the start that can be trusted: the whole buffer, or, for a
  // torn structure, the strides before the first one whose end did not carry
  // the sequence number (at least the first stride).
  std::size_t usable_size = 0;
  bool torn = false;
};

// Applies the update sequence in place to every 512-byte stride that the
// array covers: each stride's last two bytes must hold the update sequence
// number and are replaced by their saved value. A stride whose end does not
// hold the number is torn (written half); it and everything after it are not
// patched and fall outside usable_size. NotFound when the array lies outside
// the first stride or the buffer, has fewer than two entries, or covers more
// strides than the buffer holds.
[[nodiscard]] Result<UpdateSequenceOutcome> applyUpdateSequence(std::span<std::byte> buffer);

struct MftRecordHeader {
  std::uint16_t update_sequence_offset = 0;
  std::uint16_t update_sequence_count = 0;
  std::uint64_t log_sequence_number = 0;
  std::uint16_t sequence_number = 0;
  std::uint16_t link_count = 0;
  std::uint16_t first_attribute_offset = 0;
  std::uint16_t flags = 0;
  std::uint32_t used_size = 0;
  std::uint32_t allocated_size = 0;
  FileReference base_reference;               // zero for a base record
  // The number the record carries (u32 at 0x2C) when its update sequence
  // array starts at 0x30 or later (every volume since Windows XP); none for
  // older records and for never-used records that carry 0 without being in use.
  std::optional<std::uint32_t> record_number;

  bool inUse() const { return (flags & kMftRecordInUse) != 0; }
  bool isDirectory() const { return (flags & kMftRecordDirectory) != 0; }
  // An extension record holds attributes of the base record it names; it is
  // not a file of its own.
  bool isExtension() const { return !base_reference.isZero(); }
};

// Whether a reference (sequence number reference_sequence) names a record
// that now carries sequence: the same number, or, for a freed record, the one
// below it (freeing raises the number by one, skipping 0). Extension records
// and the entries of a freed folder keep naming the number the record had
// while it was in use.
constexpr bool referenceNamesRecord(std::uint16_t reference_sequence, std::uint16_t sequence, bool in_use) {
  if (reference_sequence == sequence) return true;
  const auto raised = static_cast<std::uint16_t>(reference_sequence + 1);
  return !in_use && sequence == (raised == 0 ? 1 : raised);
}

// A record after its update sequence was applied; bytes is the usable part.
struct MftRecord {
  MftRecordHeader header;
  ByteSpan bytes;
  bool torn = false;
};

// Reads the header fields of a "FILE" record without touching the buffer.
// NotFound when the signature is missing or the first attribute lies outside
// the buffer.
[[nodiscard]] Result<MftRecordHeader> parseMftRecordHeader(ByteSpan record);

// Checks the "FILE" signature, applies the update sequence to every stride of
// the record in place and decodes the header. The returned view points into
// buffer, cut to its usable size (the first strides of a torn record).
// NotFound when the signature, the update sequence or the first-attribute
// offset is unusable.
[[nodiscard]] Result<MftRecord> readMftRecord(std::span<std::byte> buffer);

}  // namespace dravolin
