#include <gtest/gtest.h>

#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

TEST(Cli, InitMakesASuiteFolderAndNeverTouchesAnExistingDatabase) {
  TempSuite scratch(false);
  const std::string root = scratch.root() + "/suite";
  EXPECT_EQ(run_tool(scratch.root(), {"init", "--root", root}).status, 0);
  for (const char* dir : {"/exe", "/mdb", "/medi"}) EXPECT_TRUE(std::filesystem::is_directory(root + dir)) << dir;
  EXPECT_NO_THROW(store::Connection::open_file(root + "/mdb/KIV.mdb"));
  const std::string before = slurp(root + "/mdb/KIV.mdb");
  EXPECT_EQ(run_tool(scratch.root(), {"init", "--root", root}).status, 2);
  EXPECT_EQ(slurp(root + "/mdb/KIV.mdb"), before);
}

TEST(Cli, DemoPostReachesEveryLogTextAndASecondPostWritesNothingOff) {
  TempSuite scratch(false);
  const std::string root = scratch.root() + "/suite", file = root + "/medi/post1003.dat";
  ASSERT_EQ(run_tool(scratch.root(), {"demo", "--root", root}).status, 0);
  ToolRun run = run_tool(scratch.root(), {"post", "--root", root, "--json", file});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.out.starts_with("{\"outcome\":\"completed\",\"lines\":300,")) << run.out;
  EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one JSON object on one line";
  EXPECT_NE(run.out.find("此 銷 帳 檔 案 之 總 筆 數 為 300\\r\\n"), std::string::npos) << run.out;

  const auto log_start = run.out.find("\"log\":\"" + root + "/medi/err27_");
  ASSERT_NE(log_start, std::string::npos) << run.out;
  const std::string log = slurp(run.out.substr(log_start + 7, run.out.find('"', log_start + 7) - log_start - 7));
  for (const char* text : {",查無繳費記錄檔", " 重複銷帳 ", ",已有現金繳費,不能重複銷帳", " ,查無繳費記錄 ",
                           " ,新增繳費記錄失敗 ", " 合併轉帳寫入失敗,查無繳費記錄 "}) {
    EXPECT_NE(log.find(std::string(text) + "\r\n"), std::string::npos) << text;
  }

  run = run_tool(scratch.root(), {"post", "--root", root, "--again", file});
  EXPECT_EQ(run.status, 0);
  for (const char* line : {"銷帳總筆數     300\n", "轉帳成功筆數   0\n", "轉帳不成功筆數 0\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line;
  }
}

TEST(Cli, PostExitStatusTellsCompletedStoppedAndError) {
  TempSuite suite;
  auto run = run_tool(suite.root(), {"post", "--root", suite.root(), "--json", suite.root() + "/none.dat"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "{\"outcome\":\"stopped\",\"lines\":0,\"ok\":0,\"failed\":0,\"errors\":0,\"posted_total\":0,"
            "\"log\":null,\"messages\":[\"找 不 到 檔 案 ( " +
                suite.root() + "/none.dat )\"]}\n");
  const std::string empty = suite.write_file("medi/empty.dat", "");
  EXPECT_EQ(run_tool(suite.root(), {"post", "--root", suite.root(), empty}).status, 0) << "nothing to post";

  std::filesystem::remove(suite.paths().db_path());
  run = run_tool(suite.root(), {"post", "--root", suite.root(), "--json", empty});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("(-2147467259)"), std::string::npos) << run.out;
  EXPECT_EQ(run_tool(suite.root(), {"post"}).status, 2);
  EXPECT_EQ(run_tool(suite.root(), {"frobnicate"}).status, 2);
}

}  // namespace
}  // namespace kiv::testing
