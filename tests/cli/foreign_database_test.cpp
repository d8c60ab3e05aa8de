#include <gtest/gtest.h>

#include <filesystem>

#include "store/connection.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

// A database file that opens but is not the suite's is refused by every
// command that would read or write it: one message, exit 2, not a byte changed.
TEST(ForeignDatabase, PostAndCompactRefuseItOnceAndLeaveItAsItWas) {
  TempSuite suite;
  const std::string db_path = suite.paths().db_path();
  const std::string file =
      suite.write_file("medi/post1003.dat", "1        0931015 \r\n20000000000000000000000000000000000000\r\n");
  const struct {
    const char* name;
    void (*make)(const std::string& path);
  } cases[] = {
      {"zero bytes", [](const std::string& path) { std::filesystem::resize_file(path, 0); }},
      {"a table missing",
       [](const std::string& path) { store::Connection::open_file(path).execute("DROP TABLE KIV10_Agency"); }},
      {"a column missing",
       [](const std::string& path) {
         auto db = store::Connection::open_file(path);
         db.execute(
             "CREATE TABLE narrow (stdid TEXT, delmark INTEGER, grade TEXT, clsid TEXT);"
             "DROP TABLE KIV7_Student; ALTER TABLE narrow RENAME TO KIV7_Student;");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(db_path);
    TempSuite fresh;
    std::filesystem::copy_file(fresh.paths().db_path(), db_path);
    c.make(db_path);
    const std::string bytes = slurp(db_path);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"post", "--root", suite.root(), file}, {"compact", "--root", suite.root()}}) {
      SCOPED_TRACE(args[0]);
      const ToolRun run = run_tool(suite.root(), args);
      EXPECT_EQ(run.status, 2);
      EXPECT_TRUE(run.err.starts_with("錯誤:")) << run.err;
      EXPECT_NE(run.err.find("(-2147467259)\n"), std::string::npos) << run.err;
      EXPECT_EQ(run.err.find("錯誤:", 1), std::string::npos) << "shown once: " << run.err;
      EXPECT_EQ(slurp(db_path), bytes) << "the file is left byte for byte";
    }
  }
}

}  // namespace
}  // namespace kiv::testing
