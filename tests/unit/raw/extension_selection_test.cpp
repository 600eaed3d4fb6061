#include "raw/extension_selection.h"

#include <gtest/gtest.h>

#include "raw_test_support.h"

namespace dravolin {
namespace {

using test::ticksOf;

const ExtensionEntry& entryNamed(const SignatureTable& table, std::string_view name) {
  for (const auto& e : table)
    if (e.name == name) return e;
  throw std::runtime_error("no entry " + std::string(name));
}

std::vector<std::pair<std::string, bool>> compoundFlags(const SignatureTable& table) {
  std::vector<std::pair<std::string, bool>> out;
  for (const auto& sig : entryNamed(table, "DOC").ends) out.emplace_back(sig.name, sig.selected);
  return out;
}

TEST(SignatureTable, EveryRowGivesAnEntryInRowOrderWithCountersAtZero) {
  SignatureTable table = buildSignatureTable(test::allTicks());
  ASSERT_EQ(table.size(), kExtensionCount);
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(table[i].name, kExtensionNames[i]);
    EXPECT_EQ(table[i].FileCounter, 0u);
  }
}

TEST(SignatureTable, CompoundSubTypesSelectTheDocumentEntryAndFlagOnlyTheirOwnEndSignature) {
  struct Case {
    std::vector<std::string_view> ticked;
    bool docSelected;
    std::vector<std::pair<std::string, bool>> flags;  // DOC, PPT, XLS, PMD
  };
  const std::vector<Case> cases = {
      {{"XLS"}, true, {{"DOC", false}, {"PPT", false}, {"XLS", true}, {"PMD", false}}},
      {{"DOC"}, true, {{"DOC", true}, {"PPT", false}, {"XLS", false}, {"PMD", false}}},
      {{"PPT", "PMD"}, true, {{"DOC", false}, {"PPT", true}, {"XLS", false}, {"PMD", true}}},
      {{"JPEG"}, false, {{"DOC", false}, {"PPT", false}, {"XLS", false}, {"PMD", false}}},
  };
  for (const auto& c : cases) {
    ExtensionTicks ticks{};
    for (auto name : c.ticked) ticks[static_cast<std::size_t>(extensionRow(name))] = true;
    SignatureTable table = buildSignatureTable(ticks);
    EXPECT_EQ(entryNamed(table, "DOC").selected, c.docSelected) << c.ticked.front();
    EXPECT_EQ(compoundFlags(table), c.flags) << c.ticked.front();
    // The sub-type rows never search for themselves.
    for (auto name : {"XLS", "PPT", "PMD"}) EXPECT_FALSE(entryNamed(table, name).selected) << name;
  }
}

TEST(SignatureTable, OnlyTickedRowsAreSelected) {
  SignatureTable table = buildSignatureTable(ticksOf({"JPEG", "ZIP"}));
  for (const auto& e : table) EXPECT_EQ(e.selected, e.name == "JPEG" || e.name == "ZIP") << e.name;
}

TEST(ExtensionList, ParsesNamesInAnyCaseAndAll) {
  auto some = parseExtensionList(" jpeg,PNG , Zip");
  ASSERT_TRUE(some);
  EXPECT_EQ(*some, ticksOf({"JPEG", "PNG", "ZIP"}));
  auto all = parseExtensionList("all");
  ASSERT_TRUE(all);
  EXPECT_EQ(*all, test::allTicks());
  auto empty = parseExtensionList(",");
  ASSERT_TRUE(empty);
  EXPECT_EQ(*empty, ExtensionTicks{});
  auto unknown = parseExtensionList("JPEG,GIF");
  ASSERT_FALSE(unknown);
  EXPECT_NE(unknown.error().message.find("GIF"), std::string::npos);
  EXPECT_NE(unknown.error().message.find("JPEG"), std::string::npos) << "the known names are listed";
}

TEST(RawExtensionPage, LogsTheTickedNamesAndTheSavingPath) {
  test::TempDir dir;
  LogFile log(LogKind::Activity, dir.path());
  auto choice = commitRawExtensionPage(ticksOf({"PDF", "BMP"}), log, [] { return std::string("/out/raw"); });
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->savingPath, "/out/raw");
  EXPECT_TRUE(entryNamed(choice->table, "PDF").selected);
  EXPECT_EQ(test::readFile(log.path()),
            "\r\n\r\n\r\nStep 2 (b) :\r\n-------\r\nSelected Extensions Information : \r\nBMP\r\nPDF\r\n\r\n\r\n"
            "Saving Path : /out/raw");
}

TEST(RawExtensionPage, RefusesNoSelectionAndAnEmptySavingPath) {
  test::TempDir dir;
  LogFile log(LogKind::Activity, dir.path());
  bool dialogShown = false;
  auto none = commitRawExtensionPage(ExtensionTicks{}, log, [&] {
    dialogShown = true;
    return std::string("/out");
  });
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().message, "Please select extensions to start.");
  EXPECT_FALSE(dialogShown) << "no selection never reaches the saving path";

  auto noPath = commitRawExtensionPage(ticksOf({"JPEG"}), log, [] { return std::string(); });
  ASSERT_FALSE(noPath);
  EXPECT_EQ(noPath.error().message, "Please specify destination/saving path.");
  const std::string content = test::readFile(log.path());
  EXPECT_NE(content.find("\r\nPlease specify destination/saving path"), std::string::npos);
  EXPECT_EQ(content.find("Saving Path"), std::string::npos);
}

}  // namespace
}  // namespace dravolin
