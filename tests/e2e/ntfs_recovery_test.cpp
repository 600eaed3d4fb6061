// dravolin scan, recover and find on the NTFS fixture images: every record
// the manifests list (taken from fls and istat) is listed at its path with
// its size, MFT number and parent, and recovered byte for byte; damaged
// copies show what the walk does with a lost parent, a reused parent, a torn
// record, a partial MFT run list and a wiped $MFT record; the source image
// never changes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "e2e/fixture_volume_test.h"
#include "support/test_support.h"

namespace dravolin {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::runDravolin;
using test::sha256File;
using test::TempDir;

using Volume = test::FixtureVolume;

const Volume kVolumes[] = {{"ntfs.img", 0}, {"ntfs-full.img", 0}, {"mbr.img", 3}, {"demo.img", 2}, {"gpt.img", 2}};

struct MftRow {
  bool deleted = false;
  bool folder = false;
  std::uint64_t size = 0;
  std::string sha256;
  std::string path;
  std::uint64_t mft = 0;
  std::uint64_t parent = 0;
  std::string attributes;
};

struct MftManifest {
  std::vector<MftRow> rows;
  std::map<std::string, std::vector<std::string>> marked;  // "# sparse: PATH" and the like, by mark
  const MftRow* find(const std::string& path) const {
    for (const auto& row : rows)
      if (row.path == path) return &row;
    return nullptr;
  }
};

MftManifest readMftManifest(const std::string& image, int partition) {
  MftManifest manifest;
  std::ifstream in(test::fixturePath(image + ".mft.tsv"));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (line.starts_with("# ")) {
      const std::size_t colon = line.find(": ");
      if (colon != std::string::npos) manifest.marked[line.substr(2, colon - 2)].push_back(line.substr(colon + 2));
      continue;
    }
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string field; std::getline(s, field, '\t');) fields.push_back(field);
    if (fields.size() < 8) continue;
    if (std::stoi(fields[0]) != std::max(partition, 1)) continue;
    manifest.rows.push_back({fields[1] == "deleted", fields[2] == "folder", std::stoull(fields[3]), fields[4],
                             fields[5], std::stoull(fields[6]), std::stoull(fields[7]),
                             fields.size() > 8 ? fields[8] : ""});
  }
  return manifest;
}

std::map<std::string, json> entriesByPath(const json& scan) {
  std::map<std::string, json> byPath;
  for (const auto& entry : scan["entries"]) byPath[entry["path"].get<std::string>()] = entry;
  return byPath;
}

std::map<std::string, fs::path> writtenFiles(const fs::path& to) {
  std::map<std::string, fs::path> written;
  if (!fs::exists(to)) return written;
  for (const auto& entry : fs::recursive_directory_iterator(to))
    if (entry.is_regular_file()) written["/" + fs::relative(entry.path(), to).string()] = entry.path();
  return written;
}

struct NtfsRecoveryTest : test::FixtureVolumeTest {};

TEST_P(NtfsRecoveryTest, ScanListsEveryRecordWithItsMftNumberAndParent) {
  const auto result = run({"scan", image.string(), "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const json doc = json::parse(result.out);
  EXPECT_EQ(doc["file_system"], "NTFS");
  auto byPath = entriesByPath(doc);
  const MftManifest manifest = readMftManifest(GetParam().image, GetParam().partition);
  ASSERT_GT(manifest.rows.size(), 40u);
  for (const auto& row : manifest.rows) {
    SCOPED_TRACE(row.path);
    ASSERT_TRUE(byPath.contains(row.path)) << "not listed";
    const json& found = byPath[row.path];
    EXPECT_EQ(found["type"], row.folder ? (row.deleted ? "Deleted Folder" : "Folder")
                                        : (row.deleted ? "Deleted File" : "File"));
    EXPECT_EQ(found["id"], row.mft);
    EXPECT_EQ(found["parent"], row.parent);
    if (!row.folder) {
      EXPECT_EQ(found["size"], row.size);
    }
  }
  // The root (5) is the tree's top, never an entry; no entry stands for an
  // extension record of another file.
  std::set<std::uint64_t> ids;
  for (const auto& entry : doc["entries"]) {
    EXPECT_TRUE(ids.insert(entry["id"].get<std::uint64_t>()).second) << entry["path"];
    EXPECT_FALSE(entry["path"].get<std::string>().starts_with("/Lost/")) << entry["path"];
  }
  EXPECT_FALSE(ids.contains(5));
  EXPECT_TRUE(byPath.contains("/$MFT"));
  for (const auto& row : manifest.rows) {
    const std::string prefix = "data-records=";
    const std::size_t at = row.attributes.find(prefix);
    if (at == std::string::npos) continue;
    std::stringstream records(row.attributes.substr(at + prefix.size()));
    for (std::string number; std::getline(records, number, '/');)
      if (std::stoull(number) != row.mft) {
        EXPECT_FALSE(ids.contains(std::stoull(number))) << "extension " << number;
      }
  }
  // FILETIMEs are UTC: shown as the browser shows them, and in ISO form with "Z".
  const json& first = byPath.begin()->second;
  EXPECT_EQ(first["modified"].get<std::string>().size(), std::string("07-Mar-2006 09:05:33").size());
  EXPECT_TRUE(first["modified_iso"].get<std::string>().ends_with("Z")) << first["modified_iso"];
}

TEST_P(NtfsRecoveryTest, RecoversLiveAndDeletedFilesByteForByte) {
  const fs::path to = dir / "out";
  const auto result = run({"recover", image.string(), "--all", "--to", to.string(), "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
  const json doc = json::parse(result.out);
  EXPECT_EQ(doc["message"], "Saving completed successfully.");
  EXPECT_TRUE(doc["errors"].empty()) << doc["errors"];
  auto written = writtenFiles(to);
  const MftManifest manifest = readMftManifest(GetParam().image, GetParam().partition);
  int compared = 0;
  for (const auto& row : manifest.rows) {
    if (row.folder) continue;
    SCOPED_TRACE(row.path);
    ASSERT_TRUE(written.contains(row.path)) << "not recovered";
    EXPECT_EQ(fs::file_size(written[row.path]), row.size);
    EXPECT_EQ(sha256File(written[row.path]), row.sha256);
    ++compared;
  }
  EXPECT_GT(compared, 30);
  // The files the fixture made for each kind of data layout were among them.
  for (const char* mark : {"sparse", "compressed", "fragmented", "attribute-list", "zero-length"}) {
    auto paths = manifest.marked.find(mark);
    if (paths == manifest.marked.end()) continue;
    for (const auto& path : paths->second) {
      SCOPED_TRACE(std::string(mark) + ": " + path);
      EXPECT_NE(manifest.find(path), nullptr);
      EXPECT_TRUE(written.contains(path));
    }
  }
}

TEST_P(NtfsRecoveryTest, FindsByNameWithTheMftNumberAsId) {
  const json scan = json::parse(run({"scan", image.string(), "--json"}).out);
  const auto all = run({"find", image.string(), "*", "--json"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  EXPECT_EQ(json::parse(all.out)["hits"].size(), scan["entries"].size());
  const MftManifest manifest = readMftManifest(GetParam().image, GetParam().partition);
  int letters = 0;
  for (const auto& row : manifest.rows) {
    if (row.folder || row.path.find("Letter to Anna") == std::string::npos) continue;
    ++letters;
    // Patterns match without regard to case.
    const json hits = json::parse(run({"find", image.string(), "letter TO anna*", "--json"}).out)["hits"];
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0]["path"], row.path);
    EXPECT_EQ(hits[0]["id"], row.mft);
  }
  EXPECT_EQ(letters, 1);
}

std::string volumeTestName(const ::testing::TestParamInfo<Volume>& param) { return test::caseName(param.param.name()); }

INSTANTIATE_TEST_SUITE_P(Fixtures, NtfsRecoveryTest, ::testing::ValuesIn(kVolumes), volumeTestName);

// Copies of ntfs-full.img with one thing broken each.
struct NtfsDamageTest : ::testing::Test {
  TempDir dir;
  test::CommandResult run(const std::vector<std::string>& arguments) { return runDravolin(arguments, dir / "home"); }

  // A writable copy of the image and the byte offset of MFT record number.
  fs::path copyOf(const fs::path& image) {
    const fs::path copy = dir / image.filename();
    fs::copy_file(image, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    return copy;
  }
  std::uint64_t recordOffset(const fs::path& image, std::uint64_t number) {
    const json volume = json::parse(run({"partitions", image.string(), "--json"}).out)["partitions"][0]["volume"];
    // The first records of the fixture's $MFT lie in its first run.
    return volume["mft_start"].get<std::uint64_t>() * 512 + number * 1024;
  }
  void patch(const fs::path& image, std::uint64_t offset, const std::string& bytes) {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good());
  }
  // Offset in record of its first attribute of type (0 when there is none).
  static std::size_t attributeOffset(const std::string& record, std::uint32_t type) {
    std::size_t attribute = static_cast<unsigned char>(record[20]) | (static_cast<unsigned char>(record[21]) << 8);
    for (int guard = 0; guard < 32 && attribute + 8 < record.size(); ++guard) {
      std::uint32_t found = 0, length = 0;
      std::memcpy(&found, record.data() + attribute, 4);
      std::memcpy(&length, record.data() + attribute + 4, 4);
      if (found == type) return attribute;
      if (found == 0xFFFFFFFF || length == 0) break;
      attribute += length;
    }
    return 0;
  }
  std::string read(const fs::path& image, std::uint64_t offset, std::size_t size) {
    std::ifstream f(image, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(size, '\0');
    f.read(bytes.data(), static_cast<std::streamsize>(size));
    return bytes;
  }
};

// A folder whose record is wiped, or whose record was reused (its sequence
// number moved on): its files and its sub-folder with their subtree come
// back under "Lost", and are recovered from there.
TEST_F(NtfsDamageTest, FoldersOfAMissingOrReusedParentComeBackUnderLost) {
  const fs::path original = test::fixturePath("ntfs-full.img");
  const MftManifest manifest = readMftManifest("ntfs-full.img", 0);
  const MftRow* work = manifest.find("/Documents/Work");
  const MftRow* quarterly = manifest.find("/Documents/Work/Reports/Quarterly report full.txt");
  const MftRow* deep = manifest.find("/Documents/Work/Reports/Archive/deep note.txt");
  const MftRow* budget = manifest.find("/Documents/Work/Budget 2026.csv");
  ASSERT_TRUE(work && quarterly && deep && budget);
  struct Case {
    const char* what;
    std::size_t offset;  // in the folder's record
    std::string bytes;   // written there; empty: the sequence number is raised by 2
  };
  for (const Case& c : {Case{"wiped", 0, std::string(1024, '\0')}, Case{"reused", 16, ""}}) {
    SCOPED_TRACE(c.what);
    const fs::path copy = copyOf(original);
    const std::uint64_t at = recordOffset(copy, work->mft) + c.offset;
    std::string bytes = c.bytes;
    if (bytes.empty()) {
      bytes = read(copy, at, 2);
      bytes[0] = static_cast<char>(bytes[0] + 2);
    }
    patch(copy, at, bytes);
    const std::string hash = sha256File(copy);
    const auto scan = run({"scan", copy.string(), "--json"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    auto byPath = entriesByPath(json::parse(scan.out));
    ASSERT_TRUE(byPath.contains("/Lost/Reports")) << scan.out.substr(0, 2000);
    EXPECT_EQ(byPath["/Lost/Reports"]["parent"], 0x0FFFFFFF);
    EXPECT_EQ(byPath["/Lost"]["parent"], 5);
    EXPECT_TRUE(byPath.contains("/Lost/Reports/Archive/deep note.txt"));
    EXPECT_TRUE(byPath.contains("/Lost/Budget 2026.csv")) << "a file of the lost folder";
    EXPECT_EQ(byPath.contains("/Documents/Work"), std::string(c.what) == "reused");
    EXPECT_TRUE(byPath.contains("/Documents/Letter to Anna.txt"));

    const fs::path to = dir / (std::string("out-") + c.what);
    const auto saved = run({"recover", copy.string(), "--path", "/Lost", "--to", to.string()});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(sha256File(to / "Lost" / "Reports" / "Quarterly report full.txt"), quarterly->sha256);
    EXPECT_EQ(sha256File(to / "Lost" / "Reports" / "Archive" / "deep note.txt"), deep->sha256);
    EXPECT_EQ(sha256File(to / "Lost" / "Budget 2026.csv"), budget->sha256);
    EXPECT_EQ(sha256File(copy), hash) << "the source image changed";
  }
}

// The clusters of /Sparse/preallocated.db past its initialized size are
// filled with junk: the saved file still holds zeros there.
TEST_F(NtfsDamageTest, BytesPastTheInitializedSizeAreSavedAsZeros) {
  const fs::path copy = copyOf(test::fixturePath("ntfs-full.img"));
  const MftManifest manifest = readMftManifest("ntfs-full.img", 0);
  const MftRow* file = manifest.find("/Sparse/preallocated.db");
  ASSERT_NE(file, nullptr);
  const json volume = json::parse(run({"partitions", copy.string(), "--json"}).out)["partitions"][0]["volume"];
  const std::uint64_t clusterSize = volume["sectors_per_cluster"].get<std::uint64_t>() * 512;
  // istat lists the clusters of the $DATA in VCN order (0 for a sparse one).
  const std::string istat = test::runShell("istat '" + copy.string() + "' " + std::to_string(file->mft));
  const std::size_t data = istat.find("Type: $DATA");
  ASSERT_NE(data, std::string::npos) << istat;
  const std::size_t init = istat.find("init_size: ", data);
  ASSERT_NE(init, std::string::npos);
  const std::uint64_t initialized = std::stoull(istat.substr(init + 11));
  ASSERT_LT(initialized, file->size) << "the fixture's file has no uninitialized tail";
  std::istringstream clusters(istat.substr(istat.find('\n', init) + 1));
  std::uint64_t vcn = 0, junkBytes = 0;
  for (std::uint64_t lcn = 0; clusters >> lcn; ++vcn) {
    const std::uint64_t start = vcn * clusterSize, end = start + clusterSize;
    if (lcn == 0 || end <= initialized) continue;
    const std::uint64_t from = std::max(start, initialized);
    patch(copy, lcn * clusterSize + (from - start), std::string(end - from, 'J'));
    junkBytes += end - from;
  }
  ASSERT_GT(junkBytes, 0u) << "no allocated cluster past the initialized size";
  const fs::path to = dir / "out";
  const auto saved = run({"recover", copy.string(), "--path", "/Sparse/preallocated.db", "--to", to.string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  EXPECT_EQ(sha256File(to / "Sparse" / "preallocated.db"), file->sha256);
}

// The run list of a file in two runs is damaged after its first run (a run
// whose length field claims 9 bytes): the first run is kept, the file saved
// as far as it reaches, and the saving names the file and fails.
TEST_F(NtfsDamageTest, DamagedRunsAfterAGoodRunAreSavedAsFarAsTheyReach) {
  const fs::path original = test::fixturePath("ntfs-full.img");
  const fs::path copy = copyOf(original);
  const MftManifest manifest = readMftManifest("ntfs-full.img", 0);
  const MftRow* file = manifest.find("/Fragments/Split file full.bin");
  ASSERT_NE(file, nullptr);
  ASSERT_NE(file->attributes.find("runs=2"), std::string::npos);
  const std::uint64_t at = recordOffset(copy, file->mft);
  const std::string record = read(copy, at, 1024);
  const std::size_t data = attributeOffset(record, 0x80);
  ASSERT_NE(data, 0u);
  const std::size_t runs = data + (static_cast<unsigned char>(record[data + 32]) |
                                   (static_cast<unsigned char>(record[data + 33]) << 8));
  const auto first = static_cast<unsigned char>(record[runs]);
  std::uint64_t clusters = 0;
  for (int i = (first & 0x0F); i > 0; --i) clusters = clusters << 8 | static_cast<unsigned char>(record[runs + i]);
  const std::size_t second = runs + 1 + (first & 0x0F) + (first >> 4);
  ASSERT_LT(second % 512, 510u);
  ASSERT_NE(record[second], 0) << "the file is in one run";
  patch(copy, at + second, std::string("\x19", 1));

  const fs::path whole = dir / "whole", part = dir / "part";
  ASSERT_EQ(run({"recover", original.string(), "--path", file->path, "--to", whole.string()}).exitCode, 0);
  const auto saved = run({"recover", copy.string(), "--path", file->path, "--to", part.string(), "--json"});
  EXPECT_EQ(saved.exitCode, 1) << saved.err;
  const json doc = json::parse(saved.out);
  EXPECT_EQ(doc["message"], "Saving not completed successfully.");
  EXPECT_EQ(doc["incomplete"], 1);
  ASSERT_EQ(doc["errors"].size(), 1u) << doc["errors"];
  EXPECT_NE(doc["errors"][0].dump().find("data runs are damaged"), std::string::npos) << doc["errors"];
  const std::string full = test::readFile(whole / "Fragments" / "Split file full.bin");
  const std::string partial = test::readFile(part / "Fragments" / "Split file full.bin");
  ASSERT_EQ(full.size(), file->size);
  ASSERT_GT(clusters, 0u);
  EXPECT_EQ(partial.size(), clusters * 4096);
  EXPECT_EQ(partial, full.substr(0, partial.size()));
}

// A compressed file whose $DATA header says a compression unit of 2^64
// clusters: the value is refused where the header is decoded, and the saving
// names the file with the field's offset and value instead of shifting by it.
TEST_F(NtfsDamageTest, AnIllegalCompressionUnitIsNamedAndNeverUsed) {
  const fs::path copy = copyOf(test::fixturePath("ntfs-full.img"));
  const MftManifest manifest = readMftManifest("ntfs-full.img", 0);
  const MftRow* file = manifest.find("/Compressed/compressed log.txt");
  ASSERT_NE(file, nullptr);
  const std::uint64_t at = recordOffset(copy, file->mft);
  const std::size_t data = attributeOffset(read(copy, at, 1024), 0x80);
  ASSERT_NE(data, 0u);
  ASSERT_EQ(read(copy, at + data + 34, 1), std::string("\x04", 1));
  patch(copy, at + data + 34, std::string("\x40", 1));
  const fs::path to = dir / "out";
  const auto saved = run({"recover", copy.string(), "--path", file->path, "--to", to.string(), "--json"});
  EXPECT_EQ(saved.exitCode, 1) << saved.err;
  const json doc = json::parse(saved.out);
  ASSERT_EQ(doc["errors"].size(), 1u) << doc["errors"];
  EXPECT_NE(doc["errors"][0].dump().find("offset 0x22: compression unit shift 64"), std::string::npos)
      << doc["errors"];
}

// An extension record of the fragmented mailbox names another base record:
// it is refused, so the mailbox is saved only as far as its other extents
// go, and the saving says it is incomplete; never a 0-byte success.
TEST_F(NtfsDamageTest, AnExtensionOfAnotherFileIsRefusedAndTheFileSavedAsFarAsItGoes) {
  const fs::path original = test::fixturePath("ntfs-full.img");
  const fs::path copy = copyOf(original);
  const MftManifest manifest = readMftManifest("ntfs-full.img", 0);
  const MftRow* mailbox = manifest.find("/Mailbox/mailbox full.pst");
  ASSERT_NE(mailbox, nullptr);
  const std::string records = mailbox->attributes.substr(mailbox->attributes.find("data-records=") + 13);
  const std::uint64_t last = std::stoull(records.substr(records.rfind('/') + 1));
  ASSERT_NE(last, mailbox->mft);
  // The base reference (offset 32) of the last extension now names record 130.
  std::string reference = read(copy, recordOffset(copy, last) + 32, 8);
  ASSERT_EQ(static_cast<unsigned char>(reference[0]) | (static_cast<unsigned char>(reference[1]) << 8), mailbox->mft);
  reference[0] = static_cast<char>(130);
  reference[1] = 0;
  patch(copy, recordOffset(copy, last) + 32, reference);

  const fs::path whole = dir / "whole", part = dir / "part";
  ASSERT_EQ(run({"recover", original.string(), "--path", "/Mailbox", "--to", whole.string()}).exitCode, 0);
  const auto saved = run({"recover", copy.string(), "--path", "/Mailbox", "--to", part.string(), "--json"});
  EXPECT_EQ(saved.exitCode, 1) << saved.err;
  EXPECT_NE(saved.err.find("saved as far as their data goes"), std::string::npos) << saved.err;
  const json doc = json::parse(saved.out);
  EXPECT_EQ(doc["message"], "Saving not completed successfully.");
  EXPECT_EQ(doc["incomplete"], 1);
  const std::string full = test::readFile(whole / "Mailbox" / "mailbox full.pst");
  const std::string partial = test::readFile(part / "Mailbox" / "mailbox full.pst");
  ASSERT_EQ(full.size(), mailbox->size);
  EXPECT_GT(partial.size(), 0u);
  EXPECT_LT(partial.size(), full.size());
  EXPECT_EQ(partial, full.substr(0, partial.size()));
  const std::string history = test::readFile(dir / "home" / "state" / "dravolin" / "Recovery Log.txt");
  EXPECT_NE(history.find("Incomplete : "), std::string::npos);
  // The scan does not list the refused extension as a file of its own.
  const json scan = json::parse(run({"scan", copy.string(), "--json"}).out);
  for (const auto& entry : scan["entries"]) EXPECT_NE(entry["id"], last) << entry["path"];
}

// A file whose $DATA carries the encrypted flag (0x4000) is saved as its raw
// bytes, and the saving report and a warning name it.
TEST_F(NtfsDamageTest, AnEncryptedFileIsSavedRawAndNamed) {
  const fs::path copy = copyOf(test::fixturePath("ntfs-full.img"));
  const MftManifest manifest = readMftManifest("ntfs-full.img", 0);
  const MftRow* letter = manifest.find("/Documents/Letter to Anna.txt");
  ASSERT_NE(letter, nullptr);
  const std::uint64_t at = recordOffset(copy, letter->mft);
  const std::size_t data = attributeOffset(read(copy, at, 1024), 0x80);
  ASSERT_NE(data, 0u);
  patch(copy, at + data + 12, std::string("\x00\x40", 2));  // attribute flags
  const fs::path to = dir / "out";
  const auto saved = run({"recover", copy.string(), "--path", "/Documents/Letter to Anna.txt", "--to", to.string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  EXPECT_NE(saved.err.find("Letter to Anna.txt was encrypted on the volume and is saved as its raw encrypted bytes"),
            std::string::npos)
      << saved.err;
  EXPECT_EQ(sha256File(to / "Documents" / "Letter to Anna.txt"), letter->sha256);
  const std::string history = test::readFile(dir / "home" / "state" / "dravolin" / "Recovery Log.txt");
  EXPECT_NE(history.find("Encrypted : "), std::string::npos) << history;
}

// A torn record keeps its name from the sector before the tear; its data,
// which crosses into the torn sector, is never saved as the file's content.
TEST_F(NtfsDamageTest, ATornRecordIsListedCountedAndNotSavedFromTheTornSector) {
  const fs::path image = test::fixturePath("damaged/ntfs-torn-record.img");
  ASSERT_TRUE(fs::exists(image)) << "run tests/fixtures/build-damaged-images.sh";
  const std::string hash = sha256File(image);
  const auto scan = run({"scan", image.string(), "--json"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_NE(scan.err.find("1 torn MFT record(s)"), std::string::npos) << scan.err;
  auto byPath = entriesByPath(json::parse(scan.out));
  ASSERT_TRUE(byPath.contains("/Resident/six hundred.txt"));

  const fs::path to = dir / "out";
  const auto saved = run({"recover", image.string(), "--path", "/Resident", "--to", to.string(), "--json"});
  EXPECT_EQ(saved.exitCode, 1) << "a file whose data could not be read is no success";
  const json doc = json::parse(saved.out);
  EXPECT_EQ(doc["message"], "Saving not completed successfully.");
  ASSERT_EQ(doc["errors"].size(), 1u) << doc["errors"];
  EXPECT_NE(doc["errors"][0]["path"].get<std::string>().find("six hundred.txt"), std::string::npos);
  EXPECT_EQ(test::readFile(to / "Resident" / "six hundred.txt").find("torn sector"), std::string::npos);
  const MftManifest manifest = readMftManifest("ntfs-full.img", 0);
  EXPECT_EQ(sha256File(to / "Resident" / "tiny note.txt"), manifest.find("/Resident/tiny note.txt")->sha256);
  EXPECT_EQ(sha256File(image), hash);
}

// $MFT's own record claims more data than its runs cover: the walk lists
// the records it reached and says that the rest was not read.
TEST_F(NtfsDamageTest, APartialMftRunListIsSaidAndWhatItReachesIsListed) {
  const fs::path copy = copyOf(test::fixturePath("ntfs-full.img"));
  const std::uint64_t record0 = recordOffset(copy, 0);
  const std::string record = read(copy, record0, 1024);
  // The $DATA attribute of record 0: its data size (at 48) grows by 1 GiB.
  const std::size_t attribute = attributeOffset(record, 0x80);
  ASSERT_NE(attribute, 0u);
  std::uint64_t dataSize = 0;
  std::memcpy(&dataSize, record.data() + attribute + 48, 8);
  const std::uint64_t claimed = dataSize + (1ull << 30);
  std::string bytes(8, '\0');
  std::memcpy(bytes.data(), &claimed, 8);
  patch(copy, record0 + attribute + 48, bytes);

  const auto scan = run({"scan", copy.string(), "--json"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_NE(scan.err.find("the run list of $MFT covers "), std::string::npos) << scan.err;
  EXPECT_NE(scan.err.find(" of " + std::to_string(claimed) + " bytes"), std::string::npos) << scan.err;
  auto byPath = entriesByPath(json::parse(scan.out));
  EXPECT_TRUE(byPath.contains("/Documents/Letter to Anna.txt"));
  const std::string log = test::readFile(dir / "home" / "state" / "dravolin" / "Activity Log.txt");
  EXPECT_NE(log.find("records beyond it were not read"), std::string::npos);
}

// With record 0 of $MFT wiped the walk finds nothing and hands over to the
// sector scan with the switching message.
TEST_F(NtfsDamageTest, AWipedMftRecordHandsOverToTheScan) {
  const fs::path image = test::fixturePath("damaged/ntfs-mft-record0-wiped.img");
  ASSERT_TRUE(fs::exists(image)) << "run tests/fixtures/build-damaged-images.sh";
  const auto scan = run({"scan", image.string(), "--json"});
  EXPECT_NE(scan.err.find("Switching to Exhaustive Search for Lost files & folders. This will take long time."),
            std::string::npos)
      << scan.err;
  const std::string log = test::readFile(dir / "home" / "state" / "dravolin" / "Activity Log.txt");
  EXPECT_NE(log.find("Switching to Exhaustive Mode"), std::string::npos) << log;

  // What the scan found is saved from the record sectors it found, the
  // extents of a file with an attribute list included: every file comes back
  // byte for byte although the MFT run list is gone.
  const fs::path to = dir / "out";
  const auto saved = run({"recover", image.string(), "--all", "--to", to.string(), "--json"});
  ASSERT_EQ(saved.exitCode, 0) << saved.err << saved.out;
  EXPECT_EQ(json::parse(saved.out)["incomplete"], 0);
  auto written = writtenFiles(to);
  int compared = 0;
  for (const auto& row : readMftManifest("ntfs-full.img", 0).rows) {
    if (row.folder) continue;
    SCOPED_TRACE(row.path);
    ASSERT_TRUE(written.contains(row.path)) << "not recovered";
    EXPECT_EQ(sha256File(written[row.path]), row.sha256);
    ++compared;
  }
  EXPECT_GT(compared, 1000);
}

// With record 0 of $MFT and its $MFTMirr copy both wiped the volume check
// refuses the volume, and the plain scan ends there; the exhaustive scan
// does not need them: it goes on with one warning, lists every file and
// folder of the manifest with its size (all but $MFT itself, whose record is
// gone) and exits 0.
TEST_F(NtfsDamageTest, AFailedVolumeCheckIsAWarningForTheExhaustiveScan) {
  const fs::path image = test::fixturePath("damaged/ntfs-mft-and-mirror-wiped.img");
  ASSERT_TRUE(fs::exists(image)) << "run tests/fixtures/build-damaged-images.sh";
  const std::string refusal = "Partition - 1 ( NTFS ): the volume check failed (NTFS boot sector or MFT not valid)";
  const auto plain = run({"scan", image.string()});
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_EQ(plain.err, "dravolin: " + refusal + "\n");

  const auto scan = run({"scan", image.string(), "--exhaustive", "--json"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(scan.err, "dravolin: warning: " + refusal + "; going on, the exhaustive search does not need it\n");
  auto byPath = entriesByPath(json::parse(scan.out));
  int compared = 0;
  for (const auto& row : readMftManifest("ntfs-full.img", 0).rows) {
    if (row.path == "/$MFT") continue;
    SCOPED_TRACE(row.path);
    ASSERT_TRUE(byPath.contains(row.path)) << "not listed";
    EXPECT_EQ(byPath[row.path]["kind"], row.folder ? "folder" : "file");
    if (!row.folder) EXPECT_EQ(byPath[row.path]["size"], row.size);
    EXPECT_EQ(byPath[row.path]["deleted"], row.deleted);
    ++compared;
  }
  EXPECT_GT(compared, 1000);
}

// Two deleted files in hundreds of fragments, with attribute lists, deleted
// as Windows deletes: base and extension records freed with their sequence
// numbers raised, the extensions still naming the base by the sequence it had
// in use. The walk and the scan take those extensions: fragmented.bin is
// listed in /Big and saved whole; nameless.bin, whose name lay in an
// extension record since wiped, is listed under "Lost" as File and its number
// and saved whole too; no file is saved as "_".
TEST_F(NtfsDamageTest, DeletedFilesWithAttributeListsAreListedAndSavedWhole) {
  const fs::path image = test::fixturePath("damaged/ntfs-deleted-attribute-list.img");
  ASSERT_TRUE(fs::exists(image)) << "run tests/fixtures/build-damaged-images.sh";
  const std::string hash = sha256File(image);
  struct Expected {
    std::string path;
    std::uint64_t size;
    std::string sha256;
  };
  std::map<std::string, Expected> expected;  // by the name written
  std::istringstream rows(test::readFile(fs::path(image.string() + ".tsv")));
  for (std::string name, mft, size, sha; std::getline(rows, name, '\t') && std::getline(rows, mft, '\t') &&
                                         std::getline(rows, size, '\t') && std::getline(rows, sha);)
    expected[name] = {name == "Big/nameless.bin" ? "/Lost/File" + mft : "/" + name, std::stoull(size), sha};
  ASSERT_EQ(expected.size(), 2u);

  for (const std::vector<std::string>& mode : {std::vector<std::string>{}, std::vector<std::string>{"--exhaustive"}}) {
    SCOPED_TRACE(mode.empty() ? "MFT walk" : "exhaustive scan");
    std::vector<std::string> args = {"scan", image.string(), "--json"};
    args.insert(args.end(), mode.begin(), mode.end());
    const auto scan = run(args);
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    auto byPath = entriesByPath(json::parse(scan.out));
    for (const auto& [name, file] : expected) {
      SCOPED_TRACE(file.path);
      ASSERT_TRUE(byPath.contains(file.path)) << "not listed";
      EXPECT_EQ(byPath[file.path]["type"], "Deleted File");
      EXPECT_EQ(byPath[file.path]["size"], file.size);
    }
    for (const auto& [path, entry] : byPath) EXPECT_FALSE(entry["name"].get<std::string>().empty()) << path;

    const fs::path to = dir / (mode.empty() ? "walk" : "scan");
    std::vector<std::string> save = {"recover", image.string(), "--path", "/Big", "--path", "/Lost", "--to",
                                     to.string(), "--json"};
    save.insert(save.end(), mode.begin(), mode.end());
    const auto saved = run(save);
    EXPECT_EQ(saved.exitCode, 0) << saved.err << saved.out;
    EXPECT_EQ(json::parse(saved.out)["incomplete"], 0);
    auto written = writtenFiles(to);
    for (const auto& [name, file] : expected) {
      SCOPED_TRACE(file.path);
      ASSERT_TRUE(written.contains(file.path)) << "not saved";
      EXPECT_EQ(sha256File(written[file.path]), file.sha256);
    }
    for (const auto& [path, where] : written) EXPECT_NE(where.filename(), "_") << path;
  }
  EXPECT_EQ(sha256File(image), hash);
}

// An older copy of a deleted file's record, marked in use, lies in a free
// cluster: with the MFT readable the exhaustive search lists the record once,
// as the MFT holds it, and saves the real file under its own name. The copy
// adds nothing: the listing equals the intact volume's.
TEST_F(NtfsDamageTest, AStaleRecordCopyOutsideTheMftNeitherDuplicatesNorReplacesTheRecord) {
  const fs::path image = test::fixturePath("damaged/ntfs-stale-record-copy.img");
  ASSERT_TRUE(fs::exists(image)) << "run tests/fixtures/build-damaged-images.sh";
  const std::string hash = sha256File(image);
  const MftManifest manifest = readMftManifest("ntfs-full.img", 0);
  const MftRow* file = manifest.find("/Deleted document with a long name full.txt");
  ASSERT_NE(file, nullptr);
  const auto scan = run({"scan", image.string(), "--exhaustive", "--json"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const json listing = json::parse(scan.out);
  int copies = 0;
  for (const auto& entry : listing["entries"]) {
    if (entry["id"] != file->mft || entry["kind"] != "file") continue;
    ++copies;
    EXPECT_EQ(entry["type"], "Deleted File");
    EXPECT_EQ(entry["path"], file->path);
  }
  EXPECT_EQ(copies, 1);
  const auto intact = run({"scan", test::fixturePath("ntfs-full.img").string(), "--exhaustive", "--json"});
  ASSERT_EQ(intact.exitCode, 0) << intact.err;
  EXPECT_EQ(listing["entries"], json::parse(intact.out)["entries"]);

  const fs::path to = dir / "out";
  const auto saved =
      run({"recover", image.string(), "--exhaustive", "--path", file->path, "--to", to.string(), "--json"});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  auto written = writtenFiles(to);
  ASSERT_EQ(written.size(), 1u);
  ASSERT_TRUE(written.contains(file->path));
  EXPECT_EQ(sha256File(written[file->path]), file->sha256);
  EXPECT_EQ(sha256File(image), hash);
}

// The walk and the exhaustive search give a record the same kind: a folder
// record with flags 0x07 (in use, a folder, in $Extend, as $Extend/$Deleted)
// is a folder in both, not a 0-byte file in the scan. And an exhaustive
// listing holds "Lost" only when something lies in it: not on intact volumes.
TEST_F(NtfsDamageTest, ARecordHasOneKindInBothSearchesAndLostIsShownOnlyWhenUsed) {
  for (const char* intact : {"ntfs.img", "ntfs-full.img"}) {
    SCOPED_TRACE(intact);
    const auto scan = run({"scan", test::fixturePath(intact).string(), "--exhaustive", "--json"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    const auto listing = json::parse(scan.out);
    for (const auto& entry : listing["entries"]) {
      EXPECT_NE(entry["id"], 0x0FFFFFFF) << entry["path"];
      EXPECT_NE(entry["parent"], 0x0FFFFFFF) << entry["path"];
    }
  }
  const fs::path copy = copyOf(test::fixturePath("ntfs-full.img"));
  const MftManifest manifest = readMftManifest("ntfs-full.img", 0);
  const MftRow* folder = manifest.find("/Documents");
  ASSERT_NE(folder, nullptr);
  const std::uint64_t at = recordOffset(copy, folder->mft);
  ASSERT_EQ(read(copy, at + 22, 2), std::string("\x03\x00", 2));
  patch(copy, at + 22, std::string("\x07\x00", 2));
  for (const std::vector<std::string>& mode : {std::vector<std::string>{}, std::vector<std::string>{"--exhaustive"}}) {
    SCOPED_TRACE(mode.empty() ? "MFT walk" : "exhaustive scan");
    std::vector<std::string> args = {"scan", copy.string(), "--json"};
    args.insert(args.end(), mode.begin(), mode.end());
    const auto scan = run(args);
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    auto byPath = entriesByPath(json::parse(scan.out));
    ASSERT_TRUE(byPath.contains("/Documents"));
    EXPECT_EQ(byPath["/Documents"]["type"], "Folder");
    EXPECT_EQ(byPath["/Documents"]["kind"], "folder");
    EXPECT_EQ(byPath["/Documents"]["id"], folder->mft);
    EXPECT_TRUE(byPath.contains("/Documents/Work"));
  }
}

// Valid volumes made by mkntfs with 4,096-byte sectors and with 128 KiB
// clusters pass the volume check (bytes per sector and the cluster size come
// from the boot sector), list with their size in device sectors, and every
// file comes back whole.
TEST(NtfsLargeUnits, VolumesWith4kSectorsOr128kClustersAreReadWhole) {
  struct Row {
    const char* image;
    std::string sizeText;
  };
  const Row rows[] = {{"damaged/ntfs-4k-sectors.img", "63 MB"}, {"damaged/ntfs-128k-clusters.img", "63 MB"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.image);
    TempDir home;
    const std::string image = test::fixturePath(row.image).string();
    const auto listed = runDravolin({"partitions", image, "--json"}, home.path());
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(json::parse(listed.out)["partitions"][0]["size_text"], row.sizeText) << listed.out;
    const auto saved = runDravolin({"recover", image, "--all", "--to", (home / "out").string(), "-q"}, home.path());
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(test::readFile(home / "out" / "Documents" / "note.txt"), "a note on a volume with large units\n");
    EXPECT_EQ(test::readFile(home / "out" / "spread over clusters.bin"), std::string(300000, 'q'));
  }
}

}  // namespace
}  // namespace dravolin
