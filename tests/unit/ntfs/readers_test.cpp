// The NTFS structure readers on hand-built records: the fields they decode,
// and one damaged copy per failure, each of which must end in "not found" or
// an empty list without crashing or looping.
#include <gtest/gtest.h>

#include <functional>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/boot_sector.h"
#include "ntfs/data_runs.h"
#include "ntfs/data_stream.h"
#include "ntfs/file_name.h"
#include "ntfs/index_buffer.h"
#include "ntfs/mft_record.h"
#include "ntfs/standard_information.h"
#include "ntfs_test_support.h"

namespace dravolin::test {
namespace {

constexpr std::uint32_t kData = 0x80;

// Record 42, a file in folder 5 named by a 200-character Win32 name, so that
// the name runs across the end of the first stride (bytes 510-511), followed
// by a non-resident $DATA of 3 clusters at cluster 0x20.
Bytes sampleRecord(std::size_t size = 1024) {
  std::u16string long_name(200, u'x');
  long_name[0] = u'A';
  long_name[199] = u'Z';
  Bytes si(48);
  put(si, 0, 111, 8);
  put(si, 8, 222, 8);
  put(si, 24, 444, 8);
  return mftRecord(42, kMftRecordInUse,
                   {residentAttribute(0x10, si), residentAttribute(0x30, fileNameValue(5, 5, long_name, 1)),
                    nonResidentAttribute(kData, bytesOf({0x11, 0x03, 0x20, 0x00}), 3 * 4096 - 100)},
                   0, size);
}

MftRecord mustRead(Bytes& bytes) {
  auto record = readMftRecord(bytes);
  EXPECT_TRUE(record.has_value()) << (record ? "" : record.error().message);
  return record.value_or(MftRecord{});
}

TEST(MftRecordTest, UpdateSequenceRestoresEveryStrideAndTheFieldsDecode) {
  for (std::size_t size : {1024u, 4096u}) {
    SCOPED_TRACE(size);
    Bytes bytes = sampleRecord(size);
    const Bytes original = bytes;
    protectStrides(bytes, 0x30, 0x0777);
    MftRecord record = mustRead(bytes);
    EXPECT_FALSE(record.torn);
    EXPECT_EQ(record.bytes.size(), size);
    EXPECT_TRUE(std::equal(bytes.begin() + 0x38, bytes.end(), original.begin() + 0x38))
        << "every stride end, the last one included, carries its saved bytes again";
    EXPECT_EQ(record.header.record_number, 42u);
    EXPECT_TRUE(record.header.inUse());
    EXPECT_FALSE(record.header.isDirectory());
    EXPECT_FALSE(record.header.isExtension());
    auto name = readBestFileName(record);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->name.size(), 200u);
    EXPECT_EQ(name->name.front(), u'A');
    EXPECT_EQ(name->name.back(), u'Z');
    EXPECT_EQ(name->parent, (FileReference{5, 5}));
    auto info = readStandardInformation(record);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->creation_time, 111u);
    EXPECT_EQ(info->modification_time, 222u);
    EXPECT_EQ(info->access_time, 444u);
    auto data = findAttribute(record, AttributeType::Data);
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->non_resident);
    EXPECT_EQ(data->data_size, 3u * 4096 - 100);
  }
}

TEST(MftRecordTest, RecordNumberOnlyWhenTheArrayStartsAt0x30OrLater) {
  Bytes bytes = sampleRecord();
  protectStrides(bytes, 0x2A, 1);  // layout of records before Windows XP
  put(bytes, 20, 0x38, 2);
  EXPECT_FALSE(mustRead(bytes).header.record_number.has_value());
}

// One damaged copy per failure of the record, attribute and run readers.
struct RecordDamage {
  const char* name;
  std::function<void(Bytes&)> damage;  // applied after the update sequence
  std::function<void(Bytes&)> check;
};

TEST(MftRecordTest, DamagedCopiesAreNotFoundAndNeverCrash) {
  // The $DATA attribute starts at 0x38 + 48 + 24 (SI) + the file name attribute.
  const std::size_t data_at = 0x38 + 72 + (24 + 66 + 400 + 7) / 8 * 8;
  const std::vector<RecordDamage> cases = {
      {"first attribute offset past the record", [](Bytes& b) { put(b, 20, 0x2000, 2); },
       [](Bytes& b) { EXPECT_FALSE(readMftRecord(b)); }},
      {"update sequence array past the first stride", [](Bytes& b) { put(b, 4, 0x1FC, 2); },
       [](Bytes& b) { EXPECT_FALSE(readMftRecord(b)); }},
      {"update sequence count of 0", [](Bytes& b) { put(b, 6, 0, 2); },
       [](Bytes& b) { EXPECT_FALSE(readMftRecord(b)); }},
      {"attribute length 0", [](Bytes& b) { put(b, 0x38 + 4, 0, 4); },
       [](Bytes& b) {
         MftRecord r = mustRead(b);
         EXPECT_FALSE(findAttribute(r, AttributeType::Data));
         EXPECT_FALSE(readBestFileName(r));
         auto walk = walkAttributes(r);
         EXPECT_TRUE(walk.damaged);
         EXPECT_TRUE(walk.attributes.empty());
       }},
      {"attribute length past the record", [](Bytes& b) { put(b, 0x38 + 4, 0x7FFFFFF8, 4); },
       [](Bytes& b) { EXPECT_FALSE(findAttribute(mustRead(b), AttributeType::Data)); }},
      {"resident value offset past the attribute", [](Bytes& b) { put(b, 0x38 + 20, 0xFFF0, 2); },
       [](Bytes& b) { EXPECT_FALSE(readStandardInformation(mustRead(b))); }},
      {"file name length past the attribute", [](Bytes& b) { put(b, 0x38 + 72 + 24 + 64, 255, 1); },
       [](Bytes& b) { EXPECT_FALSE(readBestFileName(mustRead(b))); }},
      {"runs offset past the attribute", [data_at](Bytes& b) { put(b, data_at + 32, 0x400, 2); },
       [](Bytes& b) { EXPECT_FALSE(findAttribute(mustRead(b), AttributeType::Data)); }},
      {"torn record: the second stride lacks the sequence number", [](Bytes& b) { put(b, 1022, 0x1234, 2); },
       [](Bytes& b) {
         MftRecord r = mustRead(b);
         EXPECT_TRUE(r.torn);
         EXPECT_EQ(r.bytes.size(), 512u) << "only the first stride is used";
         EXPECT_EQ(b[1022], std::byte(0x34)) << "the torn stride is not patched";
         EXPECT_FALSE(readBestFileName(r)) << "the name crosses into the torn stride";
         EXPECT_TRUE(readStandardInformation(r)) << "what the first stride holds stays readable";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = sampleRecord();
    protectStrides(bytes, 0x30, 0x0102);
    c.damage(bytes);
    c.check(bytes);
  }
}

TEST(FileNameTest, NamespacesAreChosenWin32ThenWin32AndDosThenPosixThenDos) {
  struct Case {
    std::vector<int> namespaces;  // in record order
    int chosen;
  };
  const std::vector<Case> cases = {
      {{2}, 2}, {{2, 1}, 1}, {{3, 2}, 3}, {{2, 0}, 0}, {{0, 3}, 3}, {{0, 2, 1, 3}, 1},
  };
  for (const auto& c : cases) {
    std::vector<Bytes> attributes;
    for (int ns : c.namespaces)
      attributes.push_back(residentAttribute(0x30, fileNameValue(5, 5, u"n" + std::u16string(1, char16_t(u'0' + ns)), ns)));
    Bytes bytes = mftRecord(7, kMftRecordInUse, attributes);
    protectStrides(bytes, 0x30, 9);
    auto name = readBestFileName(mustRead(bytes));
    ASSERT_TRUE(name);
    EXPECT_EQ(static_cast<int>(name->name_space), c.chosen);
    EXPECT_EQ(name->name[1], char16_t(u'0' + c.chosen));
  }
}

TEST(DataRunsTest, DecodesOrRejectsEachRunShape) {
  struct Case {
    const char* name;
    Bytes runs;
    bool ok;
    std::vector<DataRun> expected;
  };
  const std::vector<Case> cases = {
      {"one run", bytesOf({0x11, 0x04, 0x20, 0x00}), true, {{0, 0x20, 4, false}}},
      {"no terminator: the attribute's end ends the list", bytesOf({0x11, 0x04, 0x20}), true, {{0, 0x20, 4, false}}},
      {"negative offset after a run", bytesOf({0x21, 0x02, 0x00, 0x02, 0x21, 0x01, 0xFF, 0xFE, 0x00}), true,
       {{0, 0x200, 2, false}, {2, 0x200 - 257, 1, false}}},
      {"sparse run keeps the current cluster", bytesOf({0x11, 0x02, 0x10, 0x01, 0x05, 0x11, 0x01, 0x03, 0x00}), true,
       {{0, 0x10, 2, false}, {2, 0, 5, true}, {7, 0x13, 1, false}}},
      {"sparse first run, then a positive offset", bytesOf({0x01, 0x10, 0x11, 0x01, 0x30, 0x00}), true,
       {{0, 0, 16, true}, {16, 0x30, 1, false}}},
      {"offsets of 8 bytes", bytesOf({0x81, 0x01, 0, 0, 0, 0, 1, 0, 0, 0, 0x00}), true,
       {{0, 0x100000000ull, 1, false}}},
      {"length field of 9 bytes", bytesOf({0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0x00}), false, {}},
      {"negative offset before the first run", bytesOf({0x11, 0x01, 0xFF, 0x00}), false, {}},
      {"offset field past the attribute", bytesOf({0x31, 0x01, 0x20}), false, {}},
      {"length of 0", bytesOf({0x11, 0x00, 0x20, 0x00}), false, {}},
      {"length field 0 bytes", bytesOf({0x10, 0x20, 0x00}), false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto runs = decodeDataRuns(c.runs);
    ASSERT_EQ(runs.has_value(), c.ok);
    if (c.ok) {
      EXPECT_EQ(*runs, c.expected);
    }
  }
  // No cap on the number of runs: 5,000 runs of one cluster each decode whole.
  Bytes many;
  for (int i = 0; i < 5000; ++i) {
    const Bytes run = bytesOf({0x11, 0x01, 0x02});
    many.insert(many.end(), run.begin(), run.end());
  }
  many.push_back(std::byte{0});
  auto runs = decodeDataRuns(many, 7);
  ASSERT_TRUE(runs);
  ASSERT_EQ(runs->size(), 5000u);
  EXPECT_EQ(runs->back(), (DataRun{7 + 4999, 2 * 5000, 1, false}));
}

// A malformed run after good ones ends the list there: the runs before it
// are kept, the stream is incomplete and saved as far as they reach.
TEST(DataRunsTest, DamageAfterGoodRunsKeepsTheRunsBeforeIt) {
  struct Case {
    const char* name;
    Bytes runs;
    std::vector<DataRun> kept;
  };
  const std::vector<Case> cases = {
      {"field of 9 bytes after two runs", bytesOf({0x11, 0x02, 0x20, 0x11, 0x03, 0x10, 0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 5}),
       {{0, 0x20, 2, false}, {2, 0x30, 3, false}}},
      {"length of 0 after a run", bytesOf({0x11, 0x04, 0x20, 0x11, 0x00, 0x05, 0x00}), {{0, 0x20, 4, false}}},
      {"offset below cluster 0 after a run", bytesOf({0x11, 0x04, 0x20, 0x11, 0x01, 0x80, 0x00}), {{0, 0x20, 4, false}}},
      {"offset field of 9 bytes after a sparse run", bytesOf({0x11, 0x04, 0x20, 0x01, 0x03, 0x91, 0x01, 0x30}),
       {{0, 0x20, 4, false}, {4, 0, 3, true}}},
      {"damage in the first run", bytesOf({0x10, 0x04, 0x20, 0x11, 0x01, 0x30}), {}},
  };
  const FetchRecord none = [](std::uint64_t) -> std::optional<std::vector<std::byte>> { return std::nullopt; };
  const ReadClusters zeros = [](std::uint64_t, std::uint64_t, std::span<std::byte> out) {
    std::fill(out.begin(), out.end(), std::byte{0});
    return true;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(decodeDataRuns(c.runs));
    const DecodedRuns decoded = decodeDataRunsUpToDamage(c.runs);
    EXPECT_NE(decoded.damage, nullptr);
    EXPECT_EQ(decoded.runs, c.kept);
    // The file of 16 clusters of 4 KiB these runs start.
    Bytes bytes = mftRecord(42, kMftRecordInUse, {nonResidentAttribute(kData, c.runs, 16 * 4096)});
    protectStrides(bytes, 0x30, 1);
    auto stream = collectDataStream(mustRead(bytes), 42, 4096, none, zeros);
    ASSERT_TRUE(stream) << stream.error().message;
    EXPECT_FALSE(stream->complete);
    EXPECT_TRUE(stream->runs_damaged);
    EXPECT_EQ(stream->runs, c.kept);
    EXPECT_EQ(savableLength(*stream, 4096), totalClusters(c.kept) * 4096);
  }
}

// Values derived from a non-resident header are checked once, in the
// decoder: an illegal one makes the attribute Corrupt, naming the field's
// offset and value, and never reaches the saving of the stream.
TEST(AttributeTest, DerivedValuesOutsideTheirLegalRangesAreCorrupt) {
  struct Case {
    const char* name;
    int shift;
    std::uint64_t data_size;
    std::uint64_t valid_size;
    const char* corrupt;  // the message, nullptr when the attribute decodes
  };
  const std::vector<Case> cases = {
      {"no compression unit", 0, 3000, 3000, nullptr},
      {"compression unit of 16 clusters", 4, 3000, 3000, nullptr},
      {"valid data size below the data size", 0, 3000, 1000, nullptr},
      {"shift of 64", 64, 3000, 3000, "offset 0x22: compression unit shift 64"},
      {"shift of 255", 255, 3000, 3000, "offset 0x22: compression unit shift 255"},
      {"shift of 1", 1, 3000, 3000, "offset 0x22: compression unit shift 1"},
      {"valid data size above the data size", 0, 3000, 3001,
       "offset 0x38: valid data size 3001 above data size 3000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = nonResidentAttribute(kData, bytesOf({0x11, 0x01, 0x20, 0x00}), c.data_size, 0, 0, c.valid_size);
    put(data, 34, c.shift, 1);
    Bytes bytes = mftRecord(42, kMftRecordInUse, {data});
    protectStrides(bytes, 0x30, 1);
    const MftRecord record = mustRead(bytes);
    auto attribute = parseAttribute(record.bytes, record.header.first_attribute_offset);
    const FetchRecord none = [](std::uint64_t) -> std::optional<std::vector<std::byte>> { return std::nullopt; };
    const ReadClusters zeros = [](std::uint64_t, std::uint64_t, std::span<std::byte> out) {
      std::fill(out.begin(), out.end(), std::byte{0});
      return true;
    };
    auto stream = collectDataStream(record, 42, 4096, none, zeros);
    auto found = findAttribute(record, AttributeType::Data);
    if (!c.corrupt) {
      ASSERT_TRUE(attribute) << attribute.error().message;
      EXPECT_EQ(attribute->compression_unit_shift, c.shift);
      ASSERT_TRUE(stream) << stream.error().message;
      EXPECT_EQ(stream->initialized_size, c.valid_size);
      continue;
    }
    ASSERT_FALSE(attribute);
    EXPECT_EQ(attribute.error().kind, ErrorKind::Corrupt);
    EXPECT_EQ(attribute.error().message, c.corrupt);
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error().kind, ErrorKind::Corrupt);
    ASSERT_FALSE(stream);
    EXPECT_EQ(stream.error().kind, ErrorKind::Corrupt);
    EXPECT_EQ(stream.error().message, c.corrupt);
  }
  // How far an incomplete compressed stream is saved is cut to whole units
  // of 16 clusters whatever shift a stream was built with.
  NtfsDataStream stream;
  stream.flags = 0x0001;
  stream.data_size = stream.initialized_size = 40 * 512;
  stream.runs = {{0, 0x20, 20, false}};
  stream.complete = false;
  for (int shift : {0, 4, 64, 255}) {
    stream.compression_unit_shift = static_cast<std::uint8_t>(shift);
    EXPECT_EQ(savableLength(stream, 512), 16u * 512) << "shift " << shift;
  }
}

TEST(BootSectorTest, SizesFromTheBootSector) {
  struct Case {
    int bytes_per_sector, sectors_per_cluster, record, index;
    bool ok;
    std::uint64_t cluster, record_size, index_size;
  };
  const std::vector<Case> cases = {
      {512, 8, 0xF6, 0x01, true, 4096, 1024, 4096},
      {4096, 1, 0xF4, 0xF4, true, 4096, 4096, 4096},          // a volume for 4K-sector disks
      {512, 0xF4, 0xF6, 0xF4, true, 2 * 1024 * 1024, 1024, 4096},  // 2^(256-244) sectors per cluster
      {512, 0x80, 0xF6, 0x01, true, 65536, 1024, 65536},
      {512, 0, 0xF6, 0x01, false, 0, 0, 0},
      {512, 3, 0xF6, 0x01, false, 0, 0, 0},
      {512, 0xE0, 0xF6, 0x01, false, 0, 0, 0},                  // 2^32 sectors per cluster
      {512, 8, 0x00, 0x01, false, 0, 0, 0},
      {512, 8, 0xE1, 0x01, false, 0, 0, 0},                     // 2^31-byte records
      {500, 8, 0xF6, 0x01, false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sectors_per_cluster);
    Bytes sector(512);
    const char* oem = "NTFS    ";
    for (int i = 0; i < 8; ++i) sector[3 + i] = std::byte(oem[i]);
    put(sector, 0x0B, c.bytes_per_sector, 2);
    put(sector, 0x0D, c.sectors_per_cluster, 1);
    put(sector, 0x28, 65535, 8);
    put(sector, 0x30, 4, 8);
    put(sector, 0x38, 4095, 8);
    put(sector, 0x40, c.record, 1);
    put(sector, 0x44, c.index, 1);
    auto boot = parseNtfsBootSector(sector);
    ASSERT_EQ(boot.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(boot->cluster_size, c.cluster);
    EXPECT_EQ(boot->record_size, c.record_size);
    EXPECT_EQ(boot->index_buffer_size, c.index_size);
    EXPECT_EQ(boot->mft_cluster, 4u);
    EXPECT_EQ(boot->mft_mirror_cluster, 4095u);
  }
}

// An index buffer of 4096 bytes (8 strides) with two file entries, the second
// one's name running across the end of a stride.
Bytes sampleIndexBuffer() {
  Bytes b(4096);
  b[0] = std::byte('I'); b[1] = std::byte('N'); b[2] = std::byte('D'); b[3] = std::byte('X');
  put(b, 16, 3, 8);                 // VCN
  const std::size_t node = 24;
  put(b, node + 0, 0x40, 4);        // entries from node + 0x40 (offset 0x58)
  put(b, node + 8, 4096 - 24, 4);   // allocated
  auto entry = [&](std::size_t at, std::uint64_t record, const std::u16string& name) {
    Bytes key = fileNameValue(64, 2, name, 1, 1234);
    const std::size_t length = (16 + key.size() + 7) / 8 * 8;
    put(b, at, record | (std::uint64_t{3} << 48), 8);
    put(b, at + 8, length, 2);
    put(b, at + 10, key.size(), 2);
    std::copy(key.begin(), key.end(), b.begin() + at + 16);
    return length;
  };
  std::size_t at = node + 0x40;
  at += entry(at, 83, u"Letter to Anna.txt");
  // The first entry is lengthened so that the second one's name covers the
  // end of stride 6 (bytes 3582-3583).
  const std::size_t second = 3496;
  put(b, node + 0x40 + 8, second - (node + 0x40), 2);
  at = second;
  at += entry(at, 84, std::u16string(24, u'c'));
  put(b, at + 8, 16, 2);
  put(b, at + 12, kIndexEntryLast, 2);
  put(b, node + 4, at + 16 - node, 4);  // in use
  return b;
}

TEST(IndexBufferTest, EntriesAcrossEveryStrideAndDamagedCopies) {
  Bytes good = sampleIndexBuffer();
  protectStrides(good, 0x28, 0x00AB);
  auto buffer = readIndexBuffer(good);
  ASSERT_TRUE(buffer) << buffer.error().message;
  EXPECT_EQ(buffer->vcn, 3u);
  EXPECT_FALSE(buffer->node.damaged);
  ASSERT_EQ(buffer->node.entries.size(), 2u);
  EXPECT_EQ(buffer->node.entries[0].file_reference, (FileReference{83, 3}));
  ASSERT_TRUE(buffer->node.entries[0].file_name);
  EXPECT_EQ(buffer->node.entries[0].file_name->name, u"Letter to Anna.txt");
  EXPECT_EQ(buffer->node.entries[0].file_name->parent, (FileReference{64, 2}));
  ASSERT_TRUE(buffer->node.entries[1].file_name);
  EXPECT_EQ(buffer->node.entries[1].file_name->name, std::u16string(24, u'c'))
      << "every stride is restored, not only the first";

  const std::vector<RecordDamage> cases = {
      {"huge entry offset", [](Bytes& b) { put(b, 24, 0xFFFFFF00, 4); },
       [](Bytes& b) { EXPECT_FALSE(readIndexBuffer(b)); }},
      {"entry offset just past the part in use", [](Bytes& b) { put(b, 24, 4096, 4); },
       [](Bytes& b) { EXPECT_FALSE(readIndexBuffer(b)); }},
      {"entry length 0", [](Bytes& b) { put(b, 24 + 0x40 + 8, 0, 2); },
       [](Bytes& b) {
         auto r = readIndexBuffer(b);
         ASSERT_TRUE(r);
         EXPECT_TRUE(r->node.entries.empty());
         EXPECT_TRUE(r->node.damaged);
       }},
      {"torn: the last stride lacks the sequence number", [](Bytes& b) { put(b, 7 * 512 + 510, 0, 2); },
       [](Bytes& b) {
         auto r = readIndexBuffer(b);
         ASSERT_TRUE(r);
         EXPECT_TRUE(r->torn);
         EXPECT_EQ(r->usable_size, 7u * 512);
         EXPECT_EQ(r->node.entries.size(), 1u) << "the entry in the torn stride is not trusted";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = sampleIndexBuffer();
    protectStrides(bytes, 0x28, 0x00AB);
    c.damage(bytes);
    c.check(bytes);
  }
}

// An attribute-list entry (32 bytes, unnamed).
Bytes listEntry(std::uint32_t type, std::uint64_t vcn, std::uint64_t record, std::uint16_t sequence = 1) {
  Bytes e(32);
  put(e, 0, type, 4);
  put(e, 4, 32, 2);
  put(e, 7, 26, 1);
  put(e, 8, vcn, 8);
  put(e, 16, record | (std::uint64_t{sequence} << 48), 8);
  return e;
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(AttributeListTest, ExtentsAreTakenOnceInVcnOrderFromRecordsThatNameTheBase) {
  // File 30 (sequence 1): $DATA extents at VCN 0 in itself, at VCN 4 in record
  // 31 and at VCN 8 in record 32, listed out of order and with a duplicate.
  const Bytes list = concat({listEntry(0x10, 0, 30), listEntry(kData, 8, 32), listEntry(kData, 0, 30),
                             listEntry(kData, 4, 31), listEntry(kData, 4, 31)});
  auto entries = parseAttributeList(list);
  ASSERT_TRUE(entries);
  auto extents = selectDataExtents(*entries);
  ASSERT_EQ(extents.size(), 3u);
  EXPECT_EQ(extents[0].starting_vcn, 0u);
  EXPECT_EQ(extents[1].reference.record_number, 31u);
  EXPECT_EQ(extents[2].reference.record_number, 32u);

  Bytes base = mftRecord(30, kMftRecordInUse,
                         {residentAttribute(0x20, list),
                          nonResidentAttribute(kData, bytesOf({0x11, 0x04, 0x10, 0x00}), 12 * 4096 - 5)});
  protectStrides(base, 0x30, 1);
  auto extension = [](std::uint32_t number, std::uint64_t base_ref, std::uint64_t vcn, Bytes runs) {
    Bytes r = mftRecord(number, kMftRecordInUse, {nonResidentAttribute(kData, runs, 0, vcn)}, base_ref);
    protectStrides(r, 0x30, 1);
    return r;
  };
  const std::uint64_t base_ref = 30 | (std::uint64_t{1} << 48);
  struct Case {
    const char* name;
    std::uint64_t base_of_32;  // base reference written into record 32
    bool complete;
    std::size_t runs;
  };
  const std::vector<Case> cases = {
      {"every extension names the base", base_ref, true, 3},
      {"record 32 was reused by another file", 77 | (std::uint64_t{1} << 48), false, 2},
      {"record 32 names an older use of the base", 30 | (std::uint64_t{2} << 48), false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int fetches = 0;
    const FetchRecord fetch = [&](std::uint64_t n) -> std::optional<Bytes> {
      ++fetches;
      if (n == 31) return extension(31, base_ref, 4, bytesOf({0x11, 0x04, 0x30, 0x00}));
      if (n == 32) return extension(32, c.base_of_32, 8, bytesOf({0x11, 0x04, 0x50, 0x00}));
      return std::nullopt;
    };
    Bytes copy = base;
    auto stream = collectDataStream(mustRead(copy), std::nullopt, 4096, fetch, nullptr);
    ASSERT_TRUE(stream);
    EXPECT_EQ(fetches, 2) << "the base's own extent is not fetched again";
    EXPECT_EQ(stream->complete, c.complete);
    EXPECT_EQ(stream->data_size, 12u * 4096 - 5) << "the size comes from the extent at VCN 0";
    ASSERT_EQ(stream->runs.size(), c.runs);
    EXPECT_EQ(stream->runs[1], (DataRun{4, 0x30, 4, false}));
  }
}

TEST(AttributeListTest, DamagedListsEndWithoutLooping) {
  // A list naming only its own record: nothing is fetched, the runs are the base's.
  const Bytes self = concat({listEntry(0x10, 0, 30), listEntry(kData, 0, 30)});
  Bytes base = mftRecord(30, kMftRecordInUse,
                         {residentAttribute(0x20, self),
                          nonResidentAttribute(kData, bytesOf({0x11, 0x02, 0x10, 0x00}), 8192)});
  protectStrides(base, 0x30, 1);
  int fetches = 0;
  auto stream = collectDataStream(mustRead(base), 30, 4096,
                                  [&](std::uint64_t) -> std::optional<Bytes> { ++fetches; return std::nullopt; },
                                  nullptr);
  ASSERT_TRUE(stream);
  EXPECT_EQ(fetches, 0);
  EXPECT_TRUE(stream->complete);
  EXPECT_EQ(stream->runs, (std::vector<DataRun>{{0, 0x10, 2, false}}));

  struct Case {
    const char* name;
    Bytes list;
    std::size_t entries;
  };
  Bytes zero_length = listEntry(kData, 0, 30);
  put(zero_length, 4, 0, 2);
  Bytes huge_length = listEntry(kData, 0, 30);
  put(huge_length, 4, 0xFFF8, 2);
  Bytes bad_name = listEntry(kData, 0, 30);
  put(bad_name, 6, 200, 1);
  const std::vector<Case> cases = {
      {"entry length 0", zero_length, 0},
      {"entry length past the list", huge_length, 0},
      {"name past the entry", bad_name, 0},
      {"second entry cut short", concat({listEntry(kData, 0, 30), bytesOf({0x80, 0, 0, 0, 0x20, 0})}), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto entries = parseAttributeList(c.list);
    EXPECT_EQ(entries ? entries->size() : 0u, c.entries);
  }
}

}  // namespace
}  // namespace dravolin::test
