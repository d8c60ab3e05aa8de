#include "writeoff_fixture.h"

namespace kiv::writeoff {
namespace {

// Student numbers and payer texts are data: whatever they hold, they select
// the record that carries exactly that text and no other.
class BoundValues : public WriteoffTest {
 protected:
  static constexpr const char* kOdd = "9'; DELETE FROM KIV8_Payment; --";
  static constexpr const char* kOddPayer = "P'--;x'";

  void SetUp() override {
    seed("INSERT INTO KIV7_Student (stdid, delmark) VALUES ('9''; DELETE FROM KIV8_Payment; --', 0), ('OK', 0)");
    seed(
        "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, acctid, offno) VALUES "
        "('9''; DELETE FROM KIV8_Payment; --', '2006-03-15', 3, 100, 10, 'P''--;x''', 'OFF7654321'), "
        "('OK', '2006-03-15', 3, 100, 10, 'P000000001', 'OFF7654321')");
  }
};

TEST_F(BoundValues, QuotesCommentsAndSemicolonsSelectOnlyTheirOwnRecord) {
  const std::string ok = record("OK");
  ctx.stu_delmark = "False";
  EXPECT_TRUE(update_1(session, ctx, kDay, "90.0", kOdd, "3").ok());
  EXPECT_EQ(record(kOdd), "'1' '2006-03-15' '1' 0 1 90 'a' NULL 10");
  EXPECT_TRUE(default_kiv8(session, ctx, kDay, kOdd, "3").ok());
  EXPECT_TRUE(update_2(session, ctx, kDay, kOdd, "3").ok());
  EXPECT_TRUE(update_3(session, ctx, "'; --", kDay, kOdd, "3").ok());
  EXPECT_TRUE(update_4(session, ctx, kDay, kOdd, "3", "x'y").ok());
  EXPECT_EQ(record(kOdd), "'1' '2006-03-15' '1' 1 0 NULL '' 'x''y' 10");
  EXPECT_EQ(insert_1(session, ctx, kDay, "5.0", kOdd, "3").value, kTrue);
  EXPECT_EQ(record(kOdd), "'2' '2006-03-15' '1' 1 1 5 'd' 'x''y' 10");

  ctx.comb_flag = "1";
  ctx.payer_id = kOddPayer;
  ctx.payer_acct = kPayerAcct;
  EXPECT_TRUE(default_kiv8(session, ctx, kDay, "", "3").ok());
  EXPECT_TRUE(update_1(session, ctx, kDay, "200.0", "", "3").ok());
  EXPECT_EQ(record(kOdd), "'1' '2006-03-15' '1' 0 1 200 'a' '' 10");
  ctx.tran_day2 = kDay2;
  EXPECT_TRUE(update_3(session, ctx, "F", kDay, "", "3").ok());
  EXPECT_EQ(record(kOdd), "(none)");

  EXPECT_EQ(record("OK"), ok);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(BoundValues, TextsThatLookLikeConditionsMatchNothing) {
  const std::string before = snapshot();
  ctx.tran_day2 = kDay2;
  EXPECT_TRUE(update_2(session, ctx, kDay, "x' or '1'='1", "3").ok());
  EXPECT_TRUE(update_4(session, ctx, kDay, "%", "3", "").ok());
  ctx.comb_flag = "1";
  ctx.payer_id = "' or ''='";
  EXPECT_TRUE(update_2(session, ctx, kDay, "", "3").ok());
  EXPECT_EQ(insert_1(session, ctx, kDay, "1.0", "OK' --", "3").value, kFalse);
  EXPECT_EQ(snapshot(), before);
  EXPECT_TRUE(op.messages.empty());
}

}  // namespace
}  // namespace kiv::writeoff
