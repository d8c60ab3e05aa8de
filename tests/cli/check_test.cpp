#include <gtest/gtest.h>

#include "import/collection_writer.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

constexpr const char* kMalformed = "此 資 料 檔 格 式 不 符";

std::string detail(Cents amount) {
  return import::format_detail({"0931015", "00012345678901", "A123456789", amount, "", "12345", "01", ""}) + "\r\n";
}

class CheckCommand : public ::testing::Test {
 protected:
  ToolRun check(std::vector<std::string> args) {
    args.insert(args.begin(), "check");
    return run_tool(suite.root(), args);
  }
  TempSuite suite{false};
};

TEST_F(CheckCommand, AcceptedFileExitsZeroWithItsFigures) {
  const std::string file =
      suite.write_file("post1003.dat", detail(150000) + detail(1205) + import::format_trailer(3, 999900, 1, 151205));
  ToolRun run = check({file});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "lines: 2\ncredited sum: 1512.05\ntrailer posted amount: 1512.05\ntrailer posted count: 1\n"
            "trailer file amount: 9999.0\ntrailer file count: 3\naccepted\n");
  EXPECT_EQ(run.err, "");
  run = check({"--json", file});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "{\"accepted\":true,\"verdict\":\"accepted\",\"lines\":2,\"credited_sum\":\"1512.05\","
            "\"credited_total\":\"1512.05\",\"trailer\":{\"file_cnt\":3,\"file_amt\":\"9999.0\",\"posted_cnt\":1,"
            "\"posted_amt\":\"1512.05\"},\"messages\":[]}\n");
}

TEST_F(CheckCommand, RejectedFileExitsOneWithTheMessage) {
  const std::string differ = suite.write_file("differ.dat", detail(150000) + import::format_trailer(1, 1, 1, 150001));
  ToolRun run = check({differ});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("credited sum: 1500.0\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "銷 帳 明 細 與 銷 帳 總 金 額 不 符\r\n\r\n請 檢 查 檔 案 內 容 是 否 正 確\n");
  EXPECT_NE(check({"--json", differ}).out.find("\"verdict\":\"totals_differ\""), std::string::npos);

  const std::string bad_kind = suite.write_file("bad.dat", detail(150000) + "3" + detail(150000).substr(1));
  run = check({bad_kind});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, std::string(kMalformed) + "\n");
  run = check({"--json", bad_kind});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.starts_with("{\"accepted\":false,\"verdict\":\"malformed\",\"lines\":1,")) << run.out;
  EXPECT_NE(run.out.find("\"trailer\":null,\"messages\":[\"" + std::string(kMalformed) + "\"]}"), std::string::npos);
}

TEST_F(CheckCommand, UnreadableFileOrBadArgumentsExitTwo) {
  const std::string missing = suite.root() + "/post1003.dat";
  ToolRun run = check({missing});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find(missing + ": No such file or directory"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  run = check({"--json", missing});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.out.starts_with("{\"accepted\":false,\"verdict\":\"error\",")) << run.out;
  run = check({"--json", suite.root() + "/\xff\xfe-檔案.dat"});
  EXPECT_NE(run.out.find("\\ufffd\\ufffd-檔案.dat"), std::string::npos) << run.out;
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {missing, missing}, {"--bogus", missing}}) {
    EXPECT_EQ(check(args).status, 2) << args.size();
  }
}

}  // namespace
}  // namespace kiv::testing
