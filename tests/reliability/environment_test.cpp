#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "../run/run_fixture.h"
#include "child_run.h"
#include "store/schema.h"
#include "store/statement.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using import::RunOutcome;

std::map<std::string, std::string> files_in(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::directory_iterator(dir)) out[entry.path().filename()] = slurp(entry.path());
  return out;
}

TEST(BadEnvironment, DatabaseOrWorkFolderThatCannotBeUsedIsOneMessageWithNothingCountedLoggedOrChanged) {
  const struct {
    const char* name;
    std::function<void(const TempSuite&)> spoil;
    const char* code;
  } cases[] = {
      {"missing", [](const TempSuite& s) { fs::remove(s.paths().db_path()); }, "(-2147467259)"},
      {"not a database", [](const TempSuite& s) { s.write_file("mdb/KIV.mdb", std::string(8192, 'x')); },
       "(-2147467259)"},
      {"another password",
       [](const TempSuite& s) {
         fs::remove(s.paths().db_path());
         auto db = store::Connection::create_file(s.paths().db_path(), "OTHER");
         store::create_schema(db);
       },
       "(-2147467259)"},
      {"the payment table's pages damaged: it opens, the first line fails",
       [](const TempSuite& s) {
         std::vector<std::int64_t> pages;
         {
           auto db = s.open();
           store::Statement roots(db, "SELECT rootpage FROM sqlite_master WHERE tbl_name='KIV8_Payment'");
           while (roots.step()) pages.push_back(roots.integer(0));
         }
         std::fstream db(s.paths().db_path(), std::ios::binary | std::ios::in | std::ios::out);
         for (const std::int64_t page : pages) db.seekp((page - 1) * 1024 + 100).write("\xde\xad\xbe\xef", 4);
       },
       "(11)"},
      {"a file where the work folder should be",
       [](const TempSuite& s) {
         fs::remove_all(s.paths().work_dir());
         s.write_file("medi", "in the way");
       },
       "/medi: Not a directory(20)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunFixture f;
    for (const char* id : {"10001", "10002", "10003"}) {
      f.student_with_record(id, "100");
      f.detail(id, 10000);
    }
    const std::string file = f.write();
    c.spoil(f.suite);
    const auto before = files_in(f.suite.paths().mdb_dir());
    RecordingOperator op;
    const auto r = import::confirm_run({f.suite.paths(), false, file}, op);
    EXPECT_EQ(r.outcome, RunOutcome::error);
    EXPECT_EQ(r.ok, 0);
    EXPECT_FALSE(r.log_path) << "a failure of the machine is not a line's fault";
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
    EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:") && op.messages[0].text.ends_with(c.code))
        << op.messages[0].text;
    EXPECT_TRUE(files_in(f.suite.paths().mdb_dir()) == before) << "nothing created or changed";
  }
}

TEST(DiskFull, ErrorLogThatCannotBeWrittenEndsTheRunWithOneMessageASoundDatabaseAndHonestCounts) {
  RunFixture f;
  for (int i = 1; i <= 10; ++i) f.student_with_record(std::to_string(10000 + i), "100");
  f.seed(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, payway, payday) VALUES "
      "('30003', '2004-10-15', 1, 100, '9', '2004-01-01')");
  for (int i = 1; i <= 5; ++i) f.detail(std::to_string(10000 + i), 10000);
  for (int i = 0; i < 1500; ++i) f.detail("30003", 10000);
  for (int i = 6; i <= 10; ++i) f.detail(std::to_string(10000 + i), 10000);
  const std::string file = f.write();
  // Room for the database to grow by the journal's rows of the lines before
  // the log fills up: the log is to be the file that meets the limit.
  const rlim_t limit = std::max<rlim_t>(fs::file_size(f.suite.paths().db_path()), 32768) + 131072;
  const ChildEnd end = run_child({{"post", "--root", f.suite.root(), "--json", file}, {}, limit}, f.suite.root());
  EXPECT_EQ(end.status, 2) << end.out;
  EXPECT_EQ(json_field(end.out, "outcome"), "error");
  const std::string messages = json_field(end.out, "messages");
  EXPECT_TRUE(messages.starts_with("[\"錯誤:") && messages.ends_with("(27)\"]") &&
              messages.find("\",\"") == std::string::npos)
      << "one message, EFBIG: " << messages;
  EXPECT_EQ(json_field(end.out, "ok"), "5");
  EXPECT_EQ(f.query("SELECT group_concat(stdid) FROM (SELECT stdid FROM KIV8_Payment WHERE paystas<>0 ORDER BY stdid)"),
            "10001,10002,10003,10004,10005");
  EXPECT_EQ(f.query("SELECT payway || payday FROM KIV8_Payment WHERE stdid='30003'"), "92004-01-01")
      << "the line that could not be logged is undone";
  EXPECT_EQ(f.query("PRAGMA integrity_check"), "ok");
  const std::string log = slurp(json_field(end.out, "log"));
  const std::string pair = f.lines[5] + "\r\n" + import::log_text::kInsertFailed + "\r\n";
  std::string counted;
  for (int i = std::stoi(json_field(end.out, "errors")); i > 0; --i) counted += pair;
  EXPECT_FALSE(counted.empty());
  EXPECT_LE(log.size(), limit);
  EXPECT_TRUE(log.starts_with(counted) && log.size() < counted.size() + pair.size())
      << "each line counted logged whole, and no more than part of the one that did not fit";
}

}  // namespace
}  // namespace kiv::testing
