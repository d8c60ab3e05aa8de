#include <algorithm>

#include "run_fixture.h"

namespace kiv::testing {
namespace {

using import::RunOutcome;
using writeoff::LookupResult;

class MissingRecordLookup : public import::LineOperations {
 public:
  LookupResult find_data(Session&, Ctx&, S, S, S) override { return {}; }
  LookupResult find_data1(Session&, Ctx&, S, S stdid, S) override {
    LookupResult found;
    found.value = stdid == "10001" ? writeoff::kTrue : writeoff::kFalse;
    return found;
  }
};

TEST(ImportRun, WriteOntoAPaidRecordCountsWithoutAmountAndInsertCountsWithAmount) {
  RunFixture f;
  f.student_with_record("10001", "100");
  f.student_with_record("10002", "100");
  f.detail("10001", 10000);
  f.detail("10002", 12000);
  MissingRecordLookup seam;
  const auto r = f.run(&seam);
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ(r.ok, 2);
  EXPECT_EQ(r.posted_cents, 12000) << "only the insert adds its amount";
  EXPECT_EQ(f.query("SELECT group_concat(paystas||payway||pay_record||'/'||payday||'/'||failfac||'/'||"
                    "ifnull(realamt,'-')||'/'||unusual, ' ') FROM KIV8_Payment"),
            "111/2004-10-15//-/ 021/2004-10-15//120/d");
}

TEST(ImportRun, LineLoggedAfterTheResetLeavesItsRecordsAndAgencyRowAsTheyWere) {
  RunFixture f;
  f.seed(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, payway, payday, failfac, realamt, unusual) VALUES "
      "('30001', '2004-10-15', 1, 100, '9', '2004-01-01', 'zz', 55, 'q');"
      "INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1);");
  const std::string before = f.query("SELECT payway||payday||failfac||realamt||unusual FROM KIV8_Payment");
  f.detail("30001", 10000);
  const auto r = f.run();
  EXPECT_EQ(r.errors, 1);
  EXPECT_EQ(f.log_lines(r).at(1), " ,新增繳費記錄失敗 ");
  EXPECT_EQ(f.query("SELECT payway||payday||failfac||realamt||unusual FROM KIV8_Payment"), before);
  EXPECT_EQ(f.query("SELECT PayStas FROM KIV10_Agency"), "0");
}

TEST(ImportRun, WriteFailingHalfwayIsRolledBackLoggedAndTheRunGoesOn) {
  RunFixture f;
  f.seed(
      "INSERT INTO KIV7_Student (stdid, delmark) VALUES ('A0001', 0), ('B0001', 0), ('C0001', 0), ('10009', 0);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) VALUES "
      "('A0001', '2004-10-15', 1, 'PAYER', '001234567', 100, 10), "
      "('B0001', '2004-10-15', 1, 'PAYER', '001234567', 200, 10), "
      "('C0001', '2004-10-15', 1, 'PAYER', '001234567', 300, 10), ('10009', '2004-10-15', 1, 'X', 'Y', 50, 0);"
      "CREATE TRIGGER refuse AFTER UPDATE OF paystas ON KIV8_Payment WHEN new.stdid='C0001' AND new.paystas<>0 "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  f.detail("A0001", 61000, "", "1", "PAYER", "00000001234567");
  f.detail("10009", 5000);
  const auto r = f.run();
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ(r.errors, 1);
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(f.log_lines(r).at(1), " ,銷帳寫入失敗 ");
  EXPECT_EQ(f.query("SELECT count(*) FROM KIV8_Payment WHERE acctid='PAYER' AND (paystas<>0 OR payway IS NOT NULL)"),
            "0")
      << "the rows written before the failing one are rolled back with it";
  EXPECT_EQ(f.query("SELECT paystas FROM KIV8_Payment WHERE stdid='10009'"), "1");
  ASSERT_EQ(std::ranges::count(f.op.messages, MessageIcon::critical, &RecordingOperator::Message::icon), 1)
      << "the standard message once";
  EXPECT_NE(f.op.messages[0].text.find("refused"), std::string::npos);
}

TEST(ImportRun, LookupFailureShowsItsMessageOnceTheLineIsSettledAndTheRunGoesOn) {
  RunFixture f;
  f.student_with_record("10001", "100");
  f.student_with_record("10002", "100");
  f.seed("UPDATE KIV8_Payment SET fee=NULL WHERE stdid='10001'");
  f.detail("10001", 10000);
  f.detail("10002", 10000);
  const auto r = f.run();
  EXPECT_EQ(r.errors, 1);
  EXPECT_EQ(r.ok, 1);
  EXPECT_TRUE(f.op.messages.at(0).text.ends_with("(94)"));
}

class FailingMachine : public import::LineOperations {
 public:
  LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (++calls == 3) return {0, writeoff::OpStatus::env_failed, Error{778, "disk I/O error", true}};
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  int calls = 0;
};

TEST(ImportRun, FailureOfTheMachineEndsTheRunOnceWithEarlierLinesKept) {
  RunFixture f;
  for (const char* id : {"10001", "10002", "10003", "10004"}) {
    f.student_with_record(id, "100");
    f.detail(id, 10000);
  }
  FailingMachine seam;
  const auto r = f.run(&seam);
  EXPECT_EQ(r.outcome, RunOutcome::error);
  EXPECT_FALSE(r.counters_ready);
  EXPECT_EQ(r.ok, 2);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, "錯誤:disk I/O error(778)");
  EXPECT_EQ(f.query("SELECT group_concat(stdid) FROM KIV8_Payment WHERE paystas<>0"), "10001,10002");
}

TEST(ImportRun, BusyDatabaseEndsTheRunAfterTheWaitWithOneMessage) {
  RunFixture f;
  f.student_with_record("10001", "100");
  f.detail("10001", 10000);
  auto holder = f.suite.open();
  holder.execute("BEGIN EXCLUSIVE");
  f.op.expect_free = false;
  const auto r = import::confirm_run({f.suite.paths(), false, f.write(), 300}, f.op);
  holder.execute("ROLLBACK");
  EXPECT_EQ(r.outcome, RunOutcome::error);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_TRUE(f.op.messages[0].text.starts_with("錯誤:")) << f.op.messages[0].text;
  EXPECT_GT(f.op.pumps, 2) << "the window is kept alive while waiting";
  EXPECT_EQ(f.query("SELECT count(*) FROM KIV8_Payment WHERE paystas<>0"), "0");
}

}  // namespace
}  // namespace kiv::testing
