#include <gtest/gtest.h>

#include "import/collection_writer.h"
#include "store/connection.h"
#include "store_text.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

using import::format_trailer;

std::string detail(Cents amount) {
  return import::format_detail({"0931015", "00012345678901", "A123456789", amount, "", "12345", "01", ""}) + "\r\n";
}

TEST(Cli, CheckExitsZeroForAnAcceptedFileOneWithTheMessageForARejectedOneTwoWhenUnreadable) {
  TempSuite suite(false);
  const std::string missing = suite.root() + "/none.dat";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // the start of standard output; the whole of standard error
  } cases[] = {
      // clang-format off
      {{"check", "--json", suite.write_file("ok.dat", detail(150000) + detail(1205) + format_trailer(3, 1, 1, 151205))},
       0, "{\"accepted\":true,\"verdict\":\"accepted\",\"lines\":2,\"credited_sum\":\"1512.05\",", ""},
      {{"check", suite.write_file("sums.dat", detail(150000) + format_trailer(1, 1, 1, 150001))},
       1, "lines: 1\n", "銷 帳 明 細 與 銷 帳 總 金 額 不 符\r\n\r\n請 檢 查 檔 案 內 容 是 否 正 確\n"},
      {{"check", "--json", suite.write_file("kind.dat", detail(1) + "3" + detail(1).substr(1))},
       1, "{\"accepted\":false,\"verdict\":\"malformed\",", "此 資 料 檔 格 式 不 符\n"},
      // clang-format on
      {{"check", missing}, 2, "", "kiv2700 check: 錯誤:" + missing + ": No such file or directory(2)\n"},
      {{"check"}, 2, "", ""},
      {{"check", missing, missing}, 2, "", ""},
  };
  for (const auto& c : cases) {
    const ToolRun run = run_tool(suite.root(), c.args);
    EXPECT_TRUE(run.status == c.status && run.out.starts_with(c.out) && (c.err.empty() || run.err == c.err))
        << c.args.back() << ": " << run.status << "\n"
        << run.out << run.err;
  }
}

class Cli : public OnEachStore {};
KIV_ON_EACH_STORE(Cli);

TEST_P(Cli, DemoInitPostAndCompactTellCompletedStoppedAndErrorByTheirExitStatus) {
  TempSuite scratch(store(), false);
  const std::string root = scratch.root() + "/suite", db = root + "/mdb/KIV.mdb", file = root + "/medi/post1003.dat";
  const auto tool = [&](const std::vector<std::string>& args) { return run_tool(scratch.root(), args); };
  ASSERT_EQ(tool(scratch.tool_args("demo", root, {"--every-case"})).status, 0);
  for (const char* dir : {"/exe", "/mdb", "/medi"}) EXPECT_TRUE(std::filesystem::is_directory(root + dir)) << dir;
  ToolRun run = tool({"post", "--root", root, "--json", file});
  EXPECT_TRUE(run.status == 0 && run.out.starts_with("{\"outcome\":\"completed\",\"lines\":300,")) << run.out;
  EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one JSON object on one line";
  EXPECT_NE(run.out.find("此 銷 帳 檔 案 之 總 筆 數 為 300\\r\\n"), std::string::npos) << run.out;
  const std::string log = slurp(json_field(run.out, "log"));
  for (const char* text : {",查無繳費記錄檔", " 重複銷帳 ", ",已有現金繳費,不能重複銷帳", " ,查無繳費記錄 ",
                           " ,新增繳費記錄失敗 ", " 合併轉帳寫入失敗,查無繳費記錄 "}) {
    EXPECT_NE(log.find(std::string(text) + "\r\n"), std::string::npos) << "the demo reaches " << text;
  }
  run = tool({"post", "--root", root, "--again", file});
  for (const char* line : {"銷帳總筆數     300\n", "轉帳成功筆數   0\n", "轉帳不成功筆數 0\n"})
    EXPECT_TRUE(run.status == 0 && run.out.find(line) != std::string::npos) << "a second post writes nothing off";
  const auto contents = [&root] {
    auto db = store::Connection::open(SuitePaths{root});
    return all_rows(db);
  };
  const std::string before = contents();
  EXPECT_EQ(tool({"init", "--root", root + "2"}).status, 0);
  EXPECT_EQ(tool(scratch.tool_args("init", root)).status, 2);
  EXPECT_EQ(contents(), before) << "an existing database is never touched";
  EXPECT_EQ(tool({"post", "--root", root, "--json", root + "/none.dat"}).out,
            "{\"outcome\":\"stopped\",\"lines\":0,\"ok\":0,\"failed\":0,\"errors\":0,\"posted_total\":0,"
            "\"log\":null,\"messages\":[\"找 不 到 檔 案 ( " +
                root + "/none.dat )\"]}\n");
  EXPECT_EQ(tool({"post", "--root", root, root + "/none.dat"}).status, 1);
  const std::string empty = scratch.write_file("empty.dat", "");
  EXPECT_EQ(tool({"post", "--root", root, empty}).status, 0) << "nothing to post";
  run = tool({"compact", "--root", root});
  EXPECT_EQ(run.status, 0) << run.err;
  if (store() == StoreKind::server) {
    // The server reclaims space itself: nothing is done, nothing is touched.
    EXPECT_EQ(run.out, "the database is on a server, which reclaims space itself: nothing to compact\n");
    scratch.write_file("suite/mdb/KIV.pgconn", "host=" + scratch.root() + "/no-server dbname=kiv\n");
    EXPECT_EQ(tool({"compact", "--root", root}).out, run.out) << "not even connected";
  } else {
    scratch.write_file("suite/mdb/KIV.mdb", std::string(4096, 'j'));
    run = tool({"compact", "--root", root});
    EXPECT_TRUE(run.status == 2 && run.out.empty() && run.err.starts_with("錯誤:") &&
                run.err.ends_with("(-2147467259)\n") && run.err.find("錯誤:", 1) == std::string::npos)
        << "the standard message once: " << run.err;
  }
  run = tool({"post", "--root", root, "--json", empty});
  EXPECT_TRUE(run.status == 2 && run.out.find("(-2147467259)") != std::string::npos) << run.out;
  EXPECT_TRUE(store() == StoreKind::server || slurp(db) == std::string(4096, 'j')) << "the file is left as it was";
  for (const auto& args : std::vector<std::vector<std::string>>{{"post"}, {"compact", "--root", root, "extra"}})
    EXPECT_EQ(tool(args).status, 2);
}

TEST_P(Cli, OrdinaryDemoDayPostsNearlyEveryLineWithAFewFailedTransfersAndAHandfulLogged) {
  const std::pair<std::string, std::string> rows[] = {
      {"300", "\"lines\":300,\"ok\":285,\"failed\":9,\"errors\":6,"},
      {"1000", "\"lines\":1000,\"ok\":950,\"failed\":30,\"errors\":20,"},
  };
  for (const auto& [students, counters] : rows) {
    TempSuite scratch(store(), false);
    const std::string root = scratch.root() + "/suite", file = root + "/medi/post1003.dat";
    const auto more = students == "300" ? std::vector<std::string>{} : std::vector<std::string>{"--students", students};
    const ToolRun made = run_tool(scratch.root(), scratch.tool_args("demo", root, more));  // 300 is the default
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, root + "\n" + file + " (" + students + " lines)\n");
    const ToolRun run = run_tool(scratch.root(), {"post", "--root", root, "--json", file});
    EXPECT_TRUE(run.status == 0 && run.out.find(counters) != std::string::npos) << run.out << run.err;
  }
  TempSuite scratch(false);
  for (const char* students : {"0", "-5", "12x", "x", "", "10000001", "99999999999999999999"}) {
    const ToolRun run = run_tool(scratch.root(), {"demo", "--root", scratch.root() + "/bad", "--students", students});
    EXPECT_TRUE(run.status == 2 && run.err.starts_with("kiv2700 demo: --students needs a whole number")) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(scratch.root() + "/bad")) << "nothing made from a wrong command line";
}

}  // namespace
}  // namespace kiv::testing
