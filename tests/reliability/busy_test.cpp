#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "../run/run_fixture.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

constexpr int kWaitMs = 400;

class Race : public import::LineOperations, public RecordingOperator {
 public:
  Race(std::string db_path, char kind, int release_after)
      : db_path_(std::move(db_path)), kind_(kind), release_after_(release_after) {}
  ~Race() override { release(); }
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (++lines_ == 3) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  void show_progress(std::int64_t done, std::int64_t /*total*/) override {
    if (done != 4) return;
    const std::string held = db_path_ + ".held";
    shell_ = popen(("exec sqlcipher -batch '" + db_path_ + "' >/dev/null 2>&1").c_str(), "w");
    ASSERT_NE(shell_, nullptr);
    std::fprintf(shell_, "PRAGMA key='%s';\n%s\n.once '%s'\nSELECT 'held';\n", store::kSuitePassword,
                 kind_ == 'w' ? "BEGIN IMMEDIATE;" : "BEGIN; SELECT count(*) FROM KIV8_Payment;", held.c_str());
    std::fflush(shell_);
    for (int waited = 0; slurp(held) != "held\n"; ++waited) {
      ASSERT_LT(waited, 10000) << "sqlcipher did not take its lock";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void pump_events() override {
    if (shell_ != nullptr && pumps_while_held++ == release_after_) release();
  }
  void release() {
    if (shell_ != nullptr) pclose(shell_);
    shell_ = nullptr;
  }
  int pumps_while_held = 0;

 private:
  std::string db_path_;
  char kind_;
  int release_after_, lines_ = 0;
  FILE* shell_ = nullptr;
};

TEST(BusyDatabase, RunWaitsPumpingThenFinishesOrEndsWithOneMessageCountingOnlyLinesOnDisk) {
  const struct {
    char kind;
    int release_after, ok;
    int lost;
  } cases[] = {{'w', 3, 6, 0}, {'r', 3, 6, 0}, {'w', -1, 3, 0}, {'r', -1, 3, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.kind) + " letting go after " + std::to_string(c.release_after));
    RunFixture f;
    for (int i = 1; i <= 6; ++i) {
      f.student_with_record(std::to_string(10000 + i), "100");
      f.detail(std::to_string(10000 + i), 10000);
    }
    Race race(f.suite.paths().db_path(), c.kind, c.release_after);
    const auto r = import::confirm_run({f.suite.paths(), false, f.write(), kWaitMs}, race, &race);
    race.release();
    const bool finished = c.ok == 6;
    EXPECT_EQ(r.outcome, finished ? import::RunOutcome::completed : import::RunOutcome::error);
    EXPECT_EQ(r.counters_ready, finished);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(f.query("SELECT count(*) || ' ' || max(stdid) FROM KIV8_Payment WHERE paystas<>0"),
              std::to_string(c.ok) + " " + std::to_string(10000 + c.ok))
        << "the lines counted are the first ones, and on disk";
    EXPECT_EQ(f.query("PRAGMA integrity_check"), "ok");
    ASSERT_EQ(race.messages.size(), 1u);
    const auto& m = race.messages[0];
    EXPECT_TRUE(finished ? m.icon == MessageIcon::information
                         : m.icon == MessageIcon::critical && m.text.starts_with("錯誤:") && m.text.ends_with("(5)"))
        << m.text;
    EXPECT_TRUE(finished ? race.pumps_while_held == 4 : race.pumps_while_held >= kWaitMs / 50 - 2)
        << race.pumps_while_held << " pumps while the other program held the database";
    const auto log = f.log_lines(r);
    EXPECT_EQ(r.errors, c.lost);
    ASSERT_EQ(log.size(), 2u * c.lost);
    for (int i = 0; i < c.lost; ++i) {
      EXPECT_EQ(log[2 * i], f.lines[3 + i]);
      EXPECT_EQ(log[2 * i + 1], import::log_text::kWriteFailed);
    }
  }
}

}  // namespace
}  // namespace kiv::testing
