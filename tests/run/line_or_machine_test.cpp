#include <algorithm>

#include "run_fixture.h"
#include "store_text.h"

namespace kiv::testing {
namespace {

using import::RunOutcome;
using writeoff::LookupResult;

std::ptrdiff_t critical_messages(const RecordingOperator& op) {
  return std::ranges::count(op.messages, MessageIcon::critical, &RecordingOperator::Message::icon);
}

// A statement the database cannot run fails every line alike: it is the
// database's fault, shown once, and the run ends with the lines before it kept.
class LineOrMachine : public OnEachStore {};
KIV_ON_EACH_STORE(LineOrMachine);

TEST_P(LineOrMachine, StatementTheDatabaseCannotRunEndsTheRunOnce) {
  RunFixture f(store());
  for (const char* id : {"10001", "10002", "10003"}) f.student_with_record(id, "100");
  // Only a line whose record moves to a second date removes fee items.
  f.seed(
      "UPDATE KIV8_Payment SET tranday2='2004-11-15' WHERE stdid='10002';"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt) VALUES ('10002', '2004-11-15', 1, 100);"
      "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES ('10002', '2004-10-15', 1);" +
      trigger_sql(store(), "broken", "AFTER DELETE ON KIV9_Payitem", "", "INSERT INTO nowhere VALUES (1)"));
  for (const char* id : {"10001", "10002", "10003"}) f.detail(id, 10000);
  const auto r = f.run();
  EXPECT_EQ(r.outcome, RunOutcome::error);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_NE(f.op.messages[0].text.find("nowhere"), std::string::npos) << f.op.messages[0].text;
  EXPECT_EQ(f.rows("SELECT stdid FROM KIV8_Payment WHERE paystas<>0 ORDER BY stdid"), "10001");
}

// A failed transfer needs no amount: a record without one still gets the
// failure recorded; a credited line on it cannot be weighed and is logged.
TEST_P(LineOrMachine, FailedTransferOnARecordWithoutAmountsIsRecordedCreditedLineIsLogged) {
  RunFixture f(store());
  f.student_with_record("10001", "100");
  f.student_with_record("10002", "100");
  f.seed(
      "UPDATE KIV8_Payment SET payamt=NULL WHERE stdid='10001'; UPDATE KIV8_Payment SET fee=NULL WHERE stdid='10002'");
  f.detail("10001", 10000, "07");
  f.detail("10002", 10000);
  const auto r = f.run();
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ(r.failed, 1);
  EXPECT_EQ(r.ok, 0);
  EXPECT_EQ(f.rows("SELECT failfac, pay_record, payway FROM KIV8_Payment WHERE stdid='10001'"), "07 1 1");
  const auto log = f.log_lines(r);
  ASSERT_EQ(log.size(), 2u) << "only the credited line is logged";
  EXPECT_EQ(log[1], " ,銷帳寫入失敗 ");
  EXPECT_EQ(critical_messages(f.op), 1);
  EXPECT_TRUE(f.op.messages.at(0).text.ends_with("(94)")) << f.op.messages.at(0).text;
}

class StudentLookupFails : public import::LineOperations {
 public:
  LookupResult select_KIV7_student(Session&, Ctx&, S) override {
    return {writeoff::kFalse, writeoff::OpStatus::line_failed, Error{13, "bad", false}};
  }
};

// The rare log texts: a written-off record whose student lookup fails, and a
// date that is not on the calendar, which no payment record can carry.
TEST_P(LineOrMachine, StudentLookupFailureAndADateOffTheCalendarAreLogged) {
  RunFixture f(store());
  f.student_with_record("10001", "100");
  f.seed("UPDATE KIV8_Payment SET pay_record='1'");
  f.detail("10001", 10000);
  f.lines.push_back(import::format_detail({"0930230", "00000000000000", "", 10000, "0", "10001", "01", ""}));
  StudentLookupFails seam;
  const auto r = f.run(&seam);
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  const auto log = f.log_lines(r);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], ",查無學生資料");
  EXPECT_EQ(log[3], ",查無繳費記錄檔");
  ASSERT_EQ(f.op.messages.size(), 2u) << "the date's plain message, then the summary";
  EXPECT_EQ(f.op.messages[0].icon, MessageIcon::none);
  EXPECT_EQ(f.op.messages[0].text, "型態不符合: 日期 '02/30/2004'");
}

}  // namespace
}  // namespace kiv::testing
