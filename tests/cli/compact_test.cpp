// kiv2700 compact, run as the operator or a script would run it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "store/connection.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace {

using kiv::testing::run_tool;
using kiv::testing::slurp;
using kiv::testing::TempSuite;
using kiv::testing::ToolRun;

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

TEST(CompactCommand, CompactsAndExitsZero) {
  TempSuite suite;
  suite.exec("INSERT INTO KIV7_Student (stdid, grade) VALUES ('A001', '3')");
  suite.write_file("mdb/KIV1.mdb", "stale");
  suite.write_file("mdb/kiv2700tmp.mdb", "stale");

  const ToolRun run = run_tool(suite.root(), {"compact", "--root", suite.root()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind(suite.paths().db_path() + ": ", 0), 0u) << run.out;
  EXPECT_NE(run.out.find(" bytes\n"), std::string::npos) << run.out;
  EXPECT_FALSE(std::filesystem::exists(suite.root() + "/mdb/KIV1.mdb"));
  EXPECT_FALSE(std::filesystem::exists(suite.root() + "/mdb/kiv2700tmp.mdb"));
  auto db = suite.open();
  EXPECT_EQ(kiv::testing::query_text(db, "SELECT grade FROM KIV7_Student WHERE stdid='A001'"), "3");
}

TEST(CompactCommand, FailureExitsTwoWithTheMessageOnce) {
  TempSuite suite;
  const std::string db_path = suite.paths().db_path();
  std::filesystem::remove(db_path);
  const std::string junk = suite.write_file("mdb/KIV.mdb", std::string(4096, 'j'));
  suite.write_file("mdb/KIV1.mdb", "maybe the only good copy");

  ToolRun run = run_tool(suite.root(), {"compact", "--root", suite.root()});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("錯誤:", 0), 0u) << run.err;
  EXPECT_EQ(count_of(run.err, "錯誤:"), 1u) << run.err;
  EXPECT_NE(run.err.find(db_path), std::string::npos) << run.err;
  EXPECT_EQ(run.err.substr(run.err.size() - 14), "(-2147467259)\n") << run.err;
  EXPECT_EQ(slurp(junk), std::string(4096, 'j'));
  EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), "maybe the only good copy");

  run = run_tool(suite.root(), {"compact", "--root", suite.root() + "/nowhere"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(count_of(run.err, "錯誤:"), 1u) << run.err;

  run = run_tool(suite.root(), {"compact", "--root", suite.root(), "post1003.dat"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("usage: kiv2700 compact [--root DIR]"), std::string::npos) << run.err;
  EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), "maybe the only good copy");
}

}  // namespace
