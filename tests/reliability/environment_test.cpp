// A machine that fails the run: a database that cannot be opened, a work
// folder that cannot be written, a disk that fills while the run writes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "../run/run_fixture.h"
#include "child_run.h"
#include "clean_run.h"
#include "json_fields.h"
#include "schools.h"
#include "store/schema.h"
#include "store/statement.h"
#include "suite_state.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using import::RunOutcome;
using import::RunResult;

std::vector<std::string> logs_in(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().filename().string().starts_with("err27_")) out.push_back(entry.path().string());
  }
  return out;
}

// A suite whose database is replaced by `make_database` (or left missing),
// and a valid one-line collection file outside its work folder.
struct BadDatabase {
  TempSuite suite{false};
  RecordingOperator op;
  std::string file;

  BadDatabase() {
    fs::create_directories(suite.paths().mdb_dir());
    fs::create_directories(suite.paths().work_dir());
    file =
        suite.write_file("in/post1003.dat", import::format_detail({"0931015", "", "", 10000, "0", "10001", "01", ""}) +
                                                "\r\n" + import::format_trailer(1, 10000, 1, 10000) + "\r\n");
  }

  RunResult run() { return import::confirm_run({suite.paths(), false, file}, op); }

  void expect_one_cannot_open_message(const RunResult& r) const {
    EXPECT_EQ(r.outcome, RunOutcome::error);
    EXPECT_EQ(r.ok, 0);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
    EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:")) << op.messages[0].text;
    EXPECT_TRUE(op.messages[0].text.ends_with("(-2147467259)")) << op.messages[0].text;
    EXPECT_TRUE(logs_in(suite.paths().work_dir()).empty()) << "no error log";
  }
};

TEST(BadEnvironment, DatabaseMissingDamagedOrUnderAnotherPasswordIsOneMessageAndNothingIsCreated) {
  {
    SCOPED_TRACE("missing");
    BadDatabase b;
    b.expect_one_cannot_open_message(b.run());
    EXPECT_FALSE(fs::exists(b.suite.paths().db_path())) << "opening never creates the database";
    EXPECT_EQ(std::distance(fs::directory_iterator(b.suite.paths().mdb_dir()), fs::directory_iterator{}), 0);
  }
  {
    SCOPED_TRACE("not a database");
    BadDatabase b;
    std::string junk(8192, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 131 + 7) % 251);
    b.suite.write_file("mdb/KIV.mdb", junk);
    b.expect_one_cannot_open_message(b.run());
    EXPECT_EQ(slurp(b.suite.paths().db_path()), junk) << "the file is left as it was";
  }
  for (const bool encrypted : {true, false}) {
    SCOPED_TRACE(encrypted ? "another password" : "no password");
    BadDatabase b;
    if (encrypted) {
      auto db = store::Connection::create(b.suite.paths().db_path(), "OTHER");
      store::create_schema(db);
    } else {
      sqlite3* db = nullptr;
      ASSERT_EQ(
          sqlite3_open_v2(b.suite.paths().db_path().c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
          SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE KIV8_Payment (stdid TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    }
    const std::string before = slurp(b.suite.paths().db_path());
    b.expect_one_cannot_open_message(b.run());
    EXPECT_EQ(slurp(b.suite.paths().db_path()), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(b.suite.paths().mdb_dir()), fs::directory_iterator{}), 1)
        << "no journal or other file left beside it";
  }
}

// The payment table's pages damaged: the database opens, and the first
// line, which reads them, ends the run.
TEST(BadEnvironment, DamagedPagesEndTheRunWithOneMessageAndNoLineCounted) {
  RunFixture f;
  for (const char* id : {"10001", "10002", "10003"}) {
    f.student_with_record(id, "100");
    f.detail(id, 10000);
  }
  std::vector<std::int64_t> pages;
  {
    auto db = f.suite.open();
    store::Statement roots(db, "SELECT rootpage FROM sqlite_master WHERE tbl_name='KIV8_Payment' AND rootpage>1");
    while (roots.step()) pages.push_back(roots.integer(0));
  }
  ASSERT_FALSE(pages.empty());
  {
    std::fstream db(f.suite.paths().db_path(), std::ios::binary | std::ios::in | std::ios::out);
    for (const std::int64_t page : pages) {
      db.seekp(static_cast<std::streamoff>((page - 1) * 1024 + 100));
      db.write("\xde\xad\xbe\xef", 4);
    }
  }
  const auto r = f.run();
  EXPECT_EQ(r.outcome, RunOutcome::error);
  EXPECT_EQ(r.ok, 0);
  ASSERT_EQ(f.op.messages.size(), 1u) << f.op.messages[1].text;
  EXPECT_EQ(f.op.messages[0].icon, MessageIcon::critical);
  EXPECT_TRUE(f.op.messages[0].text.starts_with("錯誤:")) << f.op.messages[0].text;
  EXPECT_TRUE(f.op.messages[0].text.ends_with("(11)"))
      << "the damage is reported, not a failure to undo the line: " << f.op.messages[0].text;
  EXPECT_FALSE(r.log_path) << "a failure of the machine is not a line's fault: nothing logged";
}

TEST(BadEnvironment, FileWhereTheWorkFolderShouldBeIsAClearMessageAndNothingIsPosted) {
  RunFixture f;
  f.student_with_record("10001", "100");
  f.detail("10001", 10000);
  const std::string file = f.write();
  fs::remove_all(f.suite.paths().work_dir());
  f.suite.write_file("medi", "not a folder");
  const SuiteState before = read_state(f.suite.paths().db_path());

  const auto r = import::confirm_run({f.suite.paths(), false, file}, f.op);
  EXPECT_EQ(r.outcome, RunOutcome::error);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].icon, MessageIcon::critical);
  EXPECT_NE(f.op.messages[0].text.find(f.suite.paths().work_dir()), std::string::npos)
      << "the message names the folder: " << f.op.messages[0].text;
  EXPECT_TRUE(read_state(f.suite.paths().db_path()) == before) << "nothing posted";
  EXPECT_TRUE(fs::is_regular_file(f.suite.paths().work_dir())) << "the file is left alone";
}

// The work folder disappears under the run; the first line to be logged
// finds it gone.
class WorkFolderLost : public import::LineOperations {
 public:
  explicit WorkFolderLost(std::string work_dir) : work_dir_(std::move(work_dir)) {}
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (++calls == 3) {
      fs::remove_all(work_dir_);
      std::ofstream(work_dir_) << "in the way";
    }
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  int calls = 0;

 private:
  std::string work_dir_;
};

TEST(BadEnvironment, ErrorLogThatCannotBeCreatedEndsTheRunWithTheLineRolledBackAndEarlierLinesKept) {
  RunFixture f;
  f.student_with_record("10001", "100");
  f.student_with_record("10002", "100");
  f.student_with_record("10004", "100");
  // A record whose student row is gone: the reset and the agency flag run,
  // then the insert is refused and the line must be logged.
  f.seed(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, payway, payday) VALUES "
      "('30003', '2004-10-15', 1, 100, '9', '2004-01-01')");
  f.detail("10001", 10000);
  f.detail("10002", 10000);
  f.detail("30003", 10000);
  f.detail("10004", 10000);
  WorkFolderLost seam(f.suite.paths().work_dir());
  const auto r = f.run(&seam);
  EXPECT_EQ(r.outcome, RunOutcome::error);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_NE(f.op.messages[0].text.find("(20)"), std::string::npos) << "ENOTDIR: " << f.op.messages[0].text;
  EXPECT_EQ(r.ok, 2);
  EXPECT_EQ(r.errors, 0) << "the line that could not be logged is not counted as logged";
  EXPECT_EQ(f.query("SELECT group_concat(stdid) FROM KIV8_Payment WHERE paystas<>0"), "10001,10002");
  EXPECT_EQ(f.query("SELECT payway || payday FROM KIV8_Payment WHERE stdid='30003'"), "92004-01-01")
      << "the reset of the line is rolled back";
}

// Writes past the limit fail as on a full disk (EFBIG, 27), in the error log,
// the journal and the database alike.
constexpr const char* kFileTooLarge = "(27)";

TEST(DiskFull, ErrorLogThatCannotBeWrittenEndsTheRunWithTheLinesBeforeItPostedAndCounted) {
  TempSuite scratch(false);
  RunFixture f;
  for (int i = 1; i <= 10; ++i) f.student_with_record(std::to_string(10000 + i), "100");
  for (int i = 1; i <= 5; ++i) f.detail(std::to_string(10000 + i), 10000);
  for (int i = 0; i < 1500; ++i) f.detail("99999", 10000);  // no record: logged, writes nothing
  for (int i = 6; i <= 10; ++i) f.detail(std::to_string(10000 + i), 10000);
  const std::string file = f.write();
  const auto limit =
      static_cast<rlim_t>(std::max<std::uintmax_t>(fs::file_size(f.suite.paths().db_path()), 32768) + 32768);

  const ChildEnd end =
      run_child({{"post", "--root", f.suite.root(), "--json", file}, scratch.root(), {}, limit, false});
  EXPECT_EQ(end.status, 2) << end.err;
  EXPECT_EQ(json_text(end.out, "outcome"), "error") << end.out;
  const auto messages = json_messages(end.out);
  ASSERT_EQ(messages.size(), 1u) << end.out;
  EXPECT_TRUE(messages[0].starts_with("錯誤:")) << messages[0];
  EXPECT_TRUE(messages[0].ends_with(kFileTooLarge)) << messages[0];
  EXPECT_EQ(json_int(end.out, "ok"), 5);
  EXPECT_EQ(f.query("SELECT count(*) FROM KIV8_Payment WHERE paystas<>0"), "5");
  EXPECT_EQ(f.query("SELECT count(*) FROM KIV8_Payment WHERE paystas<>0 AND CAST(stdid AS INTEGER)>10005"), "0");
  {
    auto db = f.suite.open();
    EXPECT_EQ(integrity_check(db), "ok");
  }
  // The log holds the lines logged before the disk filled, each whole.
  const auto log = json_text(end.out, "log");
  ASSERT_TRUE(log) << end.out;
  const std::string text = slurp(*log);
  const std::string pair = f.lines[5] + "\r\n,查無繳費記錄檔\r\n";
  const auto errors = json_int(end.out, "errors").value_or(-1);
  EXPECT_GT(errors, 0);
  ASSERT_GE(text.size(), pair.size() * static_cast<std::size_t>(errors));
  for (std::int64_t i = 0; i < errors; ++i) {
    ASSERT_EQ(text.substr(pair.size() * static_cast<std::size_t>(i), pair.size()), pair) << "pair " << i;
  }
  EXPECT_LE(text.size(), limit);
}

// Whatever write fails first on a school with every kind of line, the run
// ends with one message, a sound database holding whole lines, and counters
// that match the database.
TEST(DiskFull, AnyWriteFailingLeavesASoundDatabaseAndHonestCounters) {
  TempSuite scratch(false);
  const std::string& pristine = pristine_demo_school();
  const std::string file = SuitePaths{pristine}.staging_file();
  const auto db_size = fs::file_size(SuitePaths{pristine}.db_path());

  std::vector<rlim_t> limits;
  std::vector<ChildEnd> ends;
  std::vector<SuiteState> states;
  for (const rlim_t margin : {1024, 8 * 1024, 16 * 1024, 32 * 1024, 1024 * 1024}) {
    limits.push_back(db_size + margin);
    const std::string root = scratch.root() + "/limit" + std::to_string(margin);
    copy_suite(pristine, root);
    ends.push_back(run_child({{"post", "--root", root, "--json", file}, scratch.root(), {}, limits.back(), false}));
    auto db = store::Connection::open(SuitePaths{root}.db_path());
    EXPECT_EQ(integrity_check(db), "ok") << "limit " << limits.back();
    states.push_back(read_state(db));
  }

  const auto matches = clean_states_matching(pristine, file, states, scratch.root() + "/clean");
  for (std::size_t i = 0; i < ends.size(); ++i) {
    const ChildEnd& end = ends[i];
    SCOPED_TRACE("limit " + std::to_string(limits[i]) + ": " + end.out);
    ASSERT_TRUE(end.status == 0 || end.status == 2) << "the tool ended by itself: " << end.err;
    const auto messages = json_messages(end.out);
    if (end.status == 2) {
      EXPECT_EQ(json_text(end.out, "outcome"), "error");
      ASSERT_EQ(std::count_if(messages.begin(), messages.end(), [](const auto& m) { return m.starts_with("錯誤:"); }),
                1);
    }
    ASSERT_FALSE(matches[i].empty()) << "no clean run stopped after any line leaves this database";
    const std::int64_t k = matches[i].front();
    const auto clean = clean_run_of_first_lines(pristine, file, k, scratch.root() + "/first" + std::to_string(i));
    EXPECT_EQ(json_int(end.out, "ok"), clean.ok) << "after " << k << " lines";
    EXPECT_EQ(json_int(end.out, "failed"), clean.failed);
    EXPECT_EQ(json_int(end.out, "posted_total"), clean.posted_total());
    std::printf("[ limit %llu ] %s after %lld lines: %s\n", static_cast<unsigned long long>(limits[i]),
                end.status == 0 ? "completed" : "ended", static_cast<long long>(k),
                messages.empty() ? "" : messages.front().c_str());
  }
}

}  // namespace
}  // namespace kiv::testing
