#include <gtest/gtest.h>

#include <filesystem>

#include "store/connection.h"
#include "store_text.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

class ForeignDatabase : public OnEachStore {};
KIV_ON_EACH_STORE(ForeignDatabase);

// What is left of the database to compare: the tables a case keeps.
std::string remaining_rows(const TempSuite& suite) {
  auto db = suite.open_unchecked();
  return table_rows(db, "KIV8_Payment") + table_rows(db, "KIV2_School");
}

// A database that opens but is not the suite's is refused by every command
// that would read or write it: one message, exit 2, nothing changed.
TEST_P(ForeignDatabase, PostAndCompactRefuseItOnceAndLeaveItAsItWas) {
  const std::string file_text = "1        0931015 \r\n20000000000000000000000000000000000000\r\n";
  const struct {
    const char* name;
    bool file_only;
    const char* sql;  // what makes the database foreign
  } cases[] = {
      {"zero bytes", true, nullptr},
      {"a table missing", false, "DROP TABLE KIV10_Agency"},
      {"a column missing", false, nullptr},
  };
  for (const auto& c : cases) {
    if (c.file_only && store() == StoreKind::server) continue;
    SCOPED_TRACE(c.name);
    TempSuite suite(store());
    const std::string file = suite.write_file("medi/post1003.dat", file_text);
    suite.exec(
        "INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('/', '/x/');"
        "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt) VALUES ('A1', '2004-10-15', 1, 15)");
    const std::string db_path = suite.paths().db_path();
    if (std::string(c.name) == "zero bytes") {
      std::filesystem::resize_file(db_path, 0);
    } else if (c.sql != nullptr) {
      suite.exec(c.sql);
    } else if (store() == StoreKind::file) {
      suite.exec(
          "CREATE TABLE narrow (stdid TEXT, delmark INTEGER, grade TEXT, clsid TEXT);"
          "DROP TABLE KIV7_Student; ALTER TABLE narrow RENAME TO KIV7_Student;");
    } else {
      suite.exec("ALTER TABLE KIV7_Student DROP COLUMN seatno");
    }
    const std::string before = store() == StoreKind::file ? slurp(db_path) : remaining_rows(suite);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"post", "--root", suite.root(), file}, {"compact", "--root", suite.root()}}) {
      SCOPED_TRACE(args[0]);
      const ToolRun run = run_tool(suite.root(), args);
      if (store() == StoreKind::server && args[0] == "compact") {
        EXPECT_TRUE(run.status == 0 && run.err.empty()) << "nothing to compact on a server: " << run.err;
        continue;
      }
      EXPECT_TRUE(run.status == 2 && run.err.starts_with("錯誤:") &&
                  run.err.find("(-2147467259)\n") != std::string::npos && run.err.find("錯誤:", 1) == std::string::npos)
          << "one standard message: " << run.err;
      EXPECT_EQ(store() == StoreKind::file ? slurp(db_path) : remaining_rows(suite), before) << "left as it was";
    }
  }
}

}  // namespace
}  // namespace kiv::testing
