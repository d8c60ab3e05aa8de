#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "db_snapshot.h"
#include "import/line_operations.h"
#include "journal/history.h"
#include "journal/undo.h"
#include "run_fixture.h"
#include "store/compaction.h"
#include "store/journal_schema.h"
#include "store/statement.h"
#include "store_text.h"
#include "tool_run.h"
#include "workstations.h"

namespace kiv::testing {
namespace {

// The rows a run changed, as "table:op", each kind once, sorted.
std::set<std::string> change_kinds(store::Connection& db, std::int64_t run) {
  std::set<std::string> kinds;
  store::Statement st(db, "select table_name, op from KIV27_Change where run=?1");
  st.bind(1, run);
  while (st.step()) kinds.insert(st.text(0) + ":" + st.text(1));
  return kinds;
}

// The journal's lines of a run by outcome, "outcome=count" joined by blanks.
std::string line_outcomes(store::Connection& db, std::int64_t run) {
  std::string out;
  store::Statement st(db, "select outcome, count(*) from KIV27_Line where run=?1 group by outcome order by outcome");
  st.bind(1, run);
  while (st.step()) out += (out.empty() ? "" : " ") + st.text(0) + "=" + st.text(1);
  return out;
}

// A small school: students 10001-10009 with a record each on 2004-10-15,
// group 1, 1500 due plus a fee of 15, a fee item each, the agency row of
// the date not yet marked.
constexpr const char* kBranchSchool =
    "INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES ('10001',0,'1','1','1'), "
    "('10002',0,'1','1','2'), ('10003',0,'1','1','3'), ('10004',1,'1','1','4'), ('10005',0,'1','1','5'), "
    "('10006',0,'1','1','6'), ('10007',0,'1','1','7'), ('10008',0,'1','1','8'), ('10009',0,'1','1','9');"
    "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) SELECT stdid, '2004-10-15', 1, "
    "'PAYER' || stdid, 'OF0' || stdid, 1500, 15 FROM KIV7_Student WHERE stdid <> '10009';"
    "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) SELECT stdid, tranday, grpid FROM KIV8_Payment;"
    "INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1), (0, '2004-11-15', 1);";

inline import::DetailFields paid(const std::string& stdid, Cents amount, const std::string& fail = "") {
  return {"0931015", "00000000000000", "", amount, "0", stdid, "01", fail};
}
inline import::DetailFields combined(Cents amount, const std::string& fail = "") {
  return {"0931015", "00000001234567", "PAYERC", amount, "1", "10001", "01", fail};
}

// Schools that lead lines down every branch of the dispatch, each with the
// kinds of change its run must make.
struct Branch {
  const char* name;
  std::string seed;  // after kBranchSchool
  std::vector<import::DetailFields> lines;
  std::set<std::string> expected;  // the kinds of change the journal must hold, exactly
  std::set<std::string> phantom = {}, repaid = {}, onto = {};
};

const char* const kCombinedPayer =
    "UPDATE KIV8_Payment SET acctid='PAYERC', offno='XX1234567' WHERE stdid IN ('10001','10002','10003');";
const char* const kSecondDate =
    "UPDATE KIV8_Payment SET tranday2='2004-11-15' WHERE stdid='10001';"
    "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee) VALUES ('10001', '2004-11-15', 1, 1500, 15);"
    "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES ('10001', '2004-11-15', 1);";
// The only record of its date and group moves to its second date: the
// agency row of that date goes with it.
const char* const kLastOfItsDay =
    "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, tranday2) VALUES "
    "('10009', '2004-10-15', 2, 800, 0, '2004-11-15'), ('10009', '2004-11-15', 2, 800, 0, NULL);"
    "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES ('10009', '2004-10-15', 2), ('10009', '2004-11-15', 2);"
    "INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 2), (0, '2004-11-15', 2);";

// The kinds of change of a line that posts, and of one whose records move
// to their second date.
const std::set<std::string> kPosts = {"KIV8_Payment:update", "KIV10_Agency:update"};
const std::set<std::string> kMoves = {"KIV8_Payment:update", "KIV8_Payment:delete", "KIV9_Payitem:delete",
                                      "KIV10_Agency:update"};

const std::vector<Branch> kBranches = {
    {"paid in full, agency flag", "", {paid("10001", 151500)}, kPosts},
    {"differing amount", "", {paid("10002", 150000), paid("10004", 100)}, kPosts},
    {"one record paid twice", "", {paid("10002", 150000), paid("10002", 151500)}, kPosts},
    {"combined in full", kCombinedPayer, {combined(451500)}, kPosts},
    {"combined short and over", kCombinedPayer, {combined(351500), combined(461500)}, kPosts},
    {"second date", kSecondDate, {paid("10001", 151500)}, kMoves},
    {"second date, last record of its day",
     kLastOfItsDay,
     {import::DetailFields{"0931015", "00000000000000", "", 80000, "0", "10009", "02", ""}},
     {"KIV8_Payment:update", "KIV8_Payment:delete", "KIV9_Payitem:delete", "KIV10_Agency:delete"}},
    {"failed transfer", "", {paid("10003", 151500, "01")}, kPosts},
    {"failed combined transfer on a second date",
     std::string(kCombinedPayer) + kSecondDate +
         "UPDATE KIV8_Payment SET acctid='PAYERC', offno='XX1234567' WHERE stdid='10001' AND tranday='2004-11-15';",
     {combined(451500, "02")},
     kMoves},
    {"insert", "", {paid("10009", 120000)}, {"KIV8_Payment:insert", "KIV10_Agency:update"}, {"10009"}},
    {"write onto an existing record", "", {paid("10005", 120000)}, kPosts, {}, {}, {"10005"}},
    {"write onto a paid record", "", {paid("10006", 151500)}, kPosts, {}, {"10006"}},
    {"written onto twice", "", {paid("10005", 120000), paid("10005", 130000)}, kPosts, {"10005"}, {}, {"10005"}},
    {"agency marked before", "UPDATE KIV10_Agency SET PayStas=1", {paid("10001", 151500)}, {"KIV8_Payment:update"}},
    {"a logged line beside a posted one", "", {paid("99999", 100), paid("10001", 100)}, kPosts},
    {"nothing but logged lines", "", {paid("99999", 100)}, {}},
};

// Stands in for the lookups where data alone cannot lead a line down a
// branch: a payment record the first lookup sees but that does not exist
// (the insert), a record found only as already paid (the write onto a paid
// record), and one found by neither write-off lookup (the write onto an
// existing record).
class BranchSeam : public import::LineOperations {
 public:
  explicit BranchSeam(const Branch& b) : b_(b) {}
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (!b_.phantom.contains(stdid)) return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
    c.pay_state.clear(), c.pay_way.clear();
    return {writeoff::kTrue, writeoff::OpStatus::ok, {}};
  }
  writeoff::LookupResult find_data(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    if (b_.repaid.contains(stdid) || b_.onto.contains(stdid)) return {};
    return LineOperations::find_data(s, c, day, stdid, grpid);
  }
  writeoff::LookupResult find_data1(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    if (b_.repaid.contains(stdid)) return {writeoff::kTrue, writeoff::OpStatus::ok, {}};
    return b_.onto.contains(stdid) ? writeoff::LookupResult{} : LineOperations::find_data1(s, c, day, stdid, grpid);
  }

 private:
  const Branch& b_;
};

using import::RunOutcome;

class RunJournal : public OnEachStore {};
KIV_ON_EACH_STORE(RunJournal);

TEST_P(RunJournal, SameFileAskedOnlyAfterACompletedRunThatStandsAndNoWritesNothing) {
  const struct {
    const char* name;
    bool undo_first, other_file, answer, asked, posted;
  } cases[] = {
      {"posted before, No", false, false, false, true, false},
      {"posted before, Yes", false, false, true, true, true},
      {"posted before but undone", true, false, false, false, true},
      {"another file", false, true, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunFixture f(store());
    f.seed(kBranchSchool), f.detail("10001", 151500);
    const std::string file = f.write();
    ASSERT_EQ(import::confirm_run({f.suite.paths(), false, file}, f.op).outcome, RunOutcome::completed);
    auto db = f.suite.open();
    ASSERT_TRUE(!c.undo_first || journal::undo_run(db, 1, {}).status == journal::UndoResult::Status::undone);
    if (c.other_file) f.detail("10002", 1), f.write();
    const std::string before = snapshot(db);
    const auto runs_before = journal::list_runs(db).size();
    f.op.post_again = c.answer;
    const auto again = import::confirm_run({f.suite.paths(), false, file}, f.op);  // asked with the database free
    ASSERT_EQ(f.op.again_questions.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      const std::string e = journal::find_run(db, 1)->ended;  // "2004-10-15 09:05:07"
      EXPECT_TRUE(e.size() == 19 && e[4] == '-' && e[10] == ' ' && e[16] == ':') << e;
      EXPECT_EQ(f.op.again_questions[0], "此檔案已於 " + e.substr(0, 4) + "/" + e.substr(5, 2) + "/" + e.substr(8, 2) +
                                             " " + e.substr(11, 5) + " 入帳,是否再次入帳?");
    }
    EXPECT_TRUE(again.outcome == (c.posted ? RunOutcome::completed : RunOutcome::stopped) &&
                again.counters_ready == c.posted);
    EXPECT_TRUE(again.read_data_ran) << "the window selects the floppy again";
    EXPECT_EQ(journal::list_runs(db).size(), runs_before + (c.posted ? 1 : 0));
    EXPECT_TRUE(c.posted || snapshot(db) == before);
  }
}

// The journal that cannot be written is the machine failing: one message,
// the run ends, nothing of the batch stays.
TEST_P(RunJournal, JournalThatCannotBeWrittenEndsTheRunWithOneMessageAndNothingPosted) {
  const struct {
    const char* name;
    const char* setup;  // run after the journal's own tables were made
  } cases[] = {
      {"the run's table is another's", "DROP TABLE KIV27_Run; CREATE TABLE KIV27_Run (x TEXT)"},
      {"a line's row cannot go in", "DROP TABLE KIV27_Line; CREATE TABLE KIV27_Line (run INTEGER, line_no INTEGER)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunFixture f(store());
    f.seed(kBranchSchool), f.detail("10001", 151500), f.detail("10002", 151500);
    auto db = f.suite.open();
    for (const std::string& ddl : store::journal_ddl(db.dialect())) db.execute(ddl);
    db.execute(c.setup);
    const std::string before = snapshot(db);
    const auto r = f.run();
    EXPECT_TRUE(r.outcome == RunOutcome::error && r.ok == 0);
    ASSERT_EQ(f.op.messages.size(), 1u);
    EXPECT_EQ(f.op.messages[0].icon, MessageIcon::critical);
    EXPECT_TRUE(snapshot(db) == before);
  }
}

class CountingAgency : public import::LineOperations {
 public:
  writeoff::OpResult update_kiv10(Session& s, S day, S grpid) override {
    ++calls;
    return LineOperations::update_kiv10(s, day, grpid);
  }
  int calls = 0;
};

// An agency record marked by a line kept in the transaction is not marked
// again; a line rolled back takes its mark with it.
TEST_P(RunJournal, AgencyMarkedOncePerTransactionByLinesThatStay) {
  const struct {
    const char* name;
    const char* seed;
    std::vector<std::string> stdids;
    int calls;
  } cases[] = {
      {"three lines of one date and group", "", {"10001", "10002", "10003"}, 1},
      {"the first line rolled back", "UPDATE KIV8_Payment SET payamt=NULL WHERE stdid='10001'", {"10001", "10002"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunFixture f(store());
    f.seed(std::string(kBranchSchool) + c.seed);
    for (const auto& id : c.stdids) f.detail(id, 151500);
    CountingAgency ops;
    EXPECT_EQ(f.run(&ops).outcome, RunOutcome::completed);
    EXPECT_EQ(ops.calls, c.calls);
    EXPECT_EQ(f.rows("SELECT PayStas FROM KIV10_Agency WHERE tranday='2004-10-15' AND grpid=1"), "1");
  }
}

std::vector<Cents> parts(const journal::Balance& b) {
  return {b.credited_total, b.with_amount, b.without_amount, b.logged, b.not_reached, b.settled, b.difference()};
}

// Every branch of the dispatch, with a logged line besides. A dry run does
// what the real run does, then leaves no trace: the database (on a file
// store byte for byte), no log, no journal. The real run's balance adds up,
// its journal states the same, the lines and exactly the kinds of change it
// made; undoing it gives the database back.
TEST_P(RunJournal, EveryBranchDryRunCountsAsTheRunWhoseJournalAddsUpAndWhoseUndoGivesTheDatabaseBack) {
  const auto outcomes = [](std::vector<std::string>& out) {
    return [&out](const journal::LineRecord& l) {
      out.push_back(std::string(journal::outcome_name(l.outcome)) + l.log_text);
    };
  };
  for (const Branch& b : kBranches) {
    SCOPED_TRACE(b.name);
    RunFixture f(store());
    f.seed(std::string(kBranchSchool) + b.seed);
    for (const import::DetailFields& line : b.lines) f.lines.push_back(import::format_detail(line));
    f.lines.push_back(import::format_detail(paid("88888", 4200)));
    const std::string file = f.write();
    auto db = f.suite.open();
    const auto state = [&] { return store() == StoreKind::file ? slurp(f.suite.paths().db_path()) : snapshot(db); };
    const std::string before = state(), rows_before = snapshot(db);
    BranchSeam seam(b);
    std::vector<std::string> seen, recorded;
    import::RunRequest dry{f.suite.paths(), false, file};
    dry.dry_run = true;
    dry.on_line = outcomes(seen);
    f.op.expect_free = false;  // a dry run holds the database to its end
    const auto tried = import::confirm_run(dry, f.op, &seam);
    f.op.expect_free = true;
    EXPECT_EQ(tried.outcome, RunOutcome::completed);
    EXPECT_TRUE(state() == before);
    EXPECT_TRUE(std::filesystem::is_empty(f.suite.paths().work_dir()) && !tried.log_path) << "no error log";

    const auto real = import::confirm_run({f.suite.paths(), false, file}, f.op, &seam);
    ASSERT_EQ(real.outcome, RunOutcome::completed);
    EXPECT_EQ(real.run_number, 1) << "the dry run recorded no run";
    EXPECT_EQ((std::vector<std::int64_t>{tried.lines, tried.ok, tried.failed, tried.errors, tried.posted_cents}),
              (std::vector<std::int64_t>{real.lines, real.ok, real.failed, real.errors, real.posted_cents}));
    EXPECT_EQ(parts(tried.balance), parts(real.balance));
    Cents credited = 0;
    for (const std::string& line : f.lines)
      credited += line.substr(78, 2) == "  " ? std::stoll(line.substr(43, 11)) : 0;
    const journal::Balance& got = real.balance;
    EXPECT_EQ((std::vector<Cents>{got.credited_total, got.difference(), got.with_amount, got.not_reached}),
              (std::vector<Cents>{credited, 0, real.posted_cents, 0}));
    EXPECT_GE(got.logged, 4200);
    EXPECT_EQ(parts(journal::run_balance(db, *journal::find_run(db, 1))), parts(got));
    journal::for_each_line(db, 1, outcomes(recorded));
    EXPECT_EQ(seen, recorded);
    EXPECT_EQ(change_kinds(db, 1), b.expected);
    EXPECT_EQ(snapshot(db) != rows_before, !b.expected.empty()) << "the run changed exactly what its journal says";
    ASSERT_EQ(journal::undo_run(db, 1, {"tester", "", ""}).status, journal::UndoResult::Status::undone);
    EXPECT_TRUE(snapshot(db) == rows_before);
  }
}

// Ends the run as a failure of the machine would, at the first line of 10003.
class MachineFailsAt : public import::LineOperations {
 public:
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (stdid == "10003") return {0, writeoff::OpStatus::env_failed, Error{5, "the disk went away", true}};
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }
};

// The same file after a run that did not complete goes on from where that
// run stopped, without the question: the database ends as one whole run
// leaves it, and the lines posted before count as settled.
TEST_P(RunJournal, RunThatDidNotCompleteIsResumedLeavingItsPostedLinesAlone) {
  RunFixture whole(store()), cut(store());
  for (RunFixture* f : {&whole, &cut}) {
    f->seed(kBranchSchool);
    for (const char* id : {"10001", "10002", "10003", "10005"}) f->detail(id, 151500);
  }
  ASSERT_EQ(whole.run().outcome, RunOutcome::completed);
  MachineFailsAt failing;
  const auto first = cut.run(&failing);
  ASSERT_EQ(first.outcome, RunOutcome::error);
  const auto rest = cut.run();
  EXPECT_EQ(rest.outcome, RunOutcome::completed);
  EXPECT_TRUE(cut.op.again_questions.empty());
  EXPECT_EQ(rest.resumed_run, first.run_number);
  EXPECT_EQ((std::vector<std::int64_t>{rest.settled, rest.ok, rest.errors}), (std::vector<std::int64_t>{2, 2, 0}));
  auto whole_db = whole.suite.open();
  auto cut_db = cut.suite.open();
  EXPECT_EQ(line_outcomes(cut_db, rest.run_number), "posted_amount=2 settled=2");
  EXPECT_TRUE(snapshot(cut_db, false) == snapshot(whole_db, false));
}

using Status = journal::UndoResult::Status;
const journal::RunContext kTester{"tester", "", ""};

// The demo school reaches every outcome the data can reach, with many lines
// to a batch and rows touched by several lines. On the file store its indexes
// go and the posted database is compacted before the undo: compaction then
// renumbers the rows (SQLite keeps the rowids of an indexed table only), as a
// suite database made by other programs may well be, and the undo finds them
// by content; that rowids come back too the branches show. After the undo and
// the post again, rows of the new run changed since make its undo refuse.
TEST_P(RunJournal, DemoSchoolComesBackEvenAfterCompactionPostsAgainWithoutTheQuestionAndAChangedRowRefusesTheUndo) {
  TempSuite scratch(store(), false);
  const SuitePaths paths{scratch.root() + "/school"};
  std::vector<std::string> args = {"demo", "--root", paths.root, "--students", "400"};
  if (store() == StoreKind::server) args.insert(args.end(), {"--server", scratch.server_uri()});
  ASSERT_EQ(run_tool(scratch.root(), args).status, 0);
  RecordingOperator op;
  import::RunResult r;
  const auto post = [&] { r = import::confirm_run({paths, false, paths.staging_file()}, op); };
  const bool file = store() == StoreKind::file;
  std::optional<store::Connection> db(store::Connection::open(paths));
  for (const char* index : {"KIV8_Payment_record", "KIV8_Payment_payer", "KIV8_Payment_day", "KIV9_Payitem_key"}) {
    if (file) db->execute(std::string("DROP INDEX ") + index);
  }
  const std::string before = snapshot(*db, false);
  post();
  ASSERT_EQ(r.outcome, RunOutcome::completed);
  const std::string posted = snapshot(*db, false), posted_rowids = snapshot(*db);
  EXPECT_EQ(line_outcomes(*db, r.run_number), "failed_transfer=" + std::to_string(r.failed) + " logged=" +
                                                  std::to_string(r.errors) + " posted_amount=" + std::to_string(r.ok));
  if (file) {
    db.reset();
    ASSERT_FALSE(store::compress_mdb(paths, op).has_value());
    db.emplace(store::Connection::open(paths));
    ASSERT_TRUE(snapshot(*db) != posted_rowids) << "compaction renumbered the rows after the gaps the run left";
    ASSERT_TRUE(snapshot(*db, false) == posted);
  }

  const auto undone = journal::undo_run(*db, r.run_number, kTester);
  ASSERT_EQ(undone.status, Status::undone);
  EXPECT_GT(undone.restored, 0);
  EXPECT_TRUE(snapshot(*db, false) == before);
  EXPECT_EQ(journal::find_run(*db, r.run_number)->undone_by, undone.undo_run);
  EXPECT_EQ(journal::find_run(*db, undone.undo_run)->undoes, r.run_number);
  const std::pair<std::int64_t, Status> refusals[] = {{r.run_number, Status::already_undone},
                                                      {undone.undo_run, Status::not_a_post},
                                                      {undone.undo_run + 1, Status::no_such_run}};
  for (const auto& [run, status] : refusals) {
    EXPECT_EQ(journal::undo_run(*db, run, kTester).status, status) << run;
    EXPECT_TRUE(snapshot(*db, false) == before);
  }

  op.again_questions.clear();
  post();
  EXPECT_TRUE(op.again_questions.empty()) << "an undone run is no reason to ask";
  EXPECT_TRUE(snapshot(*db, false) == posted);

  const auto run = r.run_number;
  std::multiset<std::string> changed, conflicts;
  for (const auto& [table, change] : {std::pair{"KIV8_Payment", "UPDATE KIV8_Payment SET payway='9' WHERE rowid=?1"},
                                      {"KIV10_Agency", "DELETE FROM KIV10_Agency WHERE rowid=?1"}}) {
    std::int64_t rowid = 0;
    {
      store::Statement written(*db,
                               "SELECT min(row_id) FROM KIV27_Change WHERE run=?1 AND table_name=?2 AND op='update'");
      ASSERT_TRUE(written.bind(1, run).bind(2, table).step());
      rowid = written.integer(0);
    }
    store::Statement(*db, change).bind(1, rowid).run();
    changed.insert(table + (":" + std::to_string(rowid)));
  }
  const std::string changed_rows = snapshot(*db);
  const auto refused = journal::undo_run(*db, run, kTester);
  EXPECT_EQ(refused.status, Status::refused);
  for (const auto& c : refused.conflicts) conflicts.insert(c.table + ":" + std::to_string(c.rowid));
  EXPECT_EQ(conflicts, changed) << "each changed row once";
  EXPECT_TRUE(snapshot(*db) == changed_rows);
  EXPECT_EQ(journal::find_run(*db, run)->undone_by, 0);
  EXPECT_EQ(journal::list_runs(*db).size(), 3u) << "no undo recorded";
}

}  // namespace
}  // namespace kiv::testing
