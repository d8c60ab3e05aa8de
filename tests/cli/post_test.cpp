#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST(Cli, EveryCaseDemoPostReachesEveryLogTextAndASecondPostWritesNothingOff) {
  TempSuite scratch(false);
  const std::string root = scratch.root() + "/suite", file = root + "/medi/post1003.dat";
  ASSERT_EQ(run_tool(scratch.root(), {"demo", "--root", root, "--every-case"}).status, 0);
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

TEST(Cli, OrdinaryDemoDayPostsNearlyEveryLineWithAFewFailedTransfersAndAHandfulLogged) {
  TempSuite scratch(false);
  const struct {
    std::string students;
    std::string counters;
  } rows[] = {
      {"300", "\"lines\":300,\"ok\":285,\"failed\":9,\"errors\":6,"},
      {"1000", "\"lines\":1000,\"ok\":950,\"failed\":30,\"errors\":20,"},
  };
  for (const auto& row : rows) {
    const std::string root = scratch.root() + "/suite" + row.students, file = root + "/medi/post1003.dat";
    std::vector<std::string> demo = {"demo", "--root", root};
    if (row.students != "300") demo.insert(demo.end(), {"--students", row.students});
    const ToolRun made = run_tool(scratch.root(), demo);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, root + "\n" + file + " (" + row.students + " lines)\n");
    const ToolRun run = run_tool(scratch.root(), {"post", "--root", root, "--json", file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(row.counters), std::string::npos) << run.out;
  }
  for (const char* students : {"0", "-5", "12x", "x", "", "10000001", "99999999999999999999"}) {
    const ToolRun run = run_tool(scratch.root(), {"demo", "--root", scratch.root() + "/bad", "--students", students});
    EXPECT_EQ(run.status, 2) << students;
    EXPECT_TRUE(run.err.starts_with("kiv2700 demo: --students needs a whole number")) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(scratch.root() + "/bad")) << "nothing made from a wrong command line";
}

TEST(Cli, DatabaseMadeInAFolderSharedByAGroupIsWritableByThatGroup) {
  TempSuite scratch(false);
  const mode_t old_umask = ::umask(022);
  for (const bool shared : {true, false}) {
    const std::string root = scratch.root() + (shared ? "/shared" : "/private");
    std::filesystem::create_directories(root + "/mdb");
    if (shared) ::chmod((root + "/mdb").c_str(), 02770);
    for (const char* command : {"init", "demo"}) {
      std::filesystem::remove(root + "/mdb/KIV.mdb");
      ASSERT_EQ(run_tool(scratch.root(), {command, "--root", root}).status, 0) << command;
      struct stat file {};
      ASSERT_EQ(::stat((root + "/mdb/KIV.mdb").c_str(), &file), 0);
      EXPECT_EQ(file.st_mode & 0777, shared ? 0664u : 0644u) << command << (shared ? " shared" : " private");
    }
  }
  ::umask(old_umask);
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
