#include <gtest/gtest.h>

#include <filesystem>

#include "store_text.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

class JournalCli : public OnEachStore {
 protected:
  void SetUp() override {
    OnEachStore::SetUp();
    if (IsSkipped()) return;
    scratch.emplace(store(), false);
    root = scratch->root() + "/suite";
    file = root + "/medi/post1003.dat";
    ASSERT_EQ(run_tool(scratch->root(), scratch->tool_args("demo", root)).status, 0);
  }
  ToolRun tool(std::vector<std::string> args) const {
    args.insert(args.begin() + 1, {"--root", root});
    return run_tool(scratch->root(), args);
  }
  // The database as the tool sees it: on the file store its bytes.
  std::string state() const {
    if (store() == StoreKind::file) return slurp(root + "/mdb/KIV.mdb");
    auto db = store::Connection::open(SuitePaths{root});
    return all_rows(db);
  }
  std::optional<TempSuite> scratch;
  std::string root, file;
};
KIV_ON_EACH_STORE(JournalCli);

TEST_P(JournalCli, DryRunLeavesTheDatabaseAsItWasAndCountsAsTheRunThatFollows) {
  const std::string before = state();
  const ToolRun dry = tool({"post", "--json", "--dry-run", "--lines", file});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_TRUE(state() == before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root + "/medi"), {}), 1) << "no error log";
  EXPECT_EQ(json_field(dry.out, "log") + json_field(dry.out, "dry_run"), "nulltrue");

  const ToolRun real = tool({"post", "--json", file});
  EXPECT_EQ(std::to_string(real.status) + json_field(real.out, "run"), "01")
      << "the dry run recorded no run" << real.err;
  for (const char* key : {"lines", "ok", "failed", "errors", "posted_total", "balance"}) {
    EXPECT_EQ(json_field(dry.out, key), json_field(real.out, key)) << key;
  }
  EXPECT_NE(json_field(real.out, "balance").find("\"difference\":0}"), std::string::npos) << real.out;
  std::size_t outcomes = 0;
  for (std::size_t at = 0; (at = dry.out.find("{\"line\":", at)) != std::string::npos; ++at) ++outcomes;
  EXPECT_EQ(outcomes, 300u) << "--lines gives every line's outcome";
}

TEST_P(JournalCli, SameFileRefusedWithoutAgainHistoryShowsBothAndUndoTakesBackOrListsTheRowsChangedSince) {
  ASSERT_EQ(tool({"post", file}).status, 0);
  const ToolRun refused = tool({"post", file});
  EXPECT_TRUE(refused.status == 1 && refused.err.find("此檔案已於 ") != std::string::npos &&
              refused.err.find(" 入帳,是否再次入帳?") != std::string::npos)
      << refused.err;
  EXPECT_EQ(refused.out, "") << "nothing was posted, so nothing is counted";
  const ToolRun again = tool({"post", "--again", file});
  EXPECT_TRUE(again.status == 0 && again.out.find("入帳金額核對") != std::string::npos) << again.out << again.err;

  const ToolRun runs = tool({"runs", "--json"});
  EXPECT_TRUE(runs.status == 0 && runs.out.find("{\"run\":2,") < runs.out.find("{\"run\":1,")) << "newest first";
  const ToolRun shown = tool({"runs", "show", "1", "--lines"});
  EXPECT_TRUE(shown.status == 0 && shown.out.find("入帳金額核對") != std::string::npos &&
              shown.out.find("重複銷帳") != std::string::npos)
      << "the lines with their log texts: " << shown.out;

  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } undos[] = {
      {{"undo", "2", "--json"}, 0, "\"outcome\":\"undone\""},
      {{"undo", "2"}, 1, "已由第 3 次執行復原"},
      {{"undo", "3"}, 1, "不能再復原"},
      {{"undo", "9"}, 1, "沒有第 9 次執行"},
      {{"undo", "x"}, 2, "usage"},
  };
  for (const auto& u : undos) {
    const ToolRun run = tool(u.args);
    EXPECT_EQ(run.status, u.status) << u.args[1];
    EXPECT_NE((run.out + run.err).find(u.says), std::string::npos) << run.out << run.err;
  }

  {
    auto db = store::Connection::open(SuitePaths{root});
    db.execute(
        "UPDATE KIV8_Payment SET payway='9' WHERE rowid=(SELECT min(row_id) FROM KIV27_Change WHERE run=1 AND "
        "table_name='KIV8_Payment' AND op='update')");
  }
  const ToolRun changed = tool({"undo", "1", "--json"});
  for (const char* text : {"\"outcome\":\"refused\"", "\"table\":\"KIV8_Payment\"", "\"found\":\"{"})
    EXPECT_TRUE(changed.status == 1 && changed.out.find(text) != std::string::npos) << text << changed.out;
  EXPECT_EQ(json_field(tool({"runs", "show", "1", "--json"}).out, "undone_by"), "0");
}

}  // namespace
}  // namespace kiv::testing
