#include "store/transaction.h"
#include "writeoff_fixture.h"

namespace kiv::writeoff {
namespace {

using Update1 = WriteoffTest;

TEST_F(Update1, SingleRecordTakesTheAmountAsReceivedAndIsFlaggedUnequal) {
  payment("S1", kStored, "1500", "15");
  payment("S2", kStored, "1500", "15");
  payment("S3", kStored, "1500", "15");
  seed("INSERT INTO KIV9_Payitem VALUES ('S1', '2006-03-15', 3)");
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3)");

  ctx.stu_delmark = "False";
  EXPECT_TRUE(update_1(session, ctx, kDay, "1500.0", "S1", "03").ok());
  EXPECT_EQ(record("S1"), "'1' '2006-03-15' '1' 0 1 1500 'a' NULL 15");

  ctx.stu_delmark = "True";
  EXPECT_TRUE(update_1(session, ctx, kDay, "100.5", "S2", "3").ok());
  EXPECT_EQ(record("S2"), "'1' '2006-03-15' '1' 0 1 100.5 'c' NULL 15") << "a single record is not rounded";

  ctx.stu_delmark = "";
  EXPECT_TRUE(update_1(session, ctx, kDay, "7.0", "S3", "3").ok());
  EXPECT_EQ(record("S3"), "'1' '2006-03-15' '1' 0 1 7 'c' NULL 15");

  EXPECT_EQ(count("SELECT count(*) FROM KIV9_Payitem"), 1);
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency"), 1);
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment"), 3);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Update1, SingleRecordWithSecondDateMovesTheLineOntoIt) {
  payment("S1", kStored, "1500", "15", ", tranday2", ", '2006-04-15'");
  payment("S1", kStored2, "1500", "15", ", failfac, paystas", ", 'X', 1");
  payment("S2", kStored, "800", "15", ", tranday2", ", '2006-04-15'");
  payment("S2", kStored2, "800", "15");
  seed("INSERT INTO KIV9_Payitem VALUES ('S1', '2006-03-15', 3), ('S1', '2006-04-15', 3), ('S2', '2006-03-15', 3)");
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3), ('2006-04-15', 3)");
  ctx.stu_delmark = "False";
  ctx.tran_day2 = kDay2;

  ASSERT_TRUE(update_1(session, ctx, kDay, "1500.0", "S1", "3").ok());
  EXPECT_EQ(record("S1", kStored2), "'1' '2006-03-15' '1' 0 1 1500 'a' '' 15");
  EXPECT_EQ(record("S1"), "(none)");
  EXPECT_EQ(count("SELECT count(*) FROM KIV9_Payitem WHERE stdid='S1'"), 1) << "only the line date's items go";
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency"), 2) << "S2 still has a record of that date and group";

  ASSERT_TRUE(update_1(session, ctx, kDay, "700.0", "S2", "3").ok());
  EXPECT_EQ(record("S2"), "(none)");
  EXPECT_EQ(count("SELECT count(*) FROM KIV9_Payitem WHERE tranday='2006-03-15'"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency WHERE tranday='2006-03-15'"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency WHERE tranday='2006-04-15'"), 1);
}

// Students A (due 100, fee 10), B (100, 10) and C (300, 10) of one payer,
// stored in an order other than the walk's.
class Update1Combined : public WriteoffTest {
 protected:
  void SetUp() override {
    payer_payment("C", kStored, "300", "10");
    payer_payment("B", kStored, "100", "10");
    payer_payment("A", kStored, "100", "10");
    payment("OTHER", kStored, "100", "10", ", acctid, offno", ", 'P000000002', 'OFF7654321'");
    combined();
    ctx.stu_delmark = "False";
  }
  std::string walked(const std::string& amount) {
    EXPECT_TRUE(update_1(session, ctx, kDay, amount, "", "3").ok());
    return record("A") + " | " + record("B") + " | " + record("C");
  }
};

TEST_F(Update1Combined, SpreadsTheMoneyOverThePayersRecordsWithTheFeeOnTheFirst) {
  const std::string other = record("OTHER");
  EXPECT_EQ(walked("350.0"),
            "'1' '2006-03-15' '1' 1 0 NULL NULL '' 10 | "
            "'1' '2006-03-15' '1' 1 0 NULL NULL '' 0 | "
            "'1' '2006-03-15' '1' 0 1 140 'a' NULL 0");
  EXPECT_EQ(record("OTHER"), other);
}

TEST_F(Update1Combined, MoneyShortOnTheFirstRecordLeavesNothingForTheRest) {
  EXPECT_EQ(walked("50.0"),
            "'1' '2006-03-15' '1' 0 1 50 'a' NULL 10 | "
            "'1' '2006-03-15' '1' 0 1 0 'a' NULL 0 | "
            "'1' '2006-03-15' '1' 0 1 0 'a' NULL 0");
}

TEST_F(Update1Combined, SurplusLandsOnTheLastRecord) {
  ctx.stu_delmark = "True";
  EXPECT_EQ(walked("600.0"),
            "'1' '2006-03-15' '1' 1 0 NULL NULL '' 10 | "
            "'1' '2006-03-15' '1' 1 0 NULL NULL '' 0 | "
            "'1' '2006-03-15' '1' 0 1 390 'c' NULL 0");
}

TEST_F(Update1Combined, ReceivedAmountIsRoundedHalfToEven) {
  seed("UPDATE KIV8_Payment SET payamt=1000, fee=0");
  EXPECT_EQ(walked("100.5"),
            "'1' '2006-03-15' '1' 0 1 100 'a' NULL 0 | "
            "'1' '2006-03-15' '1' 0 1 0 'a' NULL 0 | "
            "'1' '2006-03-15' '1' 0 1 0 'a' NULL 0");
  EXPECT_EQ(walked("101.5").substr(0, 40), "'1' '2006-03-15' '1' 0 1 102 'a' NULL 0 ");
}

TEST_F(Update1Combined, SecondDateRecordsTakeTheWalkAndTheLineDateGoes) {
  seed("DELETE FROM KIV8_Payment WHERE stdid IN ('C', 'OTHER')");
  seed("UPDATE KIV8_Payment SET tranday2='2006-04-15'");
  payer_payment("A", kStored2, "100", "10");
  payer_payment("B", kStored2, "100", "10");
  seed("INSERT INTO KIV9_Payitem VALUES ('A', '2006-03-15', 3), ('B', '2006-03-15', 3), ('B', '2006-04-15', 3)");
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3), ('2006-03-15', 4)");
  ctx.tran_day2 = kDay2;

  ASSERT_TRUE(update_1(session, ctx, kDay, "250.0", "", "3").ok());
  EXPECT_EQ(record("A", kStored2), "'1' '2006-03-15' '1' 1 0 NULL NULL '' 10");
  EXPECT_EQ(record("B", kStored2), "'1' '2006-03-15' '1' 0 1 140 'a' '' 0");
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE tranday='2006-03-15'"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM KIV9_Payitem"), 1);
  EXPECT_EQ(count("SELECT grpid FROM KIV10_Agency"), 4) << "only the line's date and group lose their agency row";
}

TEST_F(WriteoffTest, CombinedLoneRecordKeepsTheWholeSurplus) {
  payer_payment("A", kStored, "100", "10");
  payer_payment("Z", kStored2, "100", "10");
  combined();
  ctx.stu_delmark = "False";

  ASSERT_TRUE(update_1(session, ctx, kDay, "150.0", "", "3").ok());
  EXPECT_EQ(record("A"), "'1' '2006-03-15' '1' 0 1 150 'a' NULL 10");

  ASSERT_TRUE(update_1(session, ctx, kDay, "109.0", "", "3").ok());
  EXPECT_EQ(record("A"), "'1' '2006-03-15' '1' 0 1 109 'a' NULL 10");

  seed("UPDATE KIV8_Payment SET realamt=NULL, Unequal=0, unusual=NULL");
  ASSERT_TRUE(update_1(session, ctx, kDay, "110.4", "", "3").ok());
  EXPECT_EQ(record("A"), "'1' '2006-03-15' '1' 1 0 NULL NULL '' 10") << "exactly the amount due and fee";
  EXPECT_EQ(record("Z", kStored2), "NULL NULL NULL 0 0 NULL NULL NULL 10");
}

TEST_F(WriteoffTest, CombinedWithoutRecordsWritesNothing) {
  payment("A", kStored, "100", "10", ", acctid, offno", ", 'P000000001', 'OFF1111111'");
  combined();
  const std::string before = snapshot();
  EXPECT_TRUE(update_1(session, ctx, kDay, "150.0", "", "3").ok());
  EXPECT_EQ(snapshot(), before);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(WriteoffTest, CombinedEqualAmountsGoByStudentNumberIgnoringCase) {
  payer_payment("A2", kStored, "100", "10");
  payer_payment("a1", kStored, "100", "10");
  combined();
  ctx.stu_delmark = "False";
  ASSERT_TRUE(update_1(session, ctx, kDay, "200.0", "", "3").ok());
  EXPECT_EQ(record("a1"), "'1' '2006-03-15' '1' 1 0 NULL NULL '' 10");
  EXPECT_EQ(record("A2"), "'1' '2006-03-15' '1' 0 1 90 'a' NULL 0");
}

TEST_F(WriteoffTest, FailureHalfwayThroughTheWalkLeavesTheLineUndoneAfterRollback) {
  payer_payment("A", kStored, "100", "10");
  payer_payment("B", kStored, "200", "NULL");
  payer_payment("C", kStored, "300", "10");
  combined();
  const std::string before = snapshot();
  {
    store::Transaction line(db);
    const OpResult result = update_1(session, ctx, kDay, "600.0", "", "3");
    EXPECT_EQ(result.status, OpStatus::line_failed);
    EXPECT_EQ(result.error.number, kErrInvalidUseOfNull);
    EXPECT_EQ(record("A"), "'1' '2006-03-15' '1' 1 0 NULL NULL '' 10") << "the walk had begun";
    line.rollback();
  }
  EXPECT_EQ(snapshot(), before);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text.substr(0, 7), "錯誤:");
  EXPECT_NE(op.messages[0].text.find("(94)"), std::string::npos);

  seed("UPDATE KIV8_Payment SET fee=0 WHERE stdid='B'");
  seed("CREATE TRIGGER refuse_c BEFORE UPDATE ON KIV8_Payment WHEN new.stdid='C' BEGIN SELECT RAISE(ABORT, 'no'); END");
  const std::string before_trigger = snapshot();
  {
    store::Savepoint line(db, "line");
    const OpResult result = update_1(session, ctx, kDay, "600.0", "", "3");
    EXPECT_EQ(result.status, OpStatus::line_failed);
    EXPECT_FALSE(result.error.environmental);
    EXPECT_EQ(record("B"), "'1' '2006-03-15' '1' 1 0 NULL NULL '' 0");
  }
  EXPECT_EQ(snapshot(), before_trigger);
  EXPECT_EQ(op.messages.size(), 2u);
}

TEST_F(WriteoffTest, ValuesThatAreNotNumbersDatesOrGroupsFailTheLine) {
  payment("S1", kStored, "100", "10");
  payer_payment("A", kStored, "100", "10");
  const std::string before = snapshot();
  EXPECT_EQ(update_1(session, ctx, kDay, "12x", "S1", "3").error.number, kErrTypeMismatch);
  EXPECT_EQ(update_1(session, ctx, kDay, "", "S1", "3").error.number, kErrTypeMismatch);
  EXPECT_EQ(update_1(session, ctx, "2006/02/30", "1.0", "S1", "3").error.number, kErrTypeMismatch);
  EXPECT_EQ(update_1(session, ctx, kDay, "1.0", "S1", "").error.number, kErrTypeMismatch);
  combined();
  EXPECT_EQ(update_1(session, ctx, kDay, "abc", "", "3").status, OpStatus::line_failed);
  EXPECT_EQ(snapshot(), before);
  EXPECT_EQ(op.messages.size(), 5u);
}

}  // namespace
}  // namespace kiv::writeoff
