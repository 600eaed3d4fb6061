#include "ntfs/mft_record.h"

namespace dravolin {

Result<UpdateSequenceOutcome> applyUpdateSequence(std::span<std::byte> buffer) {
  const ByteSpan view(buffer);
  const std::size_t offset = readU16(view, 4);
  const std::size_t count = readU16(view, 6);
  if (buffer.size() < kUpdateSequenceStride || count < 2)
    return makeError(ErrorKind::NotFound, "update sequence: no array");
  // The array itself must lie in the first stride, before its protected end.
  if (!fitsIn(view, offset, 2 * count) || offset + 2 * count > kUpdateSequenceStride - 2)
    return makeError(ErrorKind::NotFound, "update sequence: array out of range");
  const std::size_t strides = count - 1;
  if (strides > buffer.size() / kUpdateSequenceStride)
    return makeError(ErrorKind::NotFound, "update sequence: array longer than the buffer");
  const std::uint16_t number = readU16(view, offset);
  UpdateSequenceOutcome outcome{strides * kUpdateSequenceStride, false};
  for (std::size_t i = 0; i < strides; ++i) {
    const std::size_t end = (i + 1) * kUpdateSequenceStride - 2;
    if (readU16(view, end) != number) {
      // Use what the strides before it hold; the first stride is always
      // taken (with its saved bytes) so a torn record still has a header.
      outcome.torn = true;
      outcome.usable_size = (i == 0 ? 1 : i) * kUpdateSequenceStride;
      if (i == 0) {
        buffer[end] = buffer[offset + 2];
        buffer[end + 1] = buffer[offset + 3];
      }
      break;
    }
    buffer[end] = buffer[offset + 2 + 2 * i];
    buffer[end + 1] = buffer[offset + 3 + 2 * i];
  }
  return outcome;
}

Result<MftRecordHeader> parseMftRecordHeader(ByteSpan record) {
  if (!matchesAscii(record, 0, "FILE")) return makeError(ErrorKind::NotFound, "not an MFT record");
  if (record.size() < 48) return makeError(ErrorKind::NotFound, "MFT record too short");
  MftRecordHeader header;
  header.update_sequence_offset = readU16(record, 4);
  header.update_sequence_count = readU16(record, 6);
  header.log_sequence_number = readU64(record, 8);
  header.sequence_number = readU16(record, 16);
  header.link_count = readU16(record, 18);
  header.first_attribute_offset = readU16(record, 20);
  header.flags = readU16(record, 22);
  header.used_size = readU32(record, 24);
  header.allocated_size = readU32(record, 28);
  header.base_reference = FileReference::fromRaw(readU64(record, 32));
  // Records since Windows XP carry their own number at 0x2C, just before the
  // update sequence array at 0x30; older ones have their array at 0x2A.
  // A record formatted but never used (mkntfs writes records 16 to 23 so)
  // carries 0 there; only $MFT itself, always in use, has number 0.
  if (header.update_sequence_offset >= 0x30) {
    const std::uint32_t number = readU32(record, 0x2C);
    if (number != 0 || header.inUse()) header.record_number = number;
  }
  if (header.first_attribute_offset < 0x2A || header.first_attribute_offset >= record.size())
    return makeError(ErrorKind::NotFound, "MFT record: first attribute out of range");
  return header;
}

Result<MftRecord> readMftRecord(std::span<std::byte> buffer) {
  if (!matchesAscii(ByteSpan(buffer), 0, "FILE")) return makeError(ErrorKind::NotFound, "not an MFT record");
  auto fixed = applyUpdateSequence(buffer);
  if (!fixed) return std::unexpected(fixed.error());
  const ByteSpan usable = ByteSpan(buffer).first(fixed->usable_size);
  auto header = parseMftRecordHeader(usable);
  if (!header) return std::unexpected(header.error());
  return MftRecord{*header, usable, fixed->torn};
}

}  // namespace dravolin
