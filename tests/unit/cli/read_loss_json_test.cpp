// The JSON of what a job could not read, as every command writes it:
// "unreadable" always, "losses" when the search behind the tree lost anything,
// each loss with its folder as the tree shows it.
#include "cli/read_loss_json.h"

#include <gtest/gtest.h>

namespace dravolin::cli {
namespace {

using nlohmann::json;

TEST(ReadLossJson, UnreadableAlwaysAndLossesWithTheirFolders) {
  FoundEntries entries;
  entries.AddDirectoryNode("", u"MANY", false, 0, 100, 0, {});
  ResultTree tree(entries, FsType::Fat16);
  tree.build();

  json healthy = {{"message", "x"}};
  addReadLossJson(healthy, {}, &tree);
  EXPECT_EQ(healthy, (json{{"message", "x"}, {"unreadable", json::array()}}));

  entries.Losses.add({ReadLossKind::FolderSectors, 100, 0, {{1234, 1242}}, 128, {}});
  entries.Losses.add({ReadLossKind::MftRecord, 100, 0, {{90000, 90002}, {95000, 95001}}, 0, {5000, 5001}});
  json doc = json::object();
  addReadLossJson(doc, {{1234, 1242}, {90000, 90002}}, &tree);
  EXPECT_EQ(doc, json::parse(R"({
    "unreadable": [[1234, 1242], [90000, 90002]],
    "losses": [
      {"kind": "folder_sectors", "folder": "/MANY", "sectors": [[1234, 1242]], "entries_lost": 128, "records": []},
      {"kind": "mft_record", "folder": "/MANY", "sectors": [[90000, 90002], [95000, 95001]], "entries_lost": 0,
       "records": [5000, 5001]}]})"));
}

}  // namespace
}  // namespace dravolin::cli
