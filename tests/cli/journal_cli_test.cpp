#include <gtest/gtest.h>

#include <filesystem>

#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

std::string field(const std::string& json, const std::string& key) {
  const std::string name = "\"" + key + "\":";
  const auto at = json.find(name);
  if (at == std::string::npos) return "";
  const auto start = at + name.size();
  const auto end = json[start] == '{' ? json.find('}', start) + 1 : json.find_first_of(",}", start);
  return json.substr(start, end - start);
}

struct Demo {
  TempSuite scratch{false};
  std::string root = scratch.root() + "/suite", file = root + "/medi/post1003.dat";
  Demo() { EXPECT_EQ(run_tool(scratch.root(), {"demo", "--root", root}).status, 0); }
  ToolRun tool(std::vector<std::string> args) const {
    args.insert(args.begin() + 1, {"--root", root});
    return run_tool(scratch.root(), args);
  }
};

TEST(JournalCli, DryRunLeavesTheFileAsItWasAndCountsAsTheRunThatFollows) {
  Demo demo;
  const std::string db = demo.root + "/mdb/KIV.mdb";
  const std::string bytes = slurp(db);
  const ToolRun dry = demo.tool({"post", "--json", "--dry-run", "--lines", demo.file});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(slurp(db), bytes) << "byte for byte";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(demo.root + "/medi"), {}), 1) << "no error log";
  EXPECT_EQ(field(dry.out, "log"), "null");
  EXPECT_EQ(field(dry.out, "dry_run"), "true");
  EXPECT_EQ(demo.tool({"runs"}).out.find('\n'), demo.tool({"runs"}).out.size() - 1) << "no run recorded";

  const ToolRun real = demo.tool({"post", "--json", demo.file});
  EXPECT_EQ(real.status, 0) << real.err;
  for (const char* key : {"lines", "ok", "failed", "errors", "posted_total", "balance"}) {
    EXPECT_EQ(field(dry.out, key), field(real.out, key)) << key;
  }
  std::size_t outcomes = 0;
  for (std::size_t at = 0; (at = dry.out.find("{\"line\":", at)) != std::string::npos; ++at) ++outcomes;
  EXPECT_EQ(outcomes, 300u) << "--lines gives every line's outcome";
}

TEST(JournalCli, SameFileRefusedWithoutAgainThenHistoryShowsBothAndUndoTakesTheLastBack) {
  Demo demo;
  const ToolRun first = demo.tool({"post", "--json", demo.file});
  ASSERT_EQ(first.status, 0);
  EXPECT_EQ(field(first.out, "run"), "1");
  const std::string balance = field(first.out, "balance");
  EXPECT_NE(balance.find("\"difference\":0}"), std::string::npos) << balance;

  const ToolRun refused = demo.tool({"post", demo.file});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("此檔案已於 "), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find(" 入帳,是否再次入帳?"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "") << "nothing was posted, so nothing is counted";

  const ToolRun again = demo.tool({"post", "--again", demo.file});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("入帳金額核對"), std::string::npos) << again.out;

  const ToolRun runs = demo.tool({"runs", "--json"});
  EXPECT_EQ(runs.status, 0);
  EXPECT_LT(runs.out.find("{\"run\":2,"), runs.out.find("{\"run\":1,")) << "newest first";
  const ToolRun shown = demo.tool({"runs", "show", "1", "--lines"});
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("入帳金額核對"), std::string::npos);
  EXPECT_NE(shown.out.find("重複銷帳"), std::string::npos) << "the lines with their log texts";

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
    const ToolRun run = demo.tool(u.args);
    EXPECT_EQ(run.status, u.status) << u.args[1];
    EXPECT_NE((run.out + run.err).find(u.says), std::string::npos) << run.out << run.err;
  }
}

TEST(JournalCli, UndoRefusedListsTheRowsThatChangedSince) {
  Demo demo;
  ASSERT_EQ(demo.tool({"post", demo.file}).status, 0);
  {
    auto db = store::Connection::open_file(demo.root + "/mdb/KIV.mdb");
    db.execute(
        "UPDATE KIV8_Payment SET payway='9' WHERE rowid=(SELECT min(row_id) FROM KIV27_Change WHERE "
        "table_name='KIV8_Payment' AND op='update')");
  }
  const ToolRun refused = demo.tool({"undo", "1", "--json"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("\"outcome\":\"refused\""), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("\"table\":\"KIV8_Payment\""), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("\"found\":\"{"), std::string::npos) << "the row as it is now";
  EXPECT_EQ(field(demo.tool({"runs", "show", "1", "--json"}).out, "undone_by"), "0");
}

}  // namespace
}  // namespace kiv::testing
