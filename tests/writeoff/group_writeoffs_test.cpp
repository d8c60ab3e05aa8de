#include "writeoff_fixture.h"

namespace kiv::writeoff {
namespace {

class GroupWriteoffs : public WriteoffTest {
 protected:
  // A line-date record of S1 that names a second date, the second-date record
  // carrying an earlier differing amount, fee items of both, and agency rows.
  void seed_second_date() {
    payment("S1", kStored, "100", "10", ", tranday2", ", '2006-04-15'");
    payment("S1", kStored2, "100", "10", ", realamt, Unequal, unusual, failfac", ", 50, 1, 'a', 'X'");
    seed("INSERT INTO KIV9_Payitem VALUES ('S1', '2006-03-15', 3), ('S1', '2006-04-15', 3)");
    seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3), ('2006-04-15', 3)");
  }
};

TEST_F(GroupWriteoffs, Update2MarksTheRecordPaid) {
  payment("S1", kStored, "100", "10", ", failfac, realamt", ", 'X', 7");
  payment("S2", kStored, "100", "10");
  EXPECT_TRUE(update_2(session, ctx, kDay, "S1", "03").ok());
  EXPECT_EQ(record("S1"), "'1' '2006-03-15' '1' 1 0 7 NULL '' 10");
  EXPECT_EQ(record("S2"), "NULL NULL NULL 0 0 NULL NULL NULL 10");
}

TEST_F(GroupWriteoffs, Update2OnASecondDateClearsTheEarlierDifferenceAndRemovesTheLineDate) {
  seed_second_date();
  ctx.tran_day2 = kDay2;
  ASSERT_TRUE(update_2(session, ctx, kDay, "S1", "3").ok());
  EXPECT_EQ(record("S1", kStored2), "'1' '2006-03-15' '1' 1 0 NULL '' '' 10");
  EXPECT_EQ(record("S1"), "(none)");
  EXPECT_EQ(count("SELECT count(*) FROM KIV9_Payitem WHERE tranday='2006-03-15'"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM KIV9_Payitem"), 1);
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency WHERE tranday='2006-03-15'"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency"), 1);
}

TEST_F(GroupWriteoffs, CombinedUpdate2KeepsTheFeeOnTheFirstRecordOnly) {
  payer_payment("C", kStored, "300", "10");
  payer_payment("B", kStored, "100", "10");
  payer_payment("A", kStored, "100", "10");
  payment("OTHER", kStored, "100", "10");
  combined();
  ASSERT_TRUE(update_2(session, ctx, kDay, "", "3").ok());
  EXPECT_EQ(record("A"), "'1' '2006-03-15' '1' 1 0 NULL NULL '' 10");
  EXPECT_EQ(record("B"), "'1' '2006-03-15' '1' 1 0 NULL NULL '' 0");
  EXPECT_EQ(record("C"), "'1' '2006-03-15' '1' 1 0 NULL NULL '' 0");
  EXPECT_EQ(record("OTHER"), "NULL NULL NULL 0 0 NULL NULL NULL 10");
}

TEST_F(GroupWriteoffs, CombinedUpdate2MovesEveryRecordToItsSecondDate) {
  payer_payment("A", kStored, "100", "10");
  payer_payment("B", kStored, "200", "10");
  payer_payment("A", kStored2, "100", "10");
  payer_payment("B", kStored2, "200", "10");
  seed("UPDATE KIV8_Payment SET tranday2='2006-04-15', payamt=NULL WHERE tranday='2006-03-15' AND stdid='B'");
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3)");
  combined();
  ctx.tran_day2 = kDay2;
  ASSERT_TRUE(update_2(session, ctx, kDay, "", "3").ok()) << "the amounts are not weighed here";
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE tranday='2006-03-15'"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE tranday='2006-04-15' AND paystas=1"), 2);
  EXPECT_EQ(count("SELECT sum(fee) FROM KIV8_Payment"), 10);
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency"), 0);
}

TEST_F(GroupWriteoffs, Update3RecordsTheFailureAndLeavesThePaymentColumns) {
  payment("S0", kStored, "100", "10", ", paystas, realamt, payday", ", 1, 5, '2006-01-01'");
  ASSERT_TRUE(update_3(session, ctx, "F3", kDay, "S0", "3").ok());
  EXPECT_EQ(record("S0"), "'1' '2006-01-01' '1' 1 0 5 NULL 'F3' 10");

  seed_second_date();
  ctx.tran_day2 = kDay2;
  ASSERT_TRUE(update_3(session, ctx, "F4", kDay, "S1", "3").ok());
  EXPECT_EQ(record("S1", kStored2), "'1' NULL '1' 0 0 NULL '' 'F4' 10");
  EXPECT_EQ(record("S1"), "(none)");
  EXPECT_EQ(count("SELECT count(*) FROM KIV9_Payitem"), 1);
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency"), 2) << "S0 keeps the line date's agency row";
}

TEST_F(GroupWriteoffs, CombinedUpdate3WithoutRecordsStillDropsAnOrphanedAgencyRow) {
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3), ('2006-03-15', 5)");
  seed("INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('OTHER', '2006-03-15', 5)");
  combined();
  ctx.tran_day2 = kDay2;
  ASSERT_TRUE(update_3(session, ctx, "F1", kDay, "", "3").ok());
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency WHERE grpid=3"), 0);
  ASSERT_TRUE(update_3(session, ctx, "F1", kDay, "", "5").ok());
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency WHERE grpid=5"), 1) << "a record of date and group 5 remains";
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE failfac IS NULL"), 1);
}

TEST_F(GroupWriteoffs, CombinedUpdate3OnASecondDateRemovesThePayersLineDateRecords) {
  payer_payment("A", kStored, "100", "10");
  payer_payment("B", kStored, "200", "10");
  payer_payment("A", kStored2, "100", "10");
  payer_payment("B", kStored2, "200", "10");
  payment("OTHER", kStored, "100", "10");
  seed("UPDATE KIV8_Payment SET paystas=1, realamt=3 WHERE tranday='2006-04-15'");
  seed("INSERT INTO KIV9_Payitem VALUES ('A', '2006-03-15', 3), ('B', '2006-03-15', 3), ('OTHER', '2006-03-15', 3)");
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3)");
  combined();
  ctx.tran_day2 = kDay2;
  ASSERT_TRUE(update_3(session, ctx, "F2", kDay, "", "3").ok());
  EXPECT_EQ(record("A", kStored2), "'1' NULL '1' 0 0 NULL '' 'F2' 10");
  EXPECT_EQ(record("B", kStored2), "'1' NULL '1' 0 0 NULL '' 'F2' 10");
  EXPECT_EQ(record("A"), "(none)");
  EXPECT_EQ(record("B"), "(none)");
  EXPECT_EQ(record("OTHER"), "NULL NULL NULL 0 0 NULL NULL NULL 10");
  EXPECT_EQ(count("SELECT count(*) FROM KIV9_Payitem"), 1);
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency"), 1);
}

TEST_F(GroupWriteoffs, CombinedUpdate3HandlesMoreStudentsThanAStatementTakesParameters) {
  seed(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1200) "
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, tranday2) "
      "SELECT 'S' || i, d, 3, 'P000000001', 'OFF7654321', '2006-04-15' FROM n, "
      "(SELECT '2006-03-15' AS d UNION ALL SELECT '2006-04-15')");
  combined();
  ctx.tran_day2 = kDay2;
  ASSERT_TRUE(update_3(session, ctx, "F9", kDay, "", "3").ok());
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE tranday='2006-03-15'"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE failfac='F9'"), 1200);
}

TEST_F(GroupWriteoffs, Update4WritesTheRecordPaidAgainWithAnEmptyReason) {
  payment("S1", kStored, "100", "10", ", paystas, failfac", ", 1, 'X'");
  ASSERT_TRUE(update_4(session, ctx, kDay, "S1", "3", "").ok());
  EXPECT_EQ(record("S1"), "'1' '2006-03-15' '1' 1 0 NULL NULL '' 10");

  seed("DELETE FROM KIV8_Payment");
  seed_second_date();
  ctx.tran_day2 = kDay2;
  ASSERT_TRUE(update_4(session, ctx, kDay, "S1", "3", "").ok());
  EXPECT_EQ(record("S1", kStored2), "'1' '2006-03-15' '1' 1 0 NULL '' '' 10");
  EXPECT_EQ(record("S1"), "(none)");
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency"), 1);
}

TEST_F(GroupWriteoffs, BadDatesAndGroupsFailWithTheStandardMessage) {
  payment("S1", kStored, "100", "10");
  EXPECT_EQ(update_2(session, ctx, kDay, "S1", "").status, OpStatus::line_failed);
  EXPECT_EQ(update_3(session, ctx, "F", "2006/13/01", "S1", "3").status, OpStatus::line_failed);
  EXPECT_EQ(update_4(session, ctx, kDay, "S1", "3a", "").status, OpStatus::line_failed);
  ctx.tran_day2 = "02/29/2006";
  const OpResult moved = update_2(session, ctx, kDay, "S1", "3");
  EXPECT_EQ(moved.error.number, kErrTypeMismatch);
  ASSERT_EQ(op.messages.size(), 4u);
  for (const auto& message : op.messages) {
    EXPECT_EQ(message.icon, MessageIcon::critical);
    EXPECT_EQ(message.title, "Tavenor");
    EXPECT_NE(message.text.find("(13)"), std::string::npos) << message.text;
  }
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE paystas=1"), 1) << "written before the second date failed";
}

}  // namespace
}  // namespace kiv::writeoff
