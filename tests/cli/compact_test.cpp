// kiv2700 compact, run as the operator or a script would run it.
#include <gtest/gtest.h>

#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

TEST(CompactCommand, CompactsDeletingLeftoversAndExitsZero) {
  TempSuite suite;
  suite.exec("INSERT INTO KIV7_Student (stdid, grade) VALUES ('A001', '3')");
  suite.write_file("mdb/KIV1.mdb", "stale");
  suite.write_file("mdb/kiv2700tmp.mdb", "stale");
  const ToolRun run = run_tool(suite.root(), {"compact", "--root", suite.root()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.out.starts_with(suite.paths().db_path() + ": ")) << run.out;
  EXPECT_TRUE(run.out.ends_with(" bytes\n")) << run.out;
  EXPECT_FALSE(std::filesystem::exists(suite.root() + "/mdb/KIV1.mdb"));
  EXPECT_FALSE(std::filesystem::exists(suite.root() + "/mdb/kiv2700tmp.mdb"));
  auto db = suite.open();
  EXPECT_EQ(query_text(db, "SELECT grade FROM KIV7_Student WHERE stdid='A001'"), "3");
}

TEST(CompactCommand, FailureExitsTwoWithTheStandardMessageOnceAndDeletesNothing) {
  TempSuite suite;
  const std::string junk = suite.write_file("mdb/KIV.mdb", std::string(4096, 'j'));
  suite.write_file("mdb/KIV1.mdb", "maybe the only good copy");
  for (const std::string& root : {suite.root(), suite.root() + "/nowhere"}) {
    const ToolRun run = run_tool(suite.root(), {"compact", "--root", root});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("錯誤:")) << run.err;
    EXPECT_NE(run.err.find(root + "/mdb/KIV.mdb"), std::string::npos) << run.err;
    EXPECT_TRUE(run.err.ends_with("(-2147467259)\n")) << run.err;
    EXPECT_EQ(run.err.find("錯誤:", 1), std::string::npos) << "shown once";
  }
  EXPECT_EQ(slurp(junk), std::string(4096, 'j'));
  EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), "maybe the only good copy");
  EXPECT_EQ(run_tool(suite.root(), {"compact", "--root", suite.root(), "extra"}).status, 2);
}

}  // namespace
}  // namespace kiv::testing
