#include <gtest/gtest.h>

#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

TEST(CompactCommand, ExitsZeroAfterCompactingAndTwoWithTheStandardMessageOnceOnFailure) {
  TempSuite suite;
  suite.write_file("mdb/KIV1.mdb", "stale");
  suite.write_file("mdb/kiv2700tmp.mdb", "stale");
  ToolRun run = run_tool(suite.root(), {"compact", "--root", suite.root()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.out.starts_with(suite.paths().db_path() + ": ")) << run.out;
  EXPECT_TRUE(run.out.ends_with(" bytes\n")) << run.out;
  EXPECT_FALSE(std::filesystem::exists(suite.root() + "/mdb/KIV1.mdb"));

  suite.write_file("mdb/KIV.mdb", std::string(4096, 'j'));
  suite.write_file("mdb/KIV1.mdb", "maybe the only good copy");
  for (const std::string& root : {suite.root(), suite.root() + "/nowhere"}) {
    run = run_tool(suite.root(), {"compact", "--root", root});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("錯誤:")) << run.err;
    EXPECT_NE(run.err.find(root + "/mdb/KIV.mdb"), std::string::npos) << run.err;
    EXPECT_TRUE(run.err.ends_with("(-2147467259)\n")) << run.err;
    EXPECT_EQ(run.err.find("錯誤:", 1), std::string::npos) << "shown once";
  }
  EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), "maybe the only good copy");
  EXPECT_EQ(run_tool(suite.root(), {"compact", "--root", suite.root(), "extra"}).status, 2);
}

}  // namespace
}  // namespace kiv::testing
