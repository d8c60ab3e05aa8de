#include <gtest/gtest.h>

#include "branch_school.h"
#include "journal/undo.h"
#include "store/journal_schema.h"
#include "store_text.h"
#include "tool_run.h"
#include "workstations.h"

namespace kiv::testing {
namespace {

using import::RunOutcome;

// Asks the same-file question; notes whether the database was free then.
class AgainOperator : public RecordingOperator {
 public:
  explicit AgainOperator(const TempSuite& suite) : suite_(suite) {}
  bool confirm_post_again(const std::string& text) override {
    asked_while_locked |= !write_lock_free(suite_);
    return RecordingOperator::confirm_post_again(text);
  }
  bool asked_while_locked = false;

 private:
  const TempSuite& suite_;
};

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
    prepare_branch(f, kBranches[0]);
    const std::string file = f.write();
    AgainOperator op(f.suite);
    ASSERT_EQ(import::confirm_run({f.suite.paths(), false, file}, op).outcome, RunOutcome::completed);
    auto db = f.suite.open();
    if (c.undo_first) {
      ASSERT_EQ(journal::undo_run(db, 1, {}).status, journal::UndoResult::Status::undone);
    }
    if (c.other_file) f.detail("10002", 1), f.write();
    const std::string before = snapshot(db);
    const auto runs_before = journal::list_runs(db).size();
    op.post_again = c.answer;

    const auto again = import::confirm_run({f.suite.paths(), false, file}, op);
    ASSERT_EQ(op.again_questions.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      const std::string ended = journal::find_run(db, 1)->ended;  // "2004-10-15 09:05:07"
      EXPECT_TRUE(ended.size() == 19 && ended[4] == '-' && ended[10] == ' ' && ended[16] == ':') << ended;
      EXPECT_EQ(op.again_questions[0], "此檔案已於 " + ended.substr(0, 4) + "/" + ended.substr(5, 2) + "/" +
                                           ended.substr(8, 2) + " " + ended.substr(11, 5) + " 入帳,是否再次入帳?");
      EXPECT_FALSE(op.asked_while_locked);
    }
    EXPECT_EQ(again.outcome, c.posted ? RunOutcome::completed : RunOutcome::stopped);
    EXPECT_EQ(again.counters_ready, c.posted);
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
    f.seed(kBranchSchool);
    {
      auto db = f.suite.open();
      for (const std::string& ddl : store::journal_ddl(db.dialect())) db.execute(ddl);
      db.execute(c.setup);
    }
    f.detail("10001", 151500);
    f.detail("10002", 151500);
    auto db = f.suite.open();
    const std::string before = snapshot(db);
    const auto r = f.run();
    EXPECT_EQ(r.outcome, RunOutcome::error);
    EXPECT_EQ(r.ok, 0);
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
    const char* agency;
  } cases[] = {
      {"three lines of one date and group", "", {"10001", "10002", "10003"}, 1, "1"},
      {"the first line is rolled back",
       "UPDATE KIV8_Payment SET payamt=NULL WHERE stdid='10001'",
       {"10001", "10002"},
       2,
       "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunFixture f(store());
    f.seed(std::string(kBranchSchool) + c.seed);
    for (const auto& id : c.stdids) f.detail(id, 151500);
    CountingAgency ops;
    const auto r = f.run(&ops);
    EXPECT_EQ(r.outcome, RunOutcome::completed);
    EXPECT_EQ(ops.calls, c.calls);
    EXPECT_EQ(f.query("SELECT PayStas FROM KIV10_Agency WHERE tranday='2004-10-15' AND grpid=1"), c.agency);
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
  for (const Branch& b : kBranches) {
    SCOPED_TRACE(b.name);
    RunFixture f(store());
    prepare_branch(f, b);
    f.lines.push_back(import::format_detail(paid("88888", 4200)));
    const std::string file = f.write();
    auto db = f.suite.open();
    const auto state = [&] { return store() == StoreKind::file ? slurp(f.suite.paths().db_path()) : snapshot(db); };
    const std::string before = state(), rows_before = snapshot(db);
    BranchSeam seam = seam_for(b);
    std::vector<std::string> seen;
    import::RunRequest dry{f.suite.paths(), false, file};
    dry.dry_run = true;
    dry.on_line = [&](const journal::LineRecord& line) {
      seen.push_back(std::string(journal::outcome_name(line.outcome)) + line.log_text);
    };
    f.op.expect_free = false;  // a dry run holds the database to its end
    const auto tried = import::confirm_run(dry, f.op, &seam);
    f.op.expect_free = true;
    EXPECT_EQ(tried.outcome, RunOutcome::completed);
    EXPECT_TRUE(state() == before);
    EXPECT_EQ(f.files_in_work_dir(), 0) << "no error log";
    EXPECT_FALSE(tried.log_path);

    const auto real = import::confirm_run({f.suite.paths(), false, file}, f.op, &seam);
    ASSERT_EQ(real.outcome, RunOutcome::completed);
    EXPECT_EQ(real.run_number, 1) << "the dry run recorded no run";
    EXPECT_EQ((std::vector<std::int64_t>{tried.lines, tried.ok, tried.failed, tried.errors, tried.posted_cents}),
              (std::vector<std::int64_t>{real.lines, real.ok, real.failed, real.errors, real.posted_cents}));
    EXPECT_EQ(parts(tried.balance), parts(real.balance));
    Cents credited = 0;
    for (const std::string& line : f.lines) {
      if (line.substr(78, 2) == "  ") credited += std::stoll(line.substr(43, 11));
    }
    const journal::Balance& got = real.balance;
    EXPECT_EQ((std::vector<Cents>{got.credited_total, got.difference(), got.with_amount, got.not_reached}),
              (std::vector<Cents>{credited, 0, real.posted_cents, 0}));
    EXPECT_GE(got.logged, 4200);
    EXPECT_EQ(parts(journal::run_balance(db, *journal::find_run(db, 1))), parts(got));
    std::vector<std::string> recorded;
    journal::for_each_line(db, 1, [&](const journal::LineRecord& line) {
      recorded.push_back(std::string(journal::outcome_name(line.outcome)) + line.log_text);
    });
    EXPECT_EQ(seen, recorded);
    EXPECT_EQ(change_kinds(db, 1), b.expected);
    EXPECT_EQ(snapshot(db) != rows_before, !b.expected.empty()) << "the run changed exactly what its journal says";

    ASSERT_EQ(journal::undo_run(db, 1, {"tester", "", ""}).status, journal::UndoResult::Status::undone);
    EXPECT_TRUE(snapshot(db) == rows_before);
  }
}

// Ends the run as a failure of the machine would, at the first line of `stdid`.
class MachineFailsAt : public import::LineOperations {
 public:
  explicit MachineFailsAt(std::string stdid) : stdid_(std::move(stdid)) {}
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (stdid == stdid_) return {0, writeoff::OpStatus::env_failed, Error{5, "the disk went away", true}};
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }

 private:
  std::string stdid_;
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
  MachineFailsAt failing("10003");
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

}  // namespace
}  // namespace kiv::testing
