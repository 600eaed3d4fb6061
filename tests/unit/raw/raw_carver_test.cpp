#include "raw/raw_carver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "disk/fault_injecting_source.h"
#include "disk/memory_source.h"
#include "raw_test_support.h"

namespace dravolin {
namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;
using test::place;
using test::placeU32;

struct Found {
  std::string type;
  SectorNumber start = 0;
  std::uint64_t sectors = 0;
  std::uint32_t number = 0;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& f) {
  return out << f.type << "#" << f.number << "@" << f.start << "+" << f.sectors;
}

// A carving run on an image in memory, with its own folders and logs.
struct Carving {
  test::TempDir dir;
  fs::path out = dir / "out";
  LogFile activity{LogKind::Activity, dir / "logs"};
  LogFile recovery{LogKind::Recovery, dir / "logs"};
  test::CarvingJob job;
  SignatureTable table;
  std::uint32_t blockSectors = 1000;
  std::uint32_t transferBlocks = 8;
  std::uint64_t windowSectors = 0;
  CarvedFileTarget target;
  RawCarvingResult result;

  Carving() {
    fs::create_directories(out);
    target.savingPath = out;
  }

  RawCarvingResult run(SectorSource& source, SectorNumber start, SectorNumber end) {
    SectorReader reader(source);
    reader.setSelectionEnd(static_cast<std::int64_t>(end));
    reader.setPolicy(BadSectorPolicy::SkipAll);
    RawCarvingSettings settings;
    settings.start = start;
    settings.end = end;
    settings.target = target;
    settings.caption = "Dravolin - Raw Recovery";
    settings.versionText = "Version 0.1.0";
    settings.dateLine = "9:05 - Sunday, December 06, 2026";
    settings.elapsedText = [] { return std::string("0 : 0 : 7"); };
    settings.blockSectors = blockSectors;
    settings.transferBlocks = transferBlocks;
    settings.windowSectors = windowSectors;
    RawCarver carver(reader, table, activity, recovery, settings);
    carver.run(job);
    result = carver.result();
    return result;
  }
  RawCarvingResult run(std::vector<std::byte> image, const ExtensionTicks& ticks) {
    table = buildSignatureTable(ticks);
    MemorySectorSource source(image);
    return run(source, 0, source.sectorCount());
  }

  std::vector<Found> found() const {
    std::vector<Found> list;
    for (const auto& f : result.files)
      list.push_back({f.type, f.startSector, f.sectors,
                      static_cast<std::uint32_t>(std::stoul(fs::path(f.path).stem().string()))});
    return list;
  }
};

// What the scan finds by its rules, sector by sector, with the whole range
// as one buffer (an end signature that straddles sectors is found wherever
// it lies, nothing past the range end matches). A candidate still open at
// the range end is given up and the scan restarts after its header.
std::vector<Found> referenceCarve(SignatureTable table, const std::vector<std::byte>& image, SectorNumber start,
                                  SectorNumber end, int* restarts = nullptr) {
  const ByteSpan range = ByteSpan(image).first(end * kSectorSize);
  std::vector<Found> out;
  CompoundState compound;
  HeaderMatch match;
  bool active = false;
  SectorNumber b = 0;
  auto lookAhead = [&](SectorNumber from) {
    const ExtensionEntry& entry = table[static_cast<std::size_t>(match.entry)];
    return lookAheadDatabaseEnd(from, end, entry.headers[0].bytes, std::byte{1},
                                [&](SectorNumber first, std::span<std::byte> group) {
                                  for (std::size_t i = 0; i < group.size(); ++i) {
                                    std::size_t at = first * kSectorSize + i;
                                    group[i] = at < image.size() ? image[at] : std::byte{0};
                                  }
                                });
  };
  for (SectorNumber s = start;;) {
    if (s >= end) {
      if (!active) break;
      active = false;
      s = b + 1;
      if (restarts) ++*restarts;
      continue;
    }
    if (!active) {
      match = MatchHeader(table, range.subspan(s * kSectorSize, kSectorSize));
      if (!match.found()) {
        ++s;
        continue;
      }
      active = true;
      b = s;
      compound.clear();
    }
    ExtensionEntry& entry = table[static_cast<std::size_t>(match.entry)];
    FileEnd fileEnd;
    const int r = FindFileEnd(entry, range.subspan(b * kSectorSize, kSectorSize), range.subspan(s * kSectorSize), b,
                              s, compound, fileEnd, lookAhead);
    const bool examinedAll = s - b + 1 >= std::max<std::uint32_t>(match.maxSearchSectors, 1);
    if (r == kEndFound) {
      active = false;
      if (compound.subTypeSeen && !compound.subTypeSelected) {
        s = b + 1;
        if (restarts) ++*restarts;
        continue;
      }
      out.push_back({fileEnd.name, b, fileEnd.sizeSectors, fileEnd.fileNumber});
      s = examinedAll ? b + 1 : s + 1;
      continue;
    }
    if (examinedAll || r == kEndRejected) {
      active = false;
      s = b + 1;
      if (restarts) ++*restarts;
      continue;
    }
    ++s;
  }
  return out;
}

std::vector<std::byte> readBytes(const fs::path& file) {
  std::string s = test::readFile(file);
  std::vector<std::byte> out(s.size());
  std::memcpy(out.data(), s.data(), s.size());
  return out;
}

std::vector<std::byte> sectorsOf(const std::vector<std::byte>& image, SectorNumber first, std::uint64_t count) {
  std::vector<std::byte> out(count * kSectorSize);
  for (std::size_t i = 0; i < out.size(); ++i) {
    std::size_t at = first * kSectorSize + i;
    out[i] = at < image.size() ? image[at] : std::byte{0};
  }
  return out;
}

TEST(RawCarver, SavesEachFileInItsTypeFolderNumberedInTheOrderFound) {
  auto image = test::blankImage(64);
  place(image, 3, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF"sv);
  place(image, 5, 200, "\xFF\xD9"sv);                    // JPEG 0: sectors 3..6
  place(image, 10, 0, "%PDF-1.4"sv);
  place(image, 12, 20, "%%EOF"sv);                       // PDF 0: 10..13
  place(image, 20, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);  // JPEG 1: 20..21
  place(image, 30, 0, "<html><p>x</p></html>"sv);        // HTML 0: 30 only
  Carving c;
  c.run(image, test::ticksOf({"JPEG", "PDF", "HTML"}));
  EXPECT_EQ(c.found(), (std::vector<Found>{{"JPEG", 3, 4, 0}, {"PDF", 10, 4, 0}, {"JPEG", 20, 2, 1}, {"HTML", 30, 1, 0}}));
  for (const auto& f : c.result.files) {
    EXPECT_TRUE(f.written);
    EXPECT_EQ(readBytes(f.path), sectorsOf(image, f.startSector, f.sectors)) << f.path;
  }
  EXPECT_TRUE(fs::exists(c.out / "JPEG" / "0.JPEG"));
  EXPECT_TRUE(fs::exists(c.out / "JPEG" / "1.JPEG"));
  EXPECT_TRUE(fs::exists(c.out / "PDF" / "0.PDF"));
  EXPECT_TRUE(fs::exists(c.out / "HTML" / "0.HTML"));
  EXPECT_EQ(c.result.filesFound, 4u);
  EXPECT_EQ(c.result.bytesRecovered, (4u + 4 + 2 + 1) * kSectorSize);
  EXPECT_EQ(c.result.lastName, (c.out / "HTML" / "0.HTML").string());
  EXPECT_EQ(c.job.completed, Completion::WorkerFinished);
  EXPECT_EQ(c.job.statuses.front(), "Searching Selected Extensions. Please Wait...");
  EXPECT_EQ(c.job.percents.back(), 100);
  EXPECT_FALSE(c.result.aborted);
  EXPECT_EQ(c.result.message, "Raw Saving Completed Successfully.");
}

TEST(RawCarver, RiffFilesGoToAviWhenAviAndCdrAreBothSelected) {
  auto image = test::blankImage(32);
  place(image, 4, 0, "RIFF"sv);
  placeU32(image, 4, 4, 1500);  // 1500 / 512 + 2 = 4 sectors
  Carving both;
  both.run(image, test::ticksOf({"AVI", "CDR"}));
  EXPECT_EQ(both.found(), (std::vector<Found>{{"AVI", 4, 4, 0}}));
  Carving cdr;
  cdr.run(image, test::ticksOf({"CDR"}));
  EXPECT_EQ(cdr.found(), (std::vector<Found>{{"CDR", 4, 4, 0}}));
}

TEST(RawCarver, ARejectedBitmapResumesTheScanAtTheFollowingSector) {
  auto image = test::blankImage(32);
  place(image, 5, 0, "BM"sv);
  placeU32(image, 5, 2, 0);          // size 0: rejected
  place(image, 6, 0, "BM"sv);
  placeU32(image, 6, 2, 200000000);  // above 104,857,600: rejected
  place(image, 7, 0, "BM"sv);
  placeU32(image, 7, 2, 600);        // 600 / 512 + 2 = 3 sectors
  Carving c;
  c.run(image, test::ticksOf({"BMP"}));
  EXPECT_EQ(c.found(), (std::vector<Found>{{"BMP", 7, 3, 0}}));
}

TEST(RawCarver, AnAbandonedCandidateRestartsAfterItsHeaderBehindWhatWasRead) {
  // A source file ("// ") without an end: abandoned after 1000 sectors; the
  // scan then goes back to the sector after it and finds the JPEG inside,
  // which it skipped while it followed the candidate.
  auto image = test::blankImage(2600);
  place(image, 100, 0, "// a comment"sv);
  place(image, 102, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  for (std::uint32_t block : {1000u, 7u}) {
    Carving c;
    c.blockSectors = block;
    c.transferBlocks = 3;
    c.run(image, test::ticksOf({"CPP", "JPEG"}));
    EXPECT_EQ(c.found(), (std::vector<Found>{{"JPEG", 102, 2, 0}})) << block;
  }
}

TEST(RawCarver, ALaterCandidateUsesWhatAnEarlierSearchFound) {
  // The source file at 100 is given up after sector 1099 (no end before
  // 1100); the scan restarts at 101 and the one at 105 finds the end in
  // sector 1100, which the first search was not allowed to look at.
  auto image = test::blankImage(3000);
  for (SectorNumber s : {100, 105, 110}) place(image, s, 0, "// source"sv);
  place(image, 1100, 40, "}\r\n\x00\x00"sv);
  Carving c;
  c.table = buildSignatureTable(test::ticksOf({"CPP"}));
  MemorySectorSource source(image);
  c.run(source, 0, 3000);
  EXPECT_EQ(c.found(), (std::vector<Found>{{"CPP", 105, 997, 0}}));
  EXPECT_EQ(c.found(), referenceCarve(buildSignatureTable(test::ticksOf({"CPP"})), image, 0, 3000));
}

TEST(RawCarver, AnEndSignatureAcrossTheBoundaryOfTwoReadsIsFound) {
  // "%%EOF" begins in the last sector of the first 1000-sector block and
  // ends in the first sector of the next one.
  auto image = test::blankImage(2100);
  place(image, 990, 0, "%PDF-1.4"sv);
  place(image, 999, 509, "%%EOF"sv);
  place(image, 1500, 0, "%%EOF"sv);  // the next end a scan that missed it would take
  Carving c;
  c.run(image, test::ticksOf({"PDF"}));
  EXPECT_EQ(c.found(), (std::vector<Found>{{"PDF", 990, 11, 0}}));
}

TEST(RawCarver, CompoundSubTypesFollowTheSelection) {
  auto image = test::blankImage(80);
  auto compound = [&](SectorNumber at, std::string_view stream, std::string_view end) {
    place(image, at, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv);
    place(image, at + 2, 0, test::utf16("Root Entry"));
    place(image, at + 2, 128, test::utf16(stream));
    place(image, at + 3, 64, end);
  };
  compound(10, "WordDocument", "Word.Document.8"sv);
  compound(20, "Workbook", "\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x04"sv);
  compound(30, "PowerPoint Document", "\x00\x00\x00\x14\x00\x00\x00\x5F\xC0\x91\xE3"sv);
  compound(40, "Workbook", "\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x04"sv);
  struct Case {
    std::vector<std::string_view> ticked;
    std::vector<Found> expected;
  };
  const std::vector<Case> cases = {
      // One counter for all sub-types: a dropped document still used its number.
      {{"XLS"}, {{"XLS", 20, 5, 1}, {"XLS", 40, 5, 3}}},
      {{"DOC"}, {{"DOC", 10, 5, 0}}},
      {{"DOC", "PPT"}, {{"DOC", 10, 5, 0}, {"PPT", 30, 5, 2}}},
      {{"DOC", "XLS", "PPT"}, {{"DOC", 10, 5, 0}, {"XLS", 20, 5, 1}, {"PPT", 30, 5, 2}, {"XLS", 40, 5, 3}}},
  };
  for (const auto& k : cases) {
    ExtensionTicks ticks{};
    for (auto t : k.ticked) ticks[static_cast<std::size_t>(extensionRow(t))] = true;
    Carving c;
    c.run(image, ticks);
    EXPECT_EQ(c.found(), k.expected) << k.ticked.size();
    for (const auto& f : c.result.files) EXPECT_EQ(fs::path(f.path).parent_path().filename(), f.type);
  }
}

TEST(RawCarver, DatabaseEndsByItsPageLookAhead) {
  auto image = test::blankImage(64);
  place(image, 8, 0, "\x00\x01\x00\x00Standard Jet DB"sv);
  for (SectorNumber s : {9, 13, 17, 21}) image[s * kSectorSize + 1] = std::byte{1};  // marked pages
  Carving c;
  c.run(image, test::ticksOf({"MDB"}));
  EXPECT_EQ(c.found(), (std::vector<Found>{{"MDB", 8, 15, 0}}));  // 21 - 8 + 2
}

TEST(RawCarver, StoppingEndsAsAbortedAndStillWritesTheStatistics) {
  auto image = test::blankImage(5000);
  place(image, 10, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  place(image, 3000, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  Carving c;
  c.job.stopAfterCheckpoints = 1;  // Stop pressed during the first block
  c.run(image, test::ticksOf({"JPEG"}));
  EXPECT_TRUE(c.result.aborted);
  EXPECT_EQ(c.result.message, "Raw Search Aborted.");
  EXPECT_EQ(c.found(), (std::vector<Found>{{"JPEG", 10, 2, 0}}));
  EXPECT_EQ(c.result.currentSector, 1000u);
  const std::string activity = test::readFile(c.activity.path());
  const std::string values =
      "\r\nTime Elapsed : 0 : 0 : 7\r\nCurrent Sector : 1000 / 5000\r\nBytes Recovered : 0.001 MB"
      "\r\nFiles Found : 1\r\nLast Name : " + (c.out / "JPEG" / "0.JPEG").string();
  EXPECT_EQ(activity, "\r\n\r\n\r\nStep 3 :\r\n-------\r\nRaw Recovery for Selected Extensions : " + values +
                          "\r\nRaw Search Aborted");
  EXPECT_EQ(test::readFile(c.recovery.path()),
            "\r\n-----------------------Start--------------------------\r\nDravolin - Raw Recovery\r\nVersion 0.1.0"
            "\r\n9:05 - Sunday, December 06, 2026\r\n\r\n\r\nRaw Recovery for Selected Extensions :"
            "\r\n-------------------------------------" + values + "\r\nRaw Search Aborted");
}

TEST(RawCarver, CompletedRunLogsCompletionToBothLogs) {
  Carving c;
  c.run(test::blankImage(10), test::ticksOf({"JPEG"}));
  for (const auto& log : {c.activity.path(), c.recovery.path()}) {
    const std::string text = test::readFile(log);
    EXPECT_NE(text.find("\r\nFiles Found : 0\r\nLast Name : \r\nRaw Search Completed\r\nRaw Saving Completed Successfully."),
              std::string::npos)
        << log;
  }
}

TEST(RawCarver, AFullTargetAsksForAnotherFolderOrToStop) {
  auto image = test::blankImage(40);
  place(image, 2, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  place(image, 9, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  {
    // No new folder given, then Yes to stop.
    Carving c;
    c.target.freeSpace = [](const fs::path&) { return std::optional<std::uint64_t>(1024); };  // not more than 2 sectors
    c.target.askSavingPath = [] { return std::string(); };
    c.job.questions.yesNoAnswers = {false, true};
    c.run(image, test::ticksOf({"JPEG"}));
    EXPECT_TRUE(c.result.aborted);
    EXPECT_TRUE(c.job.stop);
    EXPECT_EQ(c.result.filesFound, 0u);
    EXPECT_EQ(c.job.questions.messages, std::vector<std::string>{"Insufficient free space on target. Please change target drive."});
    EXPECT_EQ(c.job.questions.questions,
              (std::vector<std::string>{"Are you sure you want to stop Raw Search/Save process",
                                        "Are you sure you want to stop Raw Search/Save process"}));
    EXPECT_NE(test::readFile(c.activity.path()).find("Raw Search Aborted"), std::string::npos);
  }
  {
    // Another folder with room: this and later files go there.
    Carving c;
    const fs::path other = c.dir / "other";
    fs::create_directories(other);
    c.target.freeSpace = [&](const fs::path& p) { return std::optional<std::uint64_t>(p == other ? 1u << 20 : 0); };
    c.target.askSavingPath = [&] { return other.string(); };
    c.run(image, test::ticksOf({"JPEG"}));
    EXPECT_FALSE(c.result.aborted);
    EXPECT_TRUE(fs::exists(other / "JPEG" / "0.JPEG"));
    EXPECT_TRUE(fs::exists(other / "JPEG" / "1.JPEG"));
    EXPECT_EQ(c.job.questions.messages.size(), 1u);
  }
}

TEST(RawCarver, AFileThatCannotBeCreatedIsCountedButNotWritten) {
  auto image = test::blankImage(16);
  place(image, 2, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  Carving c;
  test::writeFile(c.out / "JPEG", "a file where the folder should be");
  c.run(image, test::ticksOf({"JPEG"}));
  EXPECT_EQ(c.result.filesFound, 1u);
  ASSERT_EQ(c.result.files.size(), 1u);
  EXPECT_FALSE(c.result.files[0].written);
  EXPECT_EQ(c.result.bytesRecovered, 0u);
}

// A second run into the same folder keeps the first run's files: numbers go
// on after the highest "<n>.<TYPE>" in each type folder (other names do not
// count), so also a read-only earlier file stays as it was.
TEST(RawCarver, AnEarlierRunsFilesAreKeptAndNumberingGoesOnAfterThem) {
  auto image = test::blankImage(16);
  place(image, 2, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  place(image, 6, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  struct Case {
    const char* what;
    std::vector<std::string> existing;  // files in out/JPEG before the run
    std::vector<std::string> expected;  // names the two new files get
  };
  const std::vector<Case> cases = {
      {"an empty folder", {}, {"0.JPEG", "1.JPEG"}},
      {"a read-only 0.JPEG", {"0.JPEG"}, {"1.JPEG", "2.JPEG"}},
      {"a gap and other names", {"0.JPEG", "7.JPEG", "x.JPEG", "12.PNG", "30.JPEG.bak", "9"}, {"8.JPEG", "9.JPEG"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Carving c;
    fs::create_directories(c.out / "JPEG");
    for (const auto& name : k.existing) {
      test::writeFile(c.out / "JPEG" / name, "earlier run: " + name);
      fs::permissions(c.out / "JPEG" / name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    c.run(image, test::ticksOf({"JPEG"}));
    ASSERT_EQ(c.result.files.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_TRUE(c.result.files[i].written);
      EXPECT_EQ(c.result.files[i].path, (c.out / "JPEG" / k.expected[i]).string());
    }
    for (const auto& name : k.existing) EXPECT_EQ(test::readFile(c.out / "JPEG" / name), "earlier run: " + name);
    EXPECT_EQ(c.result.message, "Raw Saving Completed Successfully.");
  }
}

TEST(RawCarver, SectorsPastTheSelectionEndAreSavedAsZeros) {
  auto image = test::blankImage(40);
  place(image, 10, 0, "BM"sv);
  placeU32(image, 10, 2, 5 * 512);  // 7 sectors: 10..16, the range ends at 14
  for (SectorNumber s = 10; s < 40; ++s) image[s * kSectorSize + 100] = std::byte{'x'};
  Carving c;
  c.table = buildSignatureTable(test::ticksOf({"BMP"}));
  MemorySectorSource source(image);
  c.run(source, 0, 14);
  ASSERT_EQ(c.found(), (std::vector<Found>{{"BMP", 10, 7, 0}}));
  auto saved = readBytes(c.result.files[0].path);
  auto expected = sectorsOf(image, 10, 5);  // 10..14: sector 14 is the selection end, read as the guard allows
  expected.resize(7 * kSectorSize);        // 15 and 16 lie past it
  EXPECT_EQ(saved, expected);
}

TEST(RawCarver, ARangeStartsAndEndsWhereItIsTold) {
  auto image = test::blankImage(40);
  place(image, 5, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  place(image, 25, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  place(image, 35, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  Carving c;
  c.table = buildSignatureTable(test::ticksOf({"JPEG"}));
  MemorySectorSource source(image);
  c.run(source, 20, 30);
  EXPECT_EQ(c.found(), (std::vector<Found>{{"JPEG", 25, 2, 0}}));
  EXPECT_EQ(c.result.currentSector, 30u);
  Carving empty;
  empty.table = c.table;
  empty.run(source, 30, 30);
  EXPECT_TRUE(empty.found().empty());
  EXPECT_EQ(empty.result.message, "Raw Saving Completed Successfully.");
}

// Random images full of headers, end signatures (also across sector
// boundaries), size fields, directory sectors and marked pages; small
// search limits make candidates give up and restart often. The carver with
// its large reads, dispatch, bulk end search and window must find exactly
// what the sector-by-sector rules find, whatever its block and read sizes.
TEST(RawCarver, FindsExactlyWhatTheSectorBySectorRulesFind) {
  std::mt19937 rng(77);
  const SignatureTable all = buildSignatureTable(test::allTicks());
  std::vector<std::vector<std::byte>> headers, ends;
  for (const auto& e : all) {
    for (const auto& h : e.headers) {
      std::vector<std::byte> bytes(static_cast<std::size_t>(h.offset), std::byte{0});
      bytes.insert(bytes.end(), h.bytes.begin(), h.bytes.end());
      headers.push_back(bytes);
    }
    for (const auto& x : e.ends) ends.push_back(x.bytes);
  }
  const std::vector<std::string> streams = {"WordDocument", "Workbook", "PowerPoint Document", "PageMaker"};
  std::size_t exercised = 0;
  for (int round = 0; round < 16; ++round) {
    const std::size_t sectors = 1500 + rng() % 1500;
    std::vector<std::byte> image(sectors * kSectorSize);
    for (auto& b : image) b = static_cast<std::byte>(rng() % 251 + 5);  // no zeros by chance
    // Every other round end signatures are rare: candidates are given up
    // and restarted, and later ones pass over what earlier ones searched.
    const unsigned ends_ = round % 2 == 0 ? 12 : 1;
    for (std::size_t s = 0; s < sectors; ++s) {
      auto kind = static_cast<unsigned>(rng() % 100);
      if (kind >= 8 && kind < 20) kind = kind - 8 < ends_ ? kind : 40;  // thin out the end signatures
      std::byte* sector = image.data() + s * kSectorSize;
      if (kind < 8) {
        const auto& h = headers[rng() % headers.size()];
        std::memcpy(sector, h.data(), h.size());
        const std::uint32_t sizes[] = {0, 1, 700, 5000, 40000, 0xFFFFFFFF};
        const std::uint32_t size = sizes[rng() % 6];
        if (rng() % 2) std::memcpy(sector + 2, &size, 4);
        else std::memcpy(sector + 4, &size, 4);
        if (rng() % 4 == 0) std::memcpy(sector + h.size(), h.data(), std::min<std::size_t>(h.size(), 4));
      } else if (kind < 20) {
        const auto& e = ends[rng() % ends.size()];
        std::size_t at = rng() % 3 == 0 ? kSectorSize - 1 - rng() % e.size() : rng() % (kSectorSize - e.size());
        if (s + 1 == sectors) at = std::min(at, kSectorSize - e.size());
        std::memcpy(sector + at, e.data(), e.size());
      } else if (kind < 23) {
        std::string dir = test::utf16("Root Entry");
        std::memcpy(sector, dir.data(), dir.size());
        std::string name = test::utf16(streams[rng() % streams.size()]);
        std::memcpy(sector + 128 * (1 + rng() % 3), name.data(), name.size());
      } else if (kind < 30) {
        sector[1] = std::byte{1};
      } else if (kind < 33) {
        std::memset(sector, 0, kSectorSize);
      }
    }
    ExtensionTicks ticks{};
    for (auto& t : ticks) t = rng() % 3 != 0;
    SignatureTable table = buildSignatureTable(ticks);
    for (auto& e : table) {
      e.MaxSearchSectors = static_cast<std::uint32_t>(20 + rng() % 400);
      // Small limits keep the files small; the rules stay the same.
      e.MaxFileBytes = std::min<std::uint32_t>(e.MaxFileBytes, 30000);
    }
    const SectorNumber start = rng() % 50;
    const SectorNumber end = sectors - rng() % 50;
    int restarts = 0;
    const std::vector<Found> expected = referenceCarve(table, image, start, end, &restarts);
    exercised += expected.size() + static_cast<std::size_t>(restarts);
    struct Reads {
      std::uint32_t block, transfer;
      std::uint64_t window;
    };
    for (auto [block, transfer, window] : std::vector<Reads>{{1000, 2, 0}, {7, 3, 0}, {1, 2, 0}, {64, 1, 0}, {5, 2, 60}}) {
      Carving c;
      c.table = table;
      c.blockSectors = block;
      c.transferBlocks = transfer;
      c.windowSectors = window;
      MemorySectorSource source(image);
      c.run(source, start, end);
      ASSERT_EQ(c.found(), expected) << "round " << round << " block " << block << " transfer " << transfer;
    }
  }
  EXPECT_GT(exercised, 200u) << "files found and restarts: the images must exercise the carver";
}

TEST(RawCarver, UnreadableSectorsAreZerosAndTheScanGoesOn) {
  auto image = test::blankImage(3000);
  place(image, 100, 0, "%PDF-1.4"sv);
  place(image, 150, 0, "%%EOF"sv);  // lies in an unreadable chunk: the PDF ends later
  place(image, 400, 0, "%%EOF"sv);
  place(image, 2000, 0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\xFF\xD9"sv);
  MemorySectorSource memory(image);
  FaultInjectingSource faulty(memory, {151});
  Carving c;
  c.table = buildSignatureTable(test::ticksOf({"PDF", "JPEG"}));
  c.run(faulty, 0, 3000);
  // Under Skip All the 40-sector chunk of the 1000-sector read holding
  // sector 151 (sectors 120..159) is lost.
  EXPECT_EQ(c.found(), (std::vector<Found>{{"PDF", 100, 302, 0}, {"JPEG", 2000, 2, 0}}));
}

}  // namespace
}  // namespace dravolin
