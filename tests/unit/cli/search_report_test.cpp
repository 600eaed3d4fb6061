// The end of a search job on the command line: each loss of the search and
// the sectors read as zeros on stderr, the same in the JSON (streamed for
// scan, as a tree for find), and the exit code: 130 after a stop, 1 when
// anything could not be read, 0 otherwise.
#include <gtest/gtest.h>

#include "cli/search_results.h"
#include "support/test_support.h"

namespace dravolin::cli {
namespace {

TEST(SearchReport, LossesAndUnreadableSectorsAreNamedAndDecideTheExitCode) {
  struct Case {
    const char* name;
    bool loss;        // the search lost a folder's sectors
    bool unreadable;  // the job's watch saw sectors read as zeros
    bool stopped;
    int exitCode;
    std::vector<std::string> lines;  // on stderr, in order
  };
  const std::string lossLine = "dravolin: Folder /MANY: ";
  const std::string zerosLine = "dravolin: 8 unreadable sectors were read as zeros: 8 sectors: 1234-1241";
  const std::string stopLine = "dravolin: search stopped at sector 499 of 2000 (25%): the listing holds what was found before";
  const Case cases[] = {
      {"healthy", false, false, false, kExitOk, {}},
      {"loss", true, true, false, kExitFailure, {lossLine, zerosLine}},
      {"sectors only", false, true, false, kExitFailure, {zerosLine}},
      {"stopped after a loss", true, true, true, kExitInterrupted, {lossLine, zerosLine, stopLine}},
      {"stopped", false, false, true, kExitInterrupted, {stopLine}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    Session session(test::isolatedEnvironment(dir));
    FoundEntries& entries = session.entries;
    entries.AddDirectoryNode("MANY", u"", false, 0, 5, 0, {}, 0);
    entries.AddFileNode("A.TXT", u"", false, 10, 5, 9, 0, {});
    if (c.loss)
      entries.Losses.add(ReadLoss{ReadLossKind::FolderSectors, 5, 0, {{1234, 1242}}, 128, {}});
    ResultTree tree(entries, FsType::Fat16);
    tree.build();
    UnreadableSectors unreadable;
    if (c.unreadable) unreadable.add(1234, 8);
    if (c.stopped) session.searchStop = SearchStop{true, false, 499, 0, 2000};

    testing::internal::CaptureStderr();
    const int code = reportSearchEnd(session, &tree, unreadable, false);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, c.exitCode);
    std::size_t at = 0;
    for (const std::string& line : c.lines) {
      const std::size_t found = err.find(line, at);
      ASSERT_NE(found, std::string::npos) << line << "\n" << err;
      at = found + line.size();
    }
    if (c.lines.empty()) EXPECT_EQ(err, "");

    // The JSON: the streamed list reads as the tree's, in the shape scripts use.
    const nlohmann::json losses = readLossesJson(tree);
    std::string streamed;
    JsonWriter json(streamed);
    writeLossesJson(json, tree);
    EXPECT_EQ(streamed, losses.dump(2));
    if (c.loss) {
      EXPECT_EQ(losses, nlohmann::json::parse(R"([{"kind": "folder_sectors", "folder": "/MANY",
                                                   "sectors": [[1234, 1242]], "entries_lost": 128,
                                                   "records": []}])"));
    } else {
      EXPECT_EQ(losses, nlohmann::json::array());
    }
    EXPECT_EQ(sectorRangesJson(unreadable.ranges()),
              c.unreadable ? nlohmann::json::parse("[[1234, 1242]]") : nlohmann::json::array());
    const nlohmann::json covered = c.stopped ? nlohmann::json::parse(R"({"start": 0, "end": 500})") : nullptr;
    EXPECT_EQ(coveredJson(session.searchStop), covered);
  }
}

}  // namespace
}  // namespace dravolin::cli
