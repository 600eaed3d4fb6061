// The readers on volumes made by mkntfs and ntfs-3g, checked against their
// manifests and The Sleuth Kit (fls, istat, icat) as the oracle: every file
// and folder the manifest lists has the record number and parent fls gives,
// and its bytes (resident, non-resident, fragmented, compressed) hash to the
// manifest's sha256.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "common/text_encoding.h"
#include "disk/file_source.h"
#include "ntfs/attribute.h"
#include "ntfs/file_name.h"
#include "ntfs/mft_reader.h"
#include "ntfs/mft_record.h"
#include "support/test_support.h"

namespace dravolin::test {
namespace {

namespace fs = std::filesystem;

bool commandsPresent(const std::string& commands) {
  int status = 0;
  runShell("command -v " + commands + " >/dev/null 2>&1", &status);
  return status == 0;
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

struct Found {
  std::string name;
  std::uint64_t parent = 0;
  bool directory = false;
  bool in_use = false;
  SectorNumber sector = 0;
};

struct Volume {
  std::unique_ptr<FileSectorSource> source;
  std::unique_ptr<SectorReader> reader;
  NtfsGeometry geometry;
  MftRunList mft;
  std::map<std::uint64_t, Found> records;  // base records with a name

  std::string pathOf(std::uint64_t number) const {
    std::string path;
    for (int depth = 0; depth < 64 && number != 5; ++depth) {
      auto it = records.find(number);
      if (it == records.end()) return "?" + path;
      path = "/" + it->second.name + path;
      number = it->second.parent;
    }
    return path;
  }

  std::string contents(SectorNumber sector, std::uint64_t number, NtfsDataStream* out_stream = nullptr) {
    auto stream = ReadRecordRuns(*reader, geometry, mft, sector, number);
    if (!stream) return "<" + stream.error().message + ">";
    if (out_stream) *out_stream = *stream;
    std::vector<std::byte> bytes(stream->data_size);
    auto read = readStreamRange(*stream, geometry.cluster_size, 0, bytes, makeClusterReader(*reader, geometry));
    if (!read || !stream->complete || read->missing_clusters || read->corrupt_compression) return "<incomplete>";
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
};

// Opens the volume, loads the MFT run list and reads every record's name.
void openVolume(const fs::path& image, Volume& volume) {
  auto source = FileSectorSource::open(image.string());
  ASSERT_TRUE(source) << source.error().message;
  volume.source = std::move(*source);
  volume.reader = std::make_unique<SectorReader>(*volume.source);
  auto boot_sector = readSectorOrZeros(*volume.reader, 0);
  auto boot = parseNtfsBootSector(boot_sector);
  ASSERT_TRUE(boot) << boot.error().message;
  auto geometry = makeNtfsGeometry(*boot, 0);
  ASSERT_TRUE(geometry);
  volume.geometry = *geometry;
  auto mft = LoadMftRunList(*volume.reader, volume.geometry);
  ASSERT_TRUE(mft) << mft.error().message;
  volume.mft = *mft;
  // $MFT's size as istat reports it.
  const std::string istat = runShell("istat " + quoted(image) + " 0");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(istat, m, std::regex(R"(\$DATA \(128-\d+\)\s+Name: N/A\s+Non-Resident\s+size: (\d+))")));
  EXPECT_EQ(volume.mft.data_size, std::stoull(m[1]));
  EXPECT_TRUE(volume.mft.complete);
  EXPECT_EQ(volume.mft.covered_bytes, volume.mft.data_size);

  for (std::uint64_t n = 0; n < volume.mft.recordCount(volume.geometry); ++n) {
    auto bytes = ReadMftRecord(*volume.reader, volume.mft, volume.geometry, n);
    ASSERT_TRUE(bytes);
    auto record = readMftRecord(*bytes);
    if (!record) continue;
    EXPECT_FALSE(record->torn) << n;
    if (record->header.record_number) {
      EXPECT_EQ(*record->header.record_number, n);
    }
    if (record->header.isExtension()) continue;
    auto name = chooseFileName(collectFileNames(*record, n, volume.geometry.cluster_size,
                                                makeRecordFetcher(*volume.reader, volume.mft, volume.geometry),
                                                makeClusterReader(*volume.reader, volume.geometry)));
    if (!name) continue;
    volume.records[n] = {utf16ToUtf8(name->name), name->parent.record_number, record->header.isDirectory(),
                         record->header.inUse(), *MftNumberToSector(volume.mft, volume.geometry, n)};
  }
}

// Paths fls lists (deleted ones included) with their record numbers.
std::map<std::string, std::uint64_t> flsNumbers(const fs::path& image) {
  std::map<std::string, std::uint64_t> numbers;
  std::istringstream in(runShell("fls -r -p " + quoted(image)));
  std::string line;
  const std::regex row(R"(^\S+ (?:\* )?(\d+)-\d+-\d+:\t(.*)$)");
  std::smatch m;
  while (std::getline(in, line))
    if (std::regex_match(line, m, row)) numbers.emplace("/" + m[2].str(), std::stoull(m[1]));
  return numbers;
}

std::string sha256Of(const TempDir& dir, const std::string& bytes) {
  writeFile(dir / "content", bytes);
  return sha256File(dir / "content");
}

TEST(NtfsRealImageTest, NamesParentsSizesAndContentsMatchTheManifest) {
  const fs::path image = fixturePath("ntfs.img");
  ASSERT_TRUE(fs::exists(image)) << image << " missing: run tests/fixtures/build-images.sh";
  if (!commandsPresent("fls istat")) GTEST_SKIP() << "needs sleuthkit";
  const std::string before = sha256File(image);
  Volume volume;
  openVolume(image, volume);
  if (HasFatalFailure()) return;
  const auto fls = flsNumbers(image);
  std::map<std::string, std::uint64_t> ours;
  for (const auto& [number, found] : volume.records) ours[volume.pathOf(number)] = number;

  TempDir dir;
  std::ifstream manifest(image.string() + ".manifest.tsv");
  std::string line;
  std::getline(manifest, line);  // header
  int files = 0;
  while (std::getline(manifest, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    ASSERT_EQ(f.size(), 6u) << line;
    const std::string& path = f[5];
    SCOPED_TRACE(path);
    ASSERT_TRUE(ours.count(path)) << "not found by the MFT readers";
    const std::uint64_t number = ours[path];
    ASSERT_TRUE(fls.count(path));
    EXPECT_EQ(number, fls.at(path)) << "record number differs from fls";
    const Found& found = volume.records[number];
    EXPECT_EQ(found.directory, f[2] == "folder");
    EXPECT_EQ(found.in_use, f[1] == "live");
    if (f[2] != "file") continue;
    NtfsDataStream stream;
    const std::string data = volume.contents(found.sector, number, &stream);
    EXPECT_EQ(data.size(), std::stoull(f[3]));
    EXPECT_EQ(sha256Of(dir, data), f[4]);
    ++files;
    if (path == "/hello.txt") {
      EXPECT_TRUE(stream.resident);
    }
    if (path == "/Several clusters ntfs.dat") {
      EXPECT_FALSE(stream.resident);
    }
    if (path.starts_with("/Fragments/Split file")) {
      EXPECT_GE(stream.runs.size(), 2u) << "fragmented";
    }
  }
  EXPECT_GE(files, 40);
  EXPECT_EQ(sha256File(image), before) << "the readers must not write to their source";
}

// A volume made with ntfs-3g (needs root and FUSE) holding an LZNT1-compressed
// folder and a sparse file of 600 runs, whose $DATA spreads over extension
// records named by a non-resident attribute list; icat's output is the
// expected content as well.
TEST(NtfsRealImageTest, CompressedFilesAndAttributeListExtentsReadWhole) {
  if (geteuid() != 0 || !fs::exists("/dev/fuse") || !commandsPresent("mkntfs ntfs-3g icat python3"))
    GTEST_SKIP() << "needs root, /dev/fuse, ntfs-3g and sleuthkit";
  TempDir dir;
  const fs::path image = dir / "compressed.img";
  const fs::path mount = dir / "mnt";
  fs::create_directory(mount);
  // Text that compresses well, random bytes that do not, then text again.
  std::string text;
  for (int i = 0; text.size() < 150000; ++i) text += "cluster " + std::to_string(i % 97) + " recovery\n";
  std::string random;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 70000; ++i) random.push_back(static_cast<char>((seed = seed * 1103515245 + 12345) >> 16));
  writeFile(dir / "text.txt", text);
  writeFile(dir / "mixed.bin", random + text);
  // Data and holes in turn: every hole is a sparse run.
  writeFile(dir / "holes.py",
            "import sys\nf = open(sys.argv[1], 'wb')\n"
            "for i in range(600):\n    f.seek(i * 8192)\n    f.write(bytes([i % 251 + 1]) * 4096)\n");
  int status = 0;
  const std::string out = runShell(
      "set -e; truncate -s 16M " + quoted(image) + "; mkntfs -F -q -c 4096 " + quoted(image) +
      " >/dev/null 2>&1; ntfs-3g -o compression,no_detach " + quoted(image) + " " + quoted(mount) +
      " >/dev/null 2>&1 & pid=$!; for i in $(seq 50); do mountpoint -q " + quoted(mount) +
      " && break; sleep 0.1; done; mkdir " + quoted(mount / "z") +
      "; python3 -c \"import os,sys; os.setxattr(sys.argv[1], 'system.ntfs_attrib_be', bytes([0,0,8,0x10]))\" " +
      quoted(mount / "z") + "; cp " + quoted(dir / "text.txt") + " " + quoted(dir / "mixed.bin") + " " +
      quoted(mount / "z") + "; python3 " + quoted(dir / "holes.py") + " " + quoted(mount / "holes.bin") +
      "; umount " + quoted(mount) + "; wait $pid 2>&1",
      &status);
  ASSERT_EQ(status, 0) << out;
  Volume volume;
  openVolume(image, volume);
  if (HasFatalFailure()) return;
  std::string holes;
  for (int i = 0; i < 600; ++i) {
    holes += std::string(4096, static_cast<char>(i % 251 + 1));
    if (i < 599) holes += std::string(4096, '\0');
  }
  int checked = 0;
  for (const auto& [number, found] : volume.records) {
    if (found.name == "holes.bin") {
      auto bytes = ReadRecordAtSector(*volume.reader, volume.geometry, found.sector);
      ASSERT_TRUE(bytes);
      auto record = readMftRecord(*bytes);
      ASSERT_TRUE(record);
      ASSERT_TRUE(findAttribute(*record, AttributeType::AttributeList)) << "the layout this test is about";
      EXPECT_FALSE(readBestFileName(*record)) << "its name lies in an extension record";
      NtfsDataStream stream;
      const std::string data = volume.contents(found.sector, number, &stream);
      EXPECT_TRUE(stream.complete);
      EXPECT_GE(stream.runs.size(), 1199u);
      EXPECT_TRUE(data == holes) << "sparse file through its extents differs";
      EXPECT_TRUE(data == runShell("icat " + quoted(image) + " " + std::to_string(number)));
      ++checked;
    }
    if (found.name != "text.txt" && found.name != "mixed.bin") continue;
    SCOPED_TRACE(found.name);
    NtfsDataStream stream;
    const std::string data = volume.contents(found.sector, number, &stream);
    EXPECT_TRUE(stream.isCompressed());
    EXPECT_TRUE(data == (found.name == "text.txt" ? text : random + text)) << "decompressed bytes differ";
    EXPECT_TRUE(data == runShell("icat " + quoted(image) + " " + std::to_string(number)));
    ++checked;
  }
  EXPECT_EQ(checked, 3);
}

}  // namespace
}  // namespace dravolin::test
