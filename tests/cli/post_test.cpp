#include <gtest/gtest.h>

#include "store/store_choice.h"
#include "store_text.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

class Cli : public OnEachStore {
 protected:
  // The arguments that put a new suite's database in this test's store.
  std::vector<std::string> where(const TempSuite& scratch, const std::string& root) const {
    if (store() == StoreKind::file) return {"--root", root};
    return {"--root", root, "--server", scratch.server_uri()};
  }
  static std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};
KIV_ON_EACH_STORE(Cli);

TEST_P(Cli, InitMakesASuiteFolderAndNeverTouchesAnExistingDatabase) {
  TempSuite scratch(store(), false);
  const std::string root = scratch.root() + "/suite";
  const SuitePaths paths{root};
  ToolRun run = run_tool(scratch.root(), joined({"init"}, where(scratch, root)));
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* dir : {"/exe", "/mdb", "/medi"}) EXPECT_TRUE(std::filesystem::is_directory(root + dir)) << dir;
  EXPECT_EQ(std::filesystem::exists(paths.db_path()), store() == StoreKind::file);
  EXPECT_EQ(std::filesystem::exists(store::pgconn_path(paths)), store() == StoreKind::server);
  {
    auto db = store::Connection::open(paths);
    db.execute("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('/', '/media/floppy/')");
  }
  const std::string pgconn = store() == StoreKind::server ? slurp(store::pgconn_path(paths)) : "";

  run = run_tool(scratch.root(), joined({"init"}, where(scratch, root)));
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.err.starts_with("錯誤:")) << run.err;
  auto db = store::Connection::open(paths);
  EXPECT_EQ(table_rows(db, "KIV2_School"), "tranidrive=/|tranidir=/media/floppy/\n") << "left as it was";
  if (store() == StoreKind::server) {
    EXPECT_EQ(slurp(store::pgconn_path(paths)), pgconn);
    // Another folder on the same schema: the tables are there already.
    run = run_tool(scratch.root(), joined({"init"}, where(scratch, scratch.root() + "/other")));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("KIV2_School"), std::string::npos) << run.err;
    EXPECT_EQ(count_rows(db, "KIV2_School"), 1);
  }
}

TEST_P(Cli, DemoPostReachesEveryLogTextAndASecondPostWritesNothingOff) {
  TempSuite scratch(store(), false);
  const std::string root = scratch.root() + "/suite", file = root + "/medi/post1003.dat";
  ASSERT_EQ(run_tool(scratch.root(), joined({"demo"}, where(scratch, root))).status, 0);
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

  run = run_tool(scratch.root(), {"post", "--root", root, file});
  EXPECT_EQ(run.status, 0);
  for (const char* line : {"銷帳總筆數     300\n", "轉帳成功筆數   0\n", "轉帳不成功筆數 0\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line;
  }
}

TEST_P(Cli, PostExitStatusTellsCompletedStoppedAndError) {
  TempSuite suite(store());
  auto run = run_tool(suite.root(), {"post", "--root", suite.root(), "--json", suite.root() + "/none.dat"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "{\"outcome\":\"stopped\",\"lines\":0,\"ok\":0,\"failed\":0,\"errors\":0,\"posted_total\":0,"
            "\"log\":null,\"messages\":[\"找 不 到 檔 案 ( " +
                suite.root() + "/none.dat )\"]}\n");
  const std::string empty = suite.write_file("medi/empty.dat", "");
  EXPECT_EQ(run_tool(suite.root(), {"post", "--root", suite.root(), empty}).status, 0) << "nothing to post";

  // The database cannot be reached: the file is gone, the server is not there.
  if (store() == StoreKind::file) {
    std::filesystem::remove(suite.paths().db_path());
  } else {
    suite.write_file("mdb/KIV.pgconn", "host=" + suite.root() + "/no-server dbname=kiv\n");
  }
  run = run_tool(suite.root(), {"post", "--root", suite.root(), "--json", empty});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("(-2147467259)"), std::string::npos) << run.out;
  EXPECT_EQ(run_tool(suite.root(), {"post"}).status, 2);
  EXPECT_EQ(run_tool(suite.root(), {"frobnicate"}).status, 2);
}

}  // namespace
}  // namespace kiv::testing
