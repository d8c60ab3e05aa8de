#include <gtest/gtest.h>

#include <thread>

#include "run_fixture.h"

namespace kiv::testing {
namespace {

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
