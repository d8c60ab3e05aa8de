// Another program holding the database while a run posts: the run waits,
// keeping the window alive, and either goes on or ends with one message,
// never counting a line the database does not hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "../run/run_fixture.h"
#include "lock_holder.h"
#include "recording_operator.h"
#include "suite_state.h"
#include "temp_suite.h"

namespace kiv::testing {
namespace {

using import::RunOutcome;
using import::RunResult;

constexpr int kWaitMs = 400;
constexpr int kLines = 6;

// Holds line 3 long enough that the run commits after it, so the other
// program can come in between two batches.
class SlowThirdLine : public import::LineOperations {
 public:
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (++calls == 3) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  int calls = 0;
};

// The other program takes its lock as line 4 comes up, and lets go after
// `release_after_pumps` pumps of the run's wait (never when negative).
class LockingOperator : public RecordingOperator {
 public:
  LockingOperator(std::string db_path, LockHolder::Kind kind, int release_after_pumps)
      : db_path_(std::move(db_path)), kind_(kind), release_after_(release_after_pumps) {}

  void show_progress(std::int64_t done, std::int64_t total) override {
    RecordingOperator::show_progress(done, total);
    if (done == 4 && !holder) holder = std::make_unique<LockHolder>(db_path_, kind_);
  }
  void pump_events() override {
    RecordingOperator::pump_events();
    if (!holder || !holder->holding()) return;
    ++pumps_while_held;
    if (pumps_while_held - 1 == release_after_) holder->release();  // the first pump is line 4's own
  }

  std::unique_ptr<LockHolder> holder;
  int pumps_while_held = 0;

 private:
  std::string db_path_;
  LockHolder::Kind kind_;
  int release_after_;
};

// Six students, each paid exactly; line 3 is slow.
void prepare(RunFixture& f) {
  for (int i = 1; i <= kLines; ++i) {
    const std::string id = std::to_string(10000 + i);
    f.student_with_record(id, "100");
    f.detail(id, 10000);
  }
  f.seed("INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1)");
}

RunResult run(RunFixture& f, LockingOperator& op) {
  SlowThirdLine seam;
  const auto r = import::confirm_run({f.suite.paths(), false, f.write(), kWaitMs}, op, &seam);
  if (op.holder) op.holder->release();
  return r;
}

std::string paid(const RunFixture& f) {
  return f.query("SELECT group_concat(stdid) FROM (SELECT stdid FROM KIV8_Payment WHERE paystas<>0 ORDER BY stdid)");
}

std::string integrity(const RunFixture& f) {
  auto db = f.suite.open();
  return integrity_check(db);
}

int critical_messages(const RecordingOperator& op) {
  return static_cast<int>(std::count_if(op.messages.begin(), op.messages.end(),
                                        [](const auto& m) { return m.icon == MessageIcon::critical; }));
}

TEST(BusyDatabase, WriterHoldingPastTheWaitEndsTheRunWithOneMessageAndEarlierLinesOnDisk) {
  RunFixture f;
  prepare(f);
  LockingOperator op(f.suite.paths().db_path(), LockHolder::Kind::write, -1);
  const auto r = run(f, op);
  EXPECT_EQ(r.outcome, RunOutcome::error);
  EXPECT_FALSE(r.counters_ready);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
  EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:")) << op.messages[0].text;
  EXPECT_TRUE(op.messages[0].text.ends_with("(5)")) << "busy: " << op.messages[0].text;
  EXPECT_EQ(r.ok, 3);
  // Read with a connection of its own once the other program has let go:
  // the three lines before the wait are on disk, line 4 and later are not.
  EXPECT_EQ(paid(f), "10001,10002,10003");
  EXPECT_EQ(integrity(f), "ok");
  EXPECT_GE(op.pumps_while_held, kWaitMs / 50 - 2) << "the window is pumped while the run waits";
}

TEST(BusyDatabase, WriterLettingGoWithinTheWaitLetsTheRunFinish) {
  RunFixture f;
  prepare(f);
  LockingOperator op(f.suite.paths().db_path(), LockHolder::Kind::write, 3);
  const auto r = run(f, op);
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ(r.ok, kLines);
  EXPECT_EQ(critical_messages(op), 0);
  EXPECT_EQ(op.pumps_while_held, 4) << "three pumps of waiting after line 4's own";
  EXPECT_EQ(paid(f), "10001,10002,10003,10004,10005,10006");
  EXPECT_EQ(integrity(f), "ok");
}

// A reader keeps a writer from committing. The lines of the batch that
// cannot be committed are not posted: the run does not count them and logs
// them as not written.
TEST(BusyDatabase, ReaderHoldingPastTheWaitAtACommitLeavesNoLineCountedThatIsNotOnDisk) {
  RunFixture f;
  prepare(f);
  LockingOperator op(f.suite.paths().db_path(), LockHolder::Kind::read, -1);
  const auto r = run(f, op);
  EXPECT_EQ(r.outcome, RunOutcome::error);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_TRUE(op.messages[0].text.ends_with("(5)")) << op.messages[0].text;
  EXPECT_EQ(paid(f), "10001,10002,10003");
  EXPECT_EQ(r.ok, 3) << "counted lines are exactly those on disk";
  EXPECT_EQ(integrity(f), "ok");
  const auto log = f.log_lines(r);
  EXPECT_EQ(r.errors, static_cast<std::int64_t>(log.size() / 2));
  ASSERT_GE(log.size(), 2u) << "the lines of the lost batch are explained";
  EXPECT_EQ(log[0], f.lines[3]);
  EXPECT_EQ(log[1], " ,銷帳寫入失敗 ");

  // When the reader lets go within the wait, the commit goes through.
  RunFixture g;
  prepare(g);
  LockingOperator patient(g.suite.paths().db_path(), LockHolder::Kind::read, 3);
  const auto finished = run(g, patient);
  EXPECT_EQ(finished.outcome, RunOutcome::completed);
  EXPECT_EQ(finished.ok, kLines);
  EXPECT_EQ(paid(g), "10001,10002,10003,10004,10005,10006");
}

}  // namespace
}  // namespace kiv::testing
