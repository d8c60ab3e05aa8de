#include <gtest/gtest.h>

#include <string>

#include "store/store_choice.h"
#include "store_text.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

// A run's JSON with what differs between two suite folders taken out: the
// folder and the time in the error log's name.
std::string comparable(std::string json, const std::string& root) {
  for (std::size_t at = 0; (at = json.find(root, at)) != std::string::npos;) json.replace(at, root.size(), "ROOT");
  constexpr std::string_view kLog = "err27_";
  for (std::size_t at = 0; (at = json.find(kLog, at)) != std::string::npos;) {
    at += kLog.size();
    const std::size_t digits = json.find_first_not_of("0123456789", at);
    json.replace(at, (digits == std::string::npos ? json.size() : digits) - at, "TIME");
  }
  return json;
}

std::string log_of(const std::string& json) {
  const auto at = json.find("\"log\":\"");
  if (at == std::string::npos) return "";
  return slurp(json.substr(at + 7, json.find('"', at + 7) - at - 7));
}

TEST(DemoSchool, PostedOnBothStoresGivesTheSameJsonLogAndRows) {
  KIV_REQUIRE_TEST_SERVER();
  TempSuite on_file(StoreKind::file, false), on_server(StoreKind::server, false);
  struct Posted {
    std::string json, log, rows;
  };
  const auto demo_and_post = [](const TempSuite& scratch) {
    const std::string root = scratch.root() + "/suite";
    EXPECT_EQ(run_tool(scratch.root(), scratch.tool_args("demo", root)).status, 0);
    const ToolRun run = run_tool(scratch.root(), {"post", "--root", root, "--json", root + "/medi/post1003.dat"});
    EXPECT_EQ(run.status, 0) << run.err;
    auto db = store::Connection::open(SuitePaths{root});
    return Posted{comparable(run.out, root), log_of(run.out), all_rows(db)};
  };
  const Posted file = demo_and_post(on_file), server = demo_and_post(on_server);
  EXPECT_TRUE(file.json.starts_with("{\"outcome\":\"completed\",\"lines\":300,")) << file.json;
  EXPECT_EQ(server.json, file.json);
  EXPECT_TRUE(!file.log.empty() && server.log == file.log);
  EXPECT_GT(file.rows.size(), 10000u);
  EXPECT_TRUE(server.rows == file.rows) << "the rows of every table differ between the stores";
}

TEST(CopyToServer, MovesEveryRowInOrderAndRefusesATargetThatHoldsRows) {
  KIV_REQUIRE_TEST_SERVER();
  TempSuite scratch(StoreKind::file, false), empty_schema(StoreKind::server, false),
      empty_tables(StoreKind::server, true);
  const std::string school = scratch.root() + "/school", other = scratch.root() + "/other";
  for (const std::string& root : {school, other}) {
    ASSERT_EQ(run_tool(scratch.root(), {"demo", "--root", root, "--students", "120"}).status, 0);
  }
  // Posted once, so that the rows hold every kind of value a run writes.
  ASSERT_EQ(run_tool(scratch.root(), {"post", "--root", school, school + "/medi/post1003.dat"}).status, 0);
  auto file = store::Connection::open(SuitePaths{school});
  const std::string file_rows = all_rows(file);
  const std::string file_bytes = slurp(SuitePaths{school}.db_path());

  ToolRun run = run_tool(scratch.root(), {"copy-to-server", "--server", empty_schema.server_uri(), "--root", school});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.out.find("KIV8_Payment") != std::string::npos &&
              run.out.ends_with(store::pgconn_path(SuitePaths{school}) + "\n"))
      << run.out;
  EXPECT_EQ(slurp(SuitePaths{school}.db_path()), file_bytes) << "the file is left as it was";
  auto server = store::Connection::open(SuitePaths{school});
  EXPECT_EQ(server.dialect(), store::Dialect::server);
  EXPECT_TRUE(all_rows(server) == file_rows) << "rows or their order differ";
  // A schema whose suite tables exist and are empty takes the rows too.
  run = run_tool(scratch.root(), {"copy-to-server", "--server", empty_tables.server_uri(), "--root", other});
  EXPECT_EQ(run.status, 0) << run.err;
  std::filesystem::remove(store::pgconn_path(SuitePaths{other}));

  for (const TempSuite* holding_rows : {&empty_schema, &empty_tables}) {
    auto target = holding_rows->open_unchecked();
    const std::string before = all_rows(target);
    run = run_tool(scratch.root(), {"copy-to-server", "--server", holding_rows->server_uri(), "--root", other});
    EXPECT_TRUE(run.status == 2 && run.err.find("已有資料") != std::string::npos) << run.err;
    EXPECT_EQ(all_rows(target), before);
    EXPECT_FALSE(std::filesystem::exists(store::pgconn_path(SuitePaths{other})));
  }
  empty_tables.exec(
      "DELETE FROM KIV2_School; DELETE FROM KIV6_Group; DELETE FROM KIV7_Student;"
      "DELETE FROM KIV8_Payment; DELETE FROM KIV9_Payitem; DROP TABLE KIV10_Agency");
  run = run_tool(scratch.root(), {"copy-to-server", "--server", empty_tables.server_uri(), "--root", other});
  EXPECT_TRUE(run.status == 2 && run.err.find("部分") != std::string::npos) << run.err;
  EXPECT_EQ(run_tool(scratch.root(), {"copy-to-server", "--root", other}).status, 2) << "--server is needed";
}

}  // namespace
}  // namespace kiv::testing
