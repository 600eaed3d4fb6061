// LZNT1 chunks and reading a stream's bytes from its runs, over clusters
// held in memory.
#include <gtest/gtest.h>

#include <cstring>

#include "ntfs/file_data.h"
#include "ntfs/lznt1.h"
#include "ntfs_test_support.h"

namespace dravolin::test {
namespace {

Bytes concat2(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string text(const Bytes& b, std::size_t n) { return std::string(reinterpret_cast<const char*>(b.data()), n); }

// A compressed chunk: "a", then a back-reference of distance 1 and length
// 4,095, giving 4,096 bytes "a".
Bytes fullChunkOfA() { return bytesOf({0x03, 0xB0, 0x02, 'a', 0xFC, 0x0F}); }

TEST(Lznt1Test, ChunksDecodeOrStopAtTheCorruptOne) {
  struct Case {
    const char* name;
    Bytes input;
    std::size_t out_size;
    std::string expected;  // the decoded bytes
    bool corrupt;
  };
  const Bytes abc = bytesOf({0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20});
  Bytes two = fullChunkOfA();
  const Bytes xyz = bytesOf({0x02, 0x30, 'x', 'y', 'z'});
  two.insert(two.end(), xyz.begin(), xyz.end());
  // 17 literals, then a reference at position 17: 5 offset bits and 11
  // length bits, distance 17, length 5.
  Bytes wide = bytesOf({0x00, 0xB0, 0x00, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0x00, 'I', 'J', 'K', 'L', 'M', 'N',
                        'O', 'P', 0x02, 'Q', 0x02, 0x80});
  put(wide, 0, 0xB000 | (wide.size() - 3), 2);
  const std::vector<Case> cases = {
      {"literals and an overlapping back-reference", abc, 100, "abcabcabcabc", false},
      {"an uncompressed chunk", xyz, 100, "xyz", false},
      {"a full chunk, then the next one", two, 5000, std::string(4096, 'a') + "xyz", false},
      {"the offset/length split moves with the position", wide, 100, "ABCDEFGHIJKLMNOPQABCDE", false},
      {"output full: decoding stops there", two, 4097, std::string(4096, 'a') + "x", false},
      {"a back-reference before the chunk start", bytesOf({0x02, 0xB0, 0x01, 0x00, 0x10}), 100, "", true},
      // A short chunk followed by another is padded to 4,096 bytes with zeros.
      {"a chunk longer than the input", concat2(abc, bytesOf({0x40, 0xB0, 0x00})), 5000,
       "abcabcabcabc" + std::string(4096 - 12, '\0'), true},
      {"a bad chunk signature", bytesOf({0x02, 0x00, 'x', 'y', 'z'}), 100, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(c.out_size);
    const auto outcome = decompressLznt1(c.input, out);
    EXPECT_EQ(outcome.error.has_value(), c.corrupt);
    ASSERT_EQ(outcome.bytes_written, c.expected.size());
    EXPECT_EQ(text(out, outcome.bytes_written), c.expected);
  }
}

// A volume of 1,024-byte clusters in memory; cluster n is filled with the
// byte 'A' + n % 26, except the clusters set by hand.
struct MemoryVolume {
  static constexpr std::uint64_t kCluster = 1024;
  Bytes bytes = Bytes(64 * kCluster);
  int reads = 0;
  MemoryVolume() {
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::byte('A' + (i / kCluster) % 26);
  }
  ReadClusters reader() {
    return [this](std::uint64_t lcn, std::uint64_t count, std::span<std::byte> out) {
      ++reads;
      if ((lcn + count) * kCluster > bytes.size()) return false;
      std::memcpy(out.data(), bytes.data() + lcn * kCluster, count * kCluster);
      return true;
    };
  }
};

TEST(FileDataTest, SparseRunsHolesAndTheInitializedSizeReadAsZeros) {
  MemoryVolume volume;
  NtfsDataStream stream;
  // Clusters 2-3, a sparse cluster, a missing cluster (an extent not found), cluster 10.
  stream.runs = {{0, 2, 2, false}, {2, 0, 1, true}, {4, 10, 1, false}};
  stream.data_size = 5 * 1024 - 100;
  stream.initialized_size = 4 * 1024 + 10;
  std::string expected = std::string(1024, 'C') + std::string(1024, 'D') + std::string(2048, '\0') +
                         std::string(10, 'K') + std::string(5 * 1024 - 100 - 4096 - 10, '\0');
  Bytes whole(8000);
  auto read = readStreamRange(stream, 1024, 0, whole, volume.reader());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->bytes, stream.data_size);
  EXPECT_TRUE(read->missing_clusters);
  EXPECT_FALSE(read->read_failed);
  EXPECT_EQ(text(whole, read->bytes), expected);
  // Any range gives the same bytes as the whole.
  for (std::uint64_t offset : {1u, 1023u, 1500u, 4100u}) {
    Bytes part(777);
    auto r = readStreamRange(stream, 1024, offset, part, volume.reader());
    ASSERT_TRUE(r);
    EXPECT_EQ(text(part, r->bytes), expected.substr(offset, 777)) << offset;
  }
}

TEST(FileDataTest, CompressedUnitsAreDecompressedStoredOrZero) {
  MemoryVolume volume;
  // Cluster 5 holds a compressed unit: 4,096 "a" then "xyz".
  Bytes chunk = fullChunkOfA();
  const Bytes xyz = bytesOf({0x02, 0x30, 'x', 'y', 'z', 0x00, 0x00});
  chunk.insert(chunk.end(), xyz.begin(), xyz.end());
  std::fill(volume.bytes.begin() + 5 * 1024, volume.bytes.begin() + 6 * 1024, std::byte{0});
  std::copy(chunk.begin(), chunk.end(), volume.bytes.begin() + 5 * 1024);
  NtfsDataStream stream;
  stream.flags = 0x0001;
  stream.compression_unit_shift = 4;
  // Unit 0: 1 stored cluster + 15 sparse; unit 1: 16 stored clusters (kept
  // uncompressed); unit 2: all sparse.
  stream.runs = {{0, 5, 1, false}, {1, 0, 15, true}, {16, 20, 16, false}, {32, 0, 16, true}};
  stream.data_size = stream.initialized_size = 3 * 16 * 1024 - 7;
  std::string expected = std::string(4096, 'a') + "xyz" + std::string(16 * 1024 - 4099, '\0');
  for (int c = 20; c < 36; ++c) expected += std::string(1024, char('A' + c % 26));
  expected += std::string(16 * 1024 - 7, '\0');
  Bytes out(stream.data_size);
  auto read = readStreamRange(stream, 1024, 0, out, volume.reader());
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->corrupt_compression);
  EXPECT_EQ(text(out, read->bytes), expected);
  Bytes part(100);
  read = readStreamRange(stream, 1024, 4090, part, volume.reader());
  ASSERT_TRUE(read);
  EXPECT_EQ(text(part, 100), expected.substr(4090, 100));
}

}  // namespace
}  // namespace dravolin::test
