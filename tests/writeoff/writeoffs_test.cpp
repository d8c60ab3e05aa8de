#include <functional>

#include "store/transaction.h"
#include "writeoff_fixture.h"

namespace kiv::writeoff {
namespace {

using Writeoffs = WriteoffTest;

TEST_F(Writeoffs, SingleWriteoffsOfTheLineDateOrTheSecondDate) {
  struct Case {
    std::function<OpResult()> run;
    const char *line_day, *second_day;
    bool neighbour;
  } cases[] = {
      {[&] { return update_1(session, ctx, kDay, "1500.0", "S1", "3"); }, "'1' '2006-03-15' '1' 1 1 1500 'a' 'X' 10",
       "'1' '2006-03-15' '1' 0 1 1500 'a' '' 10", true},
      {[&] { return update_2(session, ctx, kDay, "S1", "03"); }, "'1' '2006-03-15' '1' 1 0 7 NULL '' 10",
       "'1' '2006-03-15' '1' 1 0 NULL '' '' 10", false},
      {[&] { return update_3(session, ctx, "F4", kDay, "S1", "3"); }, "'1' '2006-01-01' '1' 1 0 7 NULL 'F4' 10",
       "'1' NULL '1' 0 0 NULL '' 'F4' 10", true},
      {[&] { return update_4(session, ctx, kDay, "S1", "3", ""); }, "'1' '2006-03-15' '1' 1 0 7 NULL '' 10",
       "'1' '2006-03-15' '1' 1 0 NULL '' '' 10", false},
  };
  for (const Case& c : cases) {
    for (const bool second : {false, true}) {
      SCOPED_TRACE(std::string(c.second_day) + (second ? " on the second date" : ""));
      clear();
      payment("S1", kStored, "100", "10", ", realamt, failfac, paystas, payday", ", 7, 'X', 1, '2006-01-01'");
      payment("S1", kStored2, "100", "10", ", realamt, Unequal, unusual, failfac, paystas, payday",
              ", 50, 1, 'a', 'X', 1, '2006-01-01'");
      if (c.neighbour) payment("S2", kStored, "100", "10");
      seed("INSERT INTO KIV9_Payitem VALUES ('S1', '2006-03-15', 3), ('S1', '2006-04-15', 3)");
      seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3), ('2006-04-15', 3)");
      const std::string untouched_second = record("S1", kStored2);
      ctx.stu_delmark = "False";
      ctx.tran_day2 = second ? kDay2 : "";
      ASSERT_TRUE(c.run().ok());
      EXPECT_EQ(record("S1", kStored2), second ? c.second_day : untouched_second);
      EXPECT_EQ(record("S1"), second ? "(none)" : c.line_day);
      EXPECT_EQ(text("SELECT group_concat(tranday) FROM KIV9_Payitem"), second ? kStored2 : "2006-03-15,2006-04-15");
      EXPECT_EQ(text("SELECT group_concat(tranday) FROM KIV10_Agency"),
                second && !c.neighbour ? "2006-04-15" : "2006-03-15,2006-04-15");
    }
  }
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Writeoffs, CombinedUpdate2KeepsTheFeeOnTheFirstRecordOnly) {
  abc_school();
  combined();
  ASSERT_TRUE(update_2(session, ctx, kDay, "", "3").ok());
  EXPECT_EQ(abc(), paid(10) + " | " + paid(0) + " | " + paid(0));
  EXPECT_EQ(record("OTHER"), kUntouched);
}

TEST_F(Writeoffs, CombinedOnASecondDateMoveEveryPayerRecord) {
  for (const bool failed : {false, true}) {
    SCOPED_TRACE(failed ? "update_3" : "update_2");
    clear();
    payer_on_both_dates();
    payment("OTHER", kStored, "100", "10");
    seed("UPDATE KIV8_Payment SET payamt=NULL WHERE stdid='A'");
    seed("UPDATE KIV8_Payment SET paystas=1, realamt=3 WHERE tranday='2006-04-15'");
    seed("INSERT INTO KIV9_Payitem VALUES ('A', '2006-03-15', 3), ('B', '2006-03-15', 3), ('OTHER', '2006-03-15', 3)");
    seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3)");
    ASSERT_TRUE((failed ? update_3(session, ctx, "F2", kDay, "", "3") : update_2(session, ctx, kDay, "", "3")).ok());
    const std::string done = failed ? "'1' NULL '1' 0 0 NULL '' 'F2' " : "'1' '2006-03-15' '1' 1 0 NULL '' '' ";
    EXPECT_EQ(record("A", kStored2), done + "10");
    EXPECT_EQ(record("B", kStored2), done + (failed ? "10" : "0"));
    EXPECT_EQ(text("SELECT group_concat(stdid) FROM KIV8_Payment WHERE tranday='2006-03-15'"), "OTHER");
    EXPECT_EQ(text("SELECT group_concat(stdid) FROM KIV9_Payitem"), "OTHER");
    EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency"), 1) << "OTHER keeps the line date's agency row";
  }
}

TEST_F(Writeoffs, CombinedUpdate3OnASecondDateWithoutRecordsOrWithVeryMany) {
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3), ('2006-03-15', 5)");
  seed("INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('OTHER', '2006-03-15', 5)");
  combined();
  ctx.tran_day2 = kDay2;
  ASSERT_TRUE(update_3(session, ctx, "F1", kDay, "", "3").ok());
  ASSERT_TRUE(update_3(session, ctx, "F1", kDay, "", "5").ok());
  EXPECT_EQ(text("SELECT group_concat(grpid) FROM KIV10_Agency"), "5") << "an orphaned agency row goes";
  EXPECT_EQ(text("SELECT ifnull(failfac, 'null') FROM KIV8_Payment"), "null");

  seed(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1200) "
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno) "
      "SELECT 'S' || i, d, 3, 'P000000001', 'OFF7654321' FROM n, (SELECT '2006-03-15' AS d UNION ALL "
      "SELECT '2006-04-15')");
  ASSERT_TRUE(update_3(session, ctx, "F9", kDay, "", "3").ok());
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE tranday='2006-03-15' AND grpid=3"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE failfac='F9'"), 1200);
}

class ResetInsert : public WriteoffTest {
 protected:
  void SetUp() override {
    payer_payment("A", kStored, "100", "10");
    payer_payment("B", kStored, "200", "0");
    payment("C", kStored, "300", "10");
    seed(
        "UPDATE KIV8_Payment SET payway='1', payday='2006-03-15', FailFac='F', Unequal=1, realamt=5, paystas=1, "
        "unusual='a', pay_record='1'");
  }
  static constexpr const char* kWritten = "'1' '2006-03-15' '1' 1 1 5 'a' 'F' ";
  static constexpr const char* kReset = "'' NULL '1' 0 0 NULL '' '' ";
};

TEST_F(ResetInsert, ResetReturnsTheStudentsOrThePayersRecordsToUnpaid) {
  ASSERT_TRUE(default_kiv8(session, ctx, kDay, "A", "05").ok());
  EXPECT_EQ(record("A"), std::string(kWritten) + "10") << "group 05 is group 5, not 3";
  ASSERT_TRUE(default_kiv8(session, ctx, kDay, "A", "03").ok());
  EXPECT_EQ(record("A"), std::string(kReset) + "10");
  EXPECT_EQ(record("B"), std::string(kWritten) + "0");
  EXPECT_EQ(count("SELECT sum(payamt) FROM KIV8_Payment"), 600);
  combined();
  ASSERT_TRUE(default_kiv8(session, ctx, kDay, "C", "3").ok());
  EXPECT_EQ(record("B"), std::string(kReset) + "0");
  EXPECT_EQ(record("C"), std::string(kWritten) + "10");
}

TEST_F(ResetInsert, InsertCreatesARecordForAKnownStudentOrWritesOntoTheExistingOne) {
  seed("INSERT INTO KIV7_Student (stdid, delmark) VALUES ('N1', 0), ('N2', -1), ('N3', NULL)");
  const std::string before = snapshot();
  EXPECT_EQ(insert_1(session, ctx, kDay, "1500.0", "NOBODY", "3").value, kFalse);
  EXPECT_EQ(snapshot(), before);
  for (const char* stdid : {"N1", "N2", "N3"})
    EXPECT_EQ(insert_1(session, ctx, kDay, "1500.0", stdid, "05").value, kTrue);
  EXPECT_EQ(text("SELECT group_concat(stdid||' '||tranday||' '||grpid||' '||PayWay||' '||PayDay||' '||Unequal||' '||"
                 "Realamt||' '||Unusual||' '||paystas||' '||ifnull(pay_record,'-'), ' | ') "
                 "FROM (SELECT * FROM KIV8_Payment WHERE stdid LIKE 'N%' ORDER BY rowid)"),
            "N1 2006-03-15 5 1 2006-03-15 1 1500 b 0 - | N2 2006-03-15 5 1 2006-03-15 1 1500 d 0 - | "
            "N3 2006-03-15 5 1 2006-03-15 1 1500 d 0 -");

  seed("UPDATE KIV8_Payment SET pay_record=NULL, paystas=0 WHERE stdid='C'");
  EXPECT_EQ(insert_1(session, ctx, kDay, "250.5", "C", "3").value, kTrue);
  EXPECT_EQ(ctx.stu_delmark, "False");
  EXPECT_EQ(record("C"), "'2' '2006-03-15' '1' 0 1 250.5 'd' 'F' 10");
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE stdid='C'"), 1);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(ResetInsert, InsertRefusedByTheDatabaseLeavesNothingAfterRollback) {
  seed("INSERT INTO KIV7_Student (stdid, delmark) VALUES ('N1', 0)");
  seed("CREATE TRIGGER refuse BEFORE INSERT ON KIV8_Payment BEGIN SELECT RAISE(ABORT, 'no'); END");
  const std::string before = snapshot();
  {
    store::Savepoint line(db, "line");
    ASSERT_TRUE(default_kiv8(session, ctx, kDay, "A", "3").ok());
    const LookupResult result = insert_1(session, ctx, kDay, "1.0", "N1", "3");
    EXPECT_EQ(result.value, kFalse);
    EXPECT_EQ(result.status, OpStatus::line_failed);
  }
  EXPECT_EQ(snapshot(), before) << "the reset is undone with the line";
  EXPECT_EQ(op.messages.size(), 1u);
}

TEST_F(Writeoffs, AgencyFlagMarksOnlyTheRowOfTheDateAndGroup) {
  seed(
      "INSERT INTO KIV10_Agency (tranday, grpid, PayStas) VALUES ('2006-03-15', 7, 0), ('2006-03-15', 8, 0), "
      "('2006-03-16', 7, 0), ('2006-03-15', 9, -1)");
  ASSERT_TRUE(update_kiv10(session, kDay, "07").ok());
  ASSERT_TRUE(update_kiv10(session, "2007/01/01", "7").ok()) << "no agency row: nothing to do";
  EXPECT_EQ(text("SELECT group_concat(tranday||'/'||grpid||'='||PayStas, ' ') FROM KIV10_Agency"),
            "2006-03-15/7=1 2006-03-15/8=0 2006-03-16/7=0 2006-03-15/9=-1");

  store::Connection other = suite.open();
  other.execute("BEGIN IMMEDIATE");
  db.set_busy_timeout_ms(100);
  const OpResult busy = update_kiv10(session, kDay, "8");
  other.execute("ROLLBACK");
  EXPECT_EQ(busy.status, OpStatus::env_failed) << "a failure of the machine, reported by the run";
  EXPECT_TRUE(busy.error.environmental);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Writeoffs, QuotesCommentsAndSemicolonsSelectOnlyTheirOwnRecord) {
  const std::string odd = "9'; DELETE FROM KIV8_Payment; --";
  seed("INSERT INTO KIV7_Student (stdid, delmark) VALUES ('9''; DELETE FROM KIV8_Payment; --', 0), ('OK', 0)");
  seed(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, acctid, offno) VALUES "
      "('9''; DELETE FROM KIV8_Payment; --', '2006-03-15', 3, 100, 10, 'P''--;x''', 'OFF7654321'), "
      "('OK', '2006-03-15', 3, 100, 10, 'P000000001', 'OFF7654321')");
  const std::string ok = record("OK");
  ctx.stu_delmark = "False";
  EXPECT_TRUE(update_1(session, ctx, kDay, "90.0", odd, "3").ok());
  EXPECT_EQ(record(odd), part("90", "a", 10));
  EXPECT_TRUE(default_kiv8(session, ctx, kDay, odd, "3").ok());
  EXPECT_TRUE(update_3(session, ctx, "'; --", kDay, odd, "3").ok());
  EXPECT_TRUE(update_4(session, ctx, kDay, odd, "3", "x'y").ok());
  EXPECT_EQ(insert_1(session, ctx, kDay, "5.0", odd, "3").value, kTrue);
  EXPECT_EQ(record(odd), "'2' '2006-03-15' '1' 1 1 5 'd' 'x''y' 10");

  const std::string before = snapshot();
  EXPECT_TRUE(update_2(session, ctx, kDay, "x' or '1'='1", "3").ok());
  EXPECT_EQ(insert_1(session, ctx, kDay, "1.0", "OK' --", "3").value, kFalse);
  combined();
  ctx.payer_id = "' or ''='";
  EXPECT_TRUE(update_2(session, ctx, kDay, "", "3").ok());
  EXPECT_EQ(snapshot(), before);

  ctx.payer_id = "P'--;x'";
  EXPECT_TRUE(default_kiv8(session, ctx, kDay, "", "3").ok());
  EXPECT_TRUE(update_1(session, ctx, kDay, "200.0", "", "3").ok());
  EXPECT_EQ(record(odd), "'1' '2006-03-15' '1' 0 1 200 'a' '' 10");
  ctx.tran_day2 = kDay2;
  EXPECT_TRUE(update_3(session, ctx, "F", kDay, "", "3").ok());
  EXPECT_EQ(record(odd), "(none)");
  EXPECT_EQ(record("OK"), ok);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Writeoffs, ValuesThatAreNoNumbersDatesOrGroupsFailTheLineWithTheStandardMessage) {
  payment("S1", kStored, "100", "10");
  payer_payment("A", kStored, "100", "10");
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 0)");
  LineContext payer;
  combined(payer);
  const auto as_op = [](const LookupResult& r) {
    EXPECT_EQ(r.value, kFalse);
    return OpResult{r.status, r.error};
  };
  const std::function<OpResult()> cases[] = {
      [&] { return update_1(session, ctx, kDay, "12x", "S1", "3"); },
      [&] { return update_1(session, ctx, kDay, "", "S1", "3"); },
      [&] { return update_1(session, ctx, "2006/02/30", "1.0", "S1", "3"); },
      [&] { return update_1(session, ctx, kDay, "1.0", "S1", ""); },
      [&] { return update_1(session, payer, kDay, "abc", "", "3"); },
      [&] { return update_2(session, ctx, kDay, "S1", ""); },
      [&] { return update_3(session, ctx, "F", "2006/13/01", "S1", "3"); },
      [&] { return update_4(session, ctx, kDay, "S1", "3a", ""); },
      [&] { return update_kiv10(session, kDay, ""); },
      [&] { return update_kiv10(session, kDay, "x7"); },
      [&] { return update_kiv10(session, kDay, "7 8"); },
      [&] { return as_op(insert_1(session, ctx, "2006/02/30", "1.0", "S1", "3")); },
      [&] { return as_op(insert_1(session, ctx, kDay, "1,500", "S1", "3")); },
      [&] { return as_op(insert_1(session, ctx, kDay, "1.0", "S1", "")); },
  };
  const std::string before = snapshot();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    op.messages.clear();
    const OpResult result = cases[i]();
    EXPECT_EQ(result.status, OpStatus::line_failed);
    EXPECT_EQ(result.error.number, kErrTypeMismatch);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
    EXPECT_EQ(op.messages[0].title, "Tavenor");
    EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:") && op.messages[0].text.ends_with("(13)"));
    EXPECT_EQ(snapshot(), before);
  }
  ctx.tran_day2 = "02/29/2006";
  EXPECT_EQ(update_2(session, ctx, kDay, "S1", "3").error.number, kErrTypeMismatch);
  EXPECT_EQ(count("SELECT paystas FROM KIV8_Payment WHERE stdid='S1'"), 1) << "the line date is written first";
}

}  // namespace
}  // namespace kiv::writeoff
