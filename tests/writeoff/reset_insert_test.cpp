#include "store/transaction.h"
#include "writeoff_fixture.h"

namespace kiv::writeoff {
namespace {

class ResetInsert : public WriteoffTest {
 protected:
  // Records of the payer (A, B) and of someone else (C), all written off.
  void SetUp() override {
    payer_payment("A", kStored, "100", "10");
    payer_payment("B", kStored, "200", "0");
    payment("C", kStored, "300", "10");
    seed(
        "UPDATE KIV8_Payment SET payway='1', payday='2006-03-15', FailFac='F', Unequal=1, realamt=5, paystas=1, "
        "unusual='a', pay_record='1'");
  }
  static constexpr const char* kUntouched = "'1' '2006-03-15' '1' 1 1 5 'a' 'F' ";
  static constexpr const char* kReset = "'' NULL '1' 0 0 NULL '' '' ";
};

TEST_F(ResetInsert, ResetReturnsTheStudentsRecordToUnpaid) {
  ASSERT_TRUE(default_kiv8(session, ctx, kDay, "A", "05").ok());
  EXPECT_EQ(record("A"), std::string(kUntouched) + "10") << "group 05 is group 5, not 3";

  ASSERT_TRUE(default_kiv8(session, ctx, kDay, "A", "03").ok());
  EXPECT_EQ(record("A"), std::string(kReset) + "10");
  EXPECT_EQ(record("B"), std::string(kUntouched) + "0");
  EXPECT_EQ(count("SELECT sum(payamt) FROM KIV8_Payment"), 600);
}

TEST_F(ResetInsert, CombinedResetReturnsEveryRecordOfThePayer) {
  combined();
  ASSERT_TRUE(default_kiv8(session, ctx, kDay, "C", "3").ok());
  EXPECT_EQ(record("A"), std::string(kReset) + "10");
  EXPECT_EQ(record("B"), std::string(kReset) + "0") << "a fee set to 0 by a combined write-off stays 0";
  EXPECT_EQ(record("C"), std::string(kUntouched) + "10");
}

TEST_F(ResetInsert, InsertForAnUnknownStudentWritesNothing) {
  const std::string before = snapshot();
  const LookupResult result = insert_1(session, ctx, kDay, "1500.0", "NOBODY", "3");
  EXPECT_EQ(result.value, kFalse);
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(snapshot(), before);
}

TEST_F(ResetInsert, InsertCreatesARecordCodedByTheDeleteMark) {
  seed("INSERT INTO KIV7_Student (stdid, delmark) VALUES ('N1', 0), ('N2', -1), ('N3', NULL)");
  for (const char* stdid : {"N1", "N2", "N3"}) {
    const LookupResult result = insert_1(session, ctx, kDay, "1500.0", stdid, "05");
    EXPECT_EQ(result.value, kTrue) << stdid;
    EXPECT_TRUE(result.ok());
  }
  EXPECT_EQ(ctx.stu_delmark, "");
  EXPECT_EQ(kiv::testing::query_text(
                db,
                "SELECT group_concat(stdid||' '||tranday||' '||grpid||' '||PayWay||' '||PayDay||' '||Unequal||' '||"
                "Realamt||' '||Unusual||' '||paystas||' '||ifnull(pay_record,'-'), ' | ') "
                "FROM (SELECT * FROM KIV8_Payment WHERE stdid LIKE 'N%' ORDER BY rowid)"),
            "N1 2006-03-15 5 1 2006-03-15 1 1500 b 0 - | "
            "N2 2006-03-15 5 1 2006-03-15 1 1500 d 0 - | "
            "N3 2006-03-15 5 1 2006-03-15 1 1500 d 0 -");
}

TEST_F(ResetInsert, InsertOntoAnExistingRecordUpdatesItInstead) {
  seed("UPDATE KIV7_Student SET delmark=0");
  seed("UPDATE KIV8_Payment SET pay_record=NULL, paystas=0 WHERE stdid='C'");
  const LookupResult result = insert_1(session, ctx, kDay, "250.5", "C", "3");
  EXPECT_EQ(result.value, kTrue);
  EXPECT_EQ(ctx.stu_delmark, "False");
  EXPECT_EQ(record("C"), "'2' '2006-03-15' '1' 0 1 250.5 'd' 'F' 10");
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE stdid='C'"), 1);
}

TEST_F(ResetInsert, InsertFailureAnswersFalseAfterOneMessage) {
  seed("INSERT INTO KIV7_Student (stdid, delmark) VALUES ('N1', 0)");
  const std::string before = snapshot();
  for (const auto& [day, amount, group] : {std::tuple{"2006/02/30", "1.0", "3"},  // checked by the existence test
                                           std::tuple{kDay, "1,500", "3"}, std::tuple{kDay, "1.0", ""}}) {
    op.messages.clear();
    const LookupResult result = insert_1(session, ctx, day, amount, "N1", group);
    EXPECT_EQ(result.value, kFalse);
    EXPECT_EQ(result.status, OpStatus::line_failed);
    EXPECT_EQ(result.error.number, kErrTypeMismatch);
    EXPECT_EQ(op.messages.size(), 1u) << day << " " << amount << " " << group;
  }
  EXPECT_EQ(snapshot(), before);
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

}  // namespace
}  // namespace kiv::writeoff
