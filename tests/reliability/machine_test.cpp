#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "run_fixture.h"
#include "store/statement.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using import::RunOutcome;

std::map<std::string, std::string> files_in(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::directory_iterator(dir)) out[entry.path().filename()] = slurp(entry.path());
  return out;
}

// Writes over the first bytes of every page of `table` and its indexes.
void damage(const TempSuite& suite, const std::string& table) {
  std::vector<std::int64_t> pages;
  {
    auto db = suite.open();
    store::Statement roots(db, "SELECT rootpage FROM sqlite_master WHERE tbl_name=?1");
    roots.bind(1, table);
    while (roots.step()) pages.push_back(roots.integer(0));
  }
  std::fstream db(suite.paths().db_path(), std::ios::binary | std::ios::in | std::ios::out);
  for (const std::int64_t page : pages) db.seekp((page - 1) * 1024 + 100).write("\xde\xad\xbe\xef", 4);
}

TEST(BadEnvironment, DatabaseOrWorkFolderThatCannotBeUsedIsOneMessageWithNothingCountedLoggedOrChanged) {
  const struct {
    const char* name;
    std::function<void(const TempSuite&)> spoil;
    const char* code;
  } cases[] = {
      {"not a database", [](const TempSuite& s) { s.write_file("mdb/KIV.mdb", std::string(8192, 'x')); },
       "(-2147467259)"},
      {"the payment table's pages damaged: it opens, the first line's lookup fails",
       [](const TempSuite& s) { damage(s, "KIV8_Payment"); }, "(11)"},
      {"the agency table's pages damaged: the first line's write fails",
       [](const TempSuite& s) { damage(s, "KIV10_Agency"); }, "(11)"},
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
    RecordingOperator op;  // the database may not open for a check
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
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, payway) VALUES ('30003', '2004-10-15', 1, 100, '9')");
  for (int i = 1; i <= 5; ++i) f.detail(std::to_string(10000 + i), 10000);
  for (int i = 0; i < 1500; ++i) f.detail("30003", 10000);  // no student: logged as a failed insert
  for (int i = 6; i <= 10; ++i) f.detail(std::to_string(10000 + i), 10000);
  const std::string file = f.write();
  const rlim_t limit = std::max<rlim_t>(fs::file_size(f.suite.paths().db_path()), 32768) + 32768;
  const ToolRun end = run_tool(f.suite.root(), {"post", "--root", f.suite.root(), "--json", file}, limit);
  EXPECT_EQ(end.status, 2) << end.out;
  const std::string messages = json_field(end.out, "messages");
  EXPECT_TRUE(messages.starts_with("[\"錯誤:") && messages.ends_with("(27)\"]") &&
              messages.find("\",\"") == std::string::npos)
      << "one message, EFBIG: " << messages;
  EXPECT_EQ(json_field(end.out, "outcome") + " " + json_field(end.out, "ok"), "error 5");
  EXPECT_EQ(f.rows("SELECT stdid FROM KIV8_Payment WHERE paystas<>0 ORDER BY stdid"),
            "10001 | 10002 | 10003 | 10004 | 10005");
  EXPECT_EQ(f.rows("SELECT payway, payday FROM KIV8_Payment WHERE stdid='30003'"), "9 NULL")
      << "the line that could not be logged is undone";
  EXPECT_EQ(f.rows("PRAGMA integrity_check"), "ok");
  const std::string log = slurp(json_field(end.out, "log"));
  const std::string pair = f.lines[5] + "\r\n ,新增繳費記錄失敗 \r\n";
  std::string counted;
  for (int i = std::stoi(json_field(end.out, "errors")); i > 0; --i) counted += pair;
  EXPECT_FALSE(counted.empty());
  EXPECT_TRUE(log.size() <= limit && log.starts_with(counted) && log.size() < counted.size() + pair.size())
      << "each line counted logged whole, and no more than part of the one that did not fit";
}

constexpr int kWaitMs = 400;

// Another program takes the database (for writing, 'w', or reading, 'r') as
// the run reaches its fourth line, and lets go after some pumps of the run's
// wait, or never (-1). The third line takes longer than a batch may stay open.
class Race : public import::LineOperations, public RecordingOperator {
 public:
  Race(const TempSuite& suite, char kind, int release_after)
      : holder_(suite.open()), kind_(kind), release_after_(release_after) {}
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (++lines_ == 3) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  void show_progress(std::int64_t done, std::int64_t total) override {
    RecordingOperator::show_progress(done, total);
    if (done != 4) return;
    holder_.execute(kind_ == 'w' ? "BEGIN IMMEDIATE" : "BEGIN; SELECT count(*) FROM KIV8_Payment;");
    held_ = true;
  }
  void pump_events() override {
    if (held_ && pumps_while_held++ == release_after_) release();
  }
  void release() {
    if (held_) holder_.execute("ROLLBACK");
    held_ = false;
  }
  int pumps_while_held = 0;

 private:
  store::Connection holder_;
  char kind_;
  int release_after_, lines_ = 0;
  bool held_ = false;
};

TEST(BusyDatabase, RunWaitsPumpingThenFinishesOrEndsWithOneMessageCountingOnlyLinesOnDisk) {
  const struct {
    char kind;
    int release_after, ok, lost;
  } cases[] = {{'w', 3, 6, 0}, {'r', 3, 6, 0}, {'w', -1, 3, 0}, {'r', -1, 3, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.kind) + " letting go after " + std::to_string(c.release_after));
    RunFixture f;
    for (int i = 1; i <= 6; ++i) {
      f.student_with_record(std::to_string(10000 + i), "100");
      f.detail(std::to_string(10000 + i), 10000);
    }
    Race race(f.suite, c.kind, c.release_after);
    const auto r = import::confirm_run({f.suite.paths(), false, f.write(), kWaitMs}, race, &race);
    race.release();
    const bool finished = c.ok == 6;
    EXPECT_EQ(r.outcome, finished ? import::RunOutcome::completed : import::RunOutcome::error);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(f.rows("SELECT count(*), max(stdid) FROM KIV8_Payment WHERE paystas<>0"),
              std::to_string(c.ok) + " " + std::to_string(10000 + c.ok))
        << "the lines counted are the first ones, and on disk";
    ASSERT_EQ(race.messages.size(), 1u);
    const auto& m = race.messages[0];
    EXPECT_TRUE(finished ? m.icon == MessageIcon::information
                         : m.icon == MessageIcon::critical && m.text.starts_with("錯誤:") && m.text.ends_with("(5)"))
        << m.text;
    EXPECT_TRUE(finished ? race.pumps_while_held == 4 : race.pumps_while_held >= kWaitMs / 50 - 2)
        << race.pumps_while_held << " pumps while the other program held the database";
    std::vector<std::string> lost;
    for (int i = 0; i < c.lost; ++i) lost.insert(lost.end(), {f.lines[3 + i], " ,銷帳寫入失敗 "});
    EXPECT_EQ(f.log_lines(r), lost) << "a batch lost with its commit is logged, not counted";
    EXPECT_EQ(r.errors, c.lost);
  }
}

}  // namespace
}  // namespace kiv::testing
