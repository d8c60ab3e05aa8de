// kiv2700 check, run as the operator or a script would run it.
#include <gtest/gtest.h>

#include <string>

#include "import/collection_writer.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace {

using kiv::testing::run_tool;
using kiv::testing::ToolRun;

std::string detail(kiv::Cents amount) {
  return kiv::import::format_detail({"0931015", "00012345678901", "A123456789", amount, "0", "12345", "01", ""});
}

std::string trailer(kiv::Cents posted) { return kiv::import::format_trailer(1, posted, 1, posted); }

constexpr const char* kMalformed = "此 資 料 檔 格 式 不 符";

TEST(CheckCommand, AcceptedFileReportsItsFigures) {
  kiv::testing::TempSuite suite(false);
  const std::string file =
      suite.write_file("medi/post1003.dat", detail(150000) + "\r\n" + detail(1205) + "\r\n" +
                                                trailer(151205) + "\r\n");

  ToolRun run = run_tool(suite.root(), {"check", file});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("lines: 2\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("credited sum: 1512.05\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("trailer posted amount: 1512.05\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("trailer posted count: 1\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\naccepted\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");

  run = run_tool(suite.root(), {"check", "--json", file});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "{\"accepted\":true,\"verdict\":\"accepted\",\"lines\":2,\"credited_sum\":\"1512.05\","
            "\"credited_total\":\"1512.05\",\"trailer\":{\"file_cnt\":1,\"file_amt\":\"1512.05\",\"posted_cnt\":1,"
            "\"posted_amt\":\"1512.05\"},\"messages\":[]}\n");
}

TEST(CheckCommand, RejectedFilesExitOneWithTheMessage) {
  kiv::testing::TempSuite suite(false);
  const std::string differ =
      suite.write_file("differ.dat", detail(150000) + "\r\n" + trailer(150001) + "\r\n");
  ToolRun run = run_tool(suite.root(), {"check", differ});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("credited sum: 1500.0\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("銷 帳 明 細 與 銷 帳 總 金 額 不 符\r\n\r\n請 檢 查 檔 案 內 容 是 否 正 確"),
            std::string::npos);

  const std::string bad_kind =
      suite.write_file("bad.dat", detail(150000) + "\r\n3" + detail(150000).substr(1) + "\r\n");
  run = run_tool(suite.root(), {"check", bad_kind});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find(kMalformed), std::string::npos);
  EXPECT_EQ(run.err, std::string(kMalformed) + "\n");

  run = run_tool(suite.root(), {"check", "--json", bad_kind});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("{\"accepted\":false,\"verdict\":\"malformed\",\"lines\":1,", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\"trailer\":null"), std::string::npos);
  EXPECT_NE(run.out.find("\"messages\":[\"" + std::string(kMalformed) + "\"]}"), std::string::npos);

  run = run_tool(suite.root(), {"check", "--json", differ});
  EXPECT_NE(run.out.find("\"verdict\":\"totals_differ\""), std::string::npos);
  EXPECT_NE(run.out.find("不 符\\r\\n\\r\\n請"), std::string::npos) << run.out;
}

TEST(CheckCommand, UnreadableFileOrBadArgumentsExitTwo) {
  kiv::testing::TempSuite suite(false);
  const std::string missing = suite.root() + "/medi/post1003.dat";
  ToolRun run = run_tool(suite.root(), {"check", missing});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find(missing), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");

  run = run_tool(suite.root(), {"check", "--json", missing});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.rfind("{\"accepted\":false,\"verdict\":\"error\",", 0), 0u) << run.out;

  EXPECT_EQ(run_tool(suite.root(), {"check"}).status, 2);
  EXPECT_EQ(run_tool(suite.root(), {"check", missing, missing}).status, 2);
  EXPECT_EQ(run_tool(suite.root(), {"check", "--bogus", missing}).status, 2);
}

}  // namespace
