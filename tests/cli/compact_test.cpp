#include <gtest/gtest.h>

#include "store_text.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

class CompactCommand : public OnEachStore {};
KIV_ON_EACH_STORE(CompactCommand);

TEST_P(CompactCommand, ExitsZeroAfterCompactingAndTwoWithTheStandardMessageOnceOnFailure) {
  TempSuite suite(store());
  suite.write_file("mdb/KIV1.mdb", "stale");
  suite.write_file("mdb/kiv2700tmp.mdb", "stale");
  ToolRun run = run_tool(suite.root(), {"compact", "--root", suite.root()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  if (store() == StoreKind::server) {
    // The server reclaims space itself: nothing is done, nothing is touched.
    EXPECT_EQ(run.out, "the database is on a server, which reclaims space itself: nothing to compact\n");
    EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), "stale");
    EXPECT_FALSE(std::filesystem::exists(suite.paths().db_path()));
    suite.write_file("mdb/KIV.pgconn", "host=" + suite.root() + "/no-server\n");
    EXPECT_EQ(run_tool(suite.root(), {"compact", "--root", suite.root()}).out, run.out) << "not even connected";
    return;
  }
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
