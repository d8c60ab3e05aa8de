#include "journal/undo.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "branch_school.h"
#include "store/compaction.h"
#include "store_text.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

using Status = journal::UndoResult::Status;

const journal::RunContext kTester{"tester", "", ""};

class Undo : public OnEachStore {};
KIV_ON_EACH_STORE(Undo);

// The demo school reaches every outcome the data can reach, with many
// lines to a batch and rows touched by several lines.
struct DemoRun {
  explicit DemoRun(StoreKind store = StoreKind::file) : scratch(store, false) {
    std::vector<std::string> args = {"demo", "--root", root, "--students", "400"};
    if (store == StoreKind::server) args.insert(args.end(), {"--server", scratch.server_uri()});
    const auto demo = run_tool(scratch.root(), args);
    EXPECT_EQ(demo.status, 0) << demo.err;
  }
  TempSuite scratch;
  std::string root = scratch.root() + "/school";
  SuitePaths paths{root};
  RecordingOperator op;
  import::RunResult result;

  void post() { result = import::confirm_run({paths, false, paths.staging_file()}, op); }
  store::Connection open() const { return store::Connection::open(paths); }
};

TEST_P(Undo, DemoSchoolComesBackRowByRowAndPostsAgainWithoutTheQuestion) {
  DemoRun demo(store());
  auto db = demo.open();
  const std::string before = snapshot(db);
  demo.post();
  ASSERT_EQ(demo.result.outcome, import::RunOutcome::completed);
  const std::string posted = snapshot(db);
  EXPECT_EQ(line_outcomes(db, demo.result.run_number), "failed_transfer=" + std::to_string(demo.result.failed) +
                                                           " logged=" + std::to_string(demo.result.errors) +
                                                           " posted_amount=" + std::to_string(demo.result.ok));

  const auto undone = journal::undo_run(db, demo.result.run_number, kTester);
  ASSERT_EQ(undone.status, Status::undone);
  EXPECT_TRUE(snapshot(db) == before);
  EXPECT_EQ(journal::find_run(db, demo.result.run_number)->undone_by, undone.undo_run);
  EXPECT_EQ(journal::find_run(db, undone.undo_run)->undoes, demo.result.run_number);

  const struct {
    std::int64_t run;
    Status status;
  } refusals[] = {{demo.result.run_number, Status::already_undone},
                  {undone.undo_run, Status::not_a_post},
                  {undone.undo_run + 1, Status::no_such_run}};
  for (const auto& refusal : refusals) {
    EXPECT_EQ(journal::undo_run(db, refusal.run, kTester).status, refusal.status) << refusal.run;
    EXPECT_TRUE(snapshot(db) == before);
  }

  demo.op.again_questions.clear();
  demo.post();
  EXPECT_TRUE(demo.op.again_questions.empty()) << "an undone run is no reason to ask";
  EXPECT_TRUE(snapshot(db) == posted);
}

// Compaction renumbers the rows of a table without an index (SQLite copies
// the rowids of an indexed one), as a suite database made by other programs
// may well be. Compaction is the file store's alone.
TEST(UndoOnFile, AfterCompactionRenumberedTheRowsTheyAreFoundByContent) {
  DemoRun demo;
  std::string before, posted, posted_content;
  {
    auto db = demo.open();
    for (const char* index : {"KIV8_Payment_record", "KIV8_Payment_payer", "KIV8_Payment_day", "KIV9_Payitem_key"}) {
      db.execute(std::string("DROP INDEX ") + index);
    }
    before = snapshot(db, false);
  }
  demo.post();
  ASSERT_EQ(demo.result.outcome, import::RunOutcome::completed);
  {
    auto db = demo.open();
    posted = snapshot(db);
    posted_content = snapshot(db, false);
  }
  ASSERT_FALSE(store::compress_mdb(demo.paths, demo.op).has_value());
  auto db = demo.open();
  ASSERT_TRUE(snapshot(db) != posted) << "compaction renumbered the rows after the gaps the run left";
  ASSERT_TRUE(snapshot(db, false) == posted_content);

  const auto undone = journal::undo_run(db, demo.result.run_number, kTester);
  ASSERT_EQ(undone.status, Status::undone);
  EXPECT_GT(undone.restored, 0);
  EXPECT_TRUE(snapshot(db, false) == before);
}

TEST_P(Undo, RefusedWhenARowOfTheRunChangedSinceAndNothingChanges) {
  const struct {
    const char* name;
    const char* table;
    const char* change;  // ?1: the rowid of a row the run wrote
  } cases[] = {
      {"updated", "KIV8_Payment", "UPDATE KIV8_Payment SET payway='9' WHERE rowid=?1"},
      {"deleted", "KIV10_Agency", "DELETE FROM KIV10_Agency WHERE rowid=?1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DemoRun demo(store());
    demo.post();
    auto db = demo.open();
    std::int64_t rowid = 0;
    {
      store::Statement written(db, "SELECT min(row_id) FROM KIV27_Change WHERE table_name=?1 AND op='update'");
      ASSERT_TRUE(written.bind(1, c.table).step());
      rowid = written.integer(0);
    }
    store::Statement(db, c.change).bind(1, rowid).run();
    const std::string before = snapshot(db);

    const auto refused = journal::undo_run(db, demo.result.run_number, kTester);
    EXPECT_EQ(refused.status, Status::refused);
    ASSERT_EQ(refused.conflicts.size(), 1u);
    EXPECT_EQ(refused.conflicts[0].table, c.table);
    EXPECT_EQ(refused.conflicts[0].rowid, rowid);
    EXPECT_TRUE(snapshot(db) == before);
    EXPECT_EQ(journal::find_run(db, demo.result.run_number)->undone_by, 0);
    EXPECT_EQ(journal::list_runs(db).size(), 1u) << "no undo recorded";
  }
}

}  // namespace
}  // namespace kiv::testing
