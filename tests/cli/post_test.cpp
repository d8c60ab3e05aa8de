// kiv2700 init, demo and post, run as a script would run them.
#include <gtest/gtest.h>

#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

TEST(Cli, InitMakesASuiteFolderAndNeverTouchesAnExistingDatabase) {
  TempSuite scratch(false);
  const std::string root = scratch.root() + "/suite";
  auto run = run_tool(scratch.root(), {"init", "--root", root});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* dir : {"/exe", "/mdb", "/medi"}) EXPECT_TRUE(std::filesystem::is_directory(root + dir)) << dir;
  EXPECT_NO_THROW(store::Connection::open(root + "/mdb/KIV.mdb"));
  const auto size = std::filesystem::file_size(root + "/mdb/KIV.mdb");
  run = run_tool(scratch.root(), {"init", "--root", root});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(std::filesystem::file_size(root + "/mdb/KIV.mdb"), size);
}

TEST(Cli, DemoRunReachesEveryOutcomeAndReportsJson) {
  TempSuite scratch(false);
  const std::string root = scratch.root() + "/suite";
  auto run = run_tool(scratch.root(), {"demo", "--root", root});
  ASSERT_EQ(run.status, 0) << run.err;
  run = run_tool(scratch.root(), {"post", "--root", root, "--json", root + "/medi/post1003.dat"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string& json = run.out;
  EXPECT_TRUE(json.starts_with("{\"outcome\":\"completed\",\"lines\":300,")) << json;
  EXPECT_NE(json.find("\"log\":\"" + root + "/medi/err27_"), std::string::npos) << json;
  EXPECT_EQ(count_of(json, "\n"), 1) << "one JSON object on one line";
  EXPECT_NE(json.find("此 銷 帳 檔 案 之 總 筆 數 為 300\\r\\n"), std::string::npos) << json;
  EXPECT_NE(json.find("共  "), std::string::npos) << "the question is among the messages";

  // Every log text a demo school can produce is in its log.
  const auto log_start = json.find("\"log\":\"") + 7;
  const std::string log = slurp(json.substr(log_start, json.find('"', log_start) - log_start));
  for (const char* text : {",查無繳費記錄檔", " 重複銷帳 ", ",已有現金繳費,不能重複銷帳", " ,查無繳費記錄 ",
                           " ,新增繳費記錄失敗 ", " 合併轉帳寫入失敗,查無繳費記錄 "}) {
    EXPECT_NE(log.find(std::string(text) + "\r\n"), std::string::npos) << text;
  }

  // Posting the same file again writes nothing off twice.
  run = run_tool(scratch.root(), {"post", "--root", root, root + "/medi/post1003.dat"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("銷帳總筆數     300\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("轉帳成功筆數   0\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("轉帳不成功筆數 0\n"), std::string::npos) << run.out;
}

TEST(Cli, PostExitStatusTellsCompletedStoppedAndError) {
  TempSuite suite;
  auto run = run_tool(suite.root(), {"post", "--root", suite.root(), "--json", suite.root() + "/none.dat"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "{\"outcome\":\"stopped\",\"lines\":0,\"ok\":0,\"failed\":0,\"errors\":0,\"posted_total\":0,"
                     "\"log\":null,\"messages\":[\"找 不 到 檔 案 ( " + suite.root() + "/none.dat )\"]}\n");

  const std::string empty = suite.write_file("medi/empty.dat", "");
  run = run_tool(suite.root(), {"post", "--root", suite.root(), empty});
  EXPECT_EQ(run.status, 0) << "an empty file is accepted and posts nothing";

  std::filesystem::remove(suite.paths().db_path());
  run = run_tool(suite.root(), {"post", "--root", suite.root(), "--json", empty});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("(-2147467259)"), std::string::npos) << run.out;

  EXPECT_EQ(run_tool(suite.root(), {"post"}).status, 2);
  EXPECT_EQ(run_tool(suite.root(), {"frobnicate"}).status, 2);
}

}  // namespace
}  // namespace kiv::testing
