#include "writeoff/lookups.h"

#include <gtest/gtest.h>

#include "recording_operator.h"
#include "temp_suite.h"

namespace kiv::writeoff {
namespace {

using kiv::testing::query_int;

constexpr const char* kSchool =
    "INSERT INTO KIV6_Group (GrpID, GrpName) VALUES (7, 'fees'), (8, 'bus');"
    "INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES ('S1', 0, ' 3 ', '2 ', ' 15'),"
    " ('S2', -1, '  ', '2', '15'), ('S3', 0, NULL, '2', '15'), ('C1', 1, '1', '1', '1'), ('C2', 0, '1', '1', '2'),"
    " ('C3', 0, '1', '1', '3'), ('C4', 0, '1', '1', '4');"
    "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee, tranday2, paystas, payway,"
    " pay_record) VALUES ('S1', '2003-09-15', 7, NULL, NULL, 1500, 15, NULL, 0, ' 3 ', ' 1 '),"
    " ('S2', '2003-09-15', 7, NULL, NULL, 1500.05, 0.10, '2003-10-01', -1, NULL, '0'),"
    " ('S3', '2003-09-15', 7, NULL, NULL, NULL, 0, NULL, 1, NULL, NULL),"
    " ('NOSTUDENT', '2003-09-15', 9, NULL, NULL, 400, 0, NULL, 1, '1', NULL),"
    " ('C1', '2003-09-15', 8, 'P9', 'XXabc4567', 1000, 15, '2003-09-20', 0, '1', '0'),"
    " ('C2', '2003-09-15', 8, 'p9', '00ABC4567', 2000, 30, NULL, 0, '2', '1'),"
    " ('C3', '2003-09-15', 8, 'P9', 'zzAbC4567', 500, 0, NULL, 0, NULL, '0'),"
    " ('C4', '2003-09-15', 8, 'P9', '00ABC4568', 4000, 0, NULL, 0, '3', '0'),"
    " ('C1', '2003-09-16', 8, 'P9', '00ABC4567', 8000, 0, NULL, 0, '3', '0'),"
    " ('C2', '2003-09-15', 9, 'P9', '00ABC4567', 9000, 0, NULL, 0, '3', '0');";

class Lookups : public ::testing::Test {
 protected:
  Lookups() { db.execute(kSchool); }
  void combined_payer(const std::string& payer_id) {
    ctx.comb_flag = "1";
    ctx.payer_id = payer_id;
    ctx.payer_acct = "0001230aBc4567";  // characters 8 to 14 name the account
  }

  kiv::testing::TempSuite suite;
  store::Connection db = suite.open();
  kiv::testing::RecordingOperator op;
  Session session{db, op};
  LineContext ctx;
};

TEST_F(Lookups, FindDataGivesAmountDueDeleteMarkAndSecondDateAlsoForACombinedTransfer) {
  const struct {
    const char *stdid, *grpid, *due, *delmark, *tran_day2;
  } cases[] = {{"S1", "07", "1515", "False", ""}, {"s2", "7", "1500.15", "True", "10/01/2003"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stdid);
    ctx.tran_day2 = "old";
    const auto r = find_data(session, ctx, "2003/09/15", c.stdid, c.grpid);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.value, -1);
    EXPECT_EQ(ctx.due_amt, c.due);
    EXPECT_EQ(ctx.stu_delmark, c.delmark);
    EXPECT_EQ(ctx.tran_day2, c.tran_day2);
  }
  EXPECT_EQ(find_data(session, ctx, "2003/09/16", "S1", "7").value, 0);
  EXPECT_EQ(find_data(session, ctx, "2003/09/15", "S1", "8").value, 0);
  EXPECT_EQ(ctx.due_amt, "");
  EXPECT_EQ(ctx.stu_delmark, "");
  EXPECT_EQ(ctx.tran_day2, "10/01/2003") << "nothing found leaves the second date";
  EXPECT_TRUE(op.messages.empty());
  combined_payer("P9");
  const auto r = find_data(session, ctx, "2003/09/15", "unused", "8");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.value, -1);
  EXPECT_EQ(ctx.due_amt, "3515");
  EXPECT_EQ(ctx.stu_delmark, "True");
  EXPECT_EQ(ctx.tran_day2, "09/20/2003");
}

TEST_F(Lookups, NullAmountIsALineFailureTheCallerTellsFromFoundAndNotFound) {
  const auto r = find_data(session, ctx, "2003/09/15", "S3", "7");
  EXPECT_EQ(r.status, OpStatus::line_failed);
  EXPECT_EQ(r.value, -1);
  EXPECT_EQ(r.error.number, 94);
  EXPECT_TRUE(r.amount_unknown);
  EXPECT_EQ(ctx.due_amt, "");
  EXPECT_TRUE(op.messages.empty()) << "a failed transfer needs no amount: the caller decides whether to show it";
  EXPECT_EQ(find_data1(session, ctx, "2003/09/15", "S3", "7").status, OpStatus::line_failed);
  db.execute("UPDATE KIV8_Payment SET payamt=NULL WHERE stdid='C2' AND grpid=8");
  combined_payer("P9");
  EXPECT_EQ(find_data(session, ctx, "2003/09/15", "", "8").status, OpStatus::line_failed);
}

TEST_F(Lookups, FindData1SeesOnlyPaidRecordsFindData2AllAndOnlyWithAStudentRow) {
  EXPECT_EQ(find_data1(session, ctx, "2003/09/15", "S1", "7").value, 0);
  EXPECT_EQ(find_data2(session, "2003/09/15", "S1", "7").value, -1);
  combined_payer("P9");  // find_data1 has no combined form
  EXPECT_EQ(find_data1(session, ctx, "2003/09/15", "s2", "07").value, -1);
  EXPECT_EQ(ctx.due_amt, "1500.15");
  EXPECT_EQ(find_data1(session, ctx, "2003/09/15", "NOSTUDENT", "9").value, 0);
  ctx.comb_flag.clear();
  EXPECT_EQ(find_data(session, ctx, "2003/09/15", "NOSTUDENT", "9").value, 0);
  EXPECT_EQ(find_data2(session, "2003/09/15", "NOSTUDENT", "9").value, -1);
  EXPECT_EQ(find_data2(session, "2003/09/16", "S1", "7").value, 0);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Lookups, SelectPaymentTellsWrittenOffAndChannelAndStudentLabelNeedsAGrade) {
  const struct {
    const char *stdid, *grpid, *date;
    int value;
    const char *pay_state, *pay_way;
  } cases[] = {{"s1", "07", "09/15/2003", -1, "1", "3"},
               {"S2", "7", "09/15/2003", -1, "0", ""},
               {"NOSTUDENT", "9", "09/15/2003", -1, "0", "1"},
               {"S1", "7", "09/16/2003", 0, "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.stdid) + " " + c.date);
    ctx.pay_state = ctx.pay_way = "old";
    const auto r = select_KIV8_Payment(session, ctx, c.stdid, c.grpid, c.date);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.value, c.value);
    EXPECT_EQ(ctx.pay_state, c.pay_state);
    EXPECT_EQ(ctx.pay_way, c.pay_way);
  }
  combined_payer("P9");
  EXPECT_EQ(select_KIV8_Payment(session, ctx, "unused", "8", "09/15/2003").value, -1);
  EXPECT_EQ(ctx.pay_state, "1") << "the second of the payer's records is written off";
  EXPECT_EQ(ctx.pay_way, "2");
  EXPECT_TRUE(op.messages.empty());
  const struct {
    const char *stdid, *label;
  } labels[] = {{"s1", "3年2班15號"}, {"S2", ""}, {"S3", ""}, {"MISSING", ""}};
  for (const auto& c : labels) {
    SCOPED_TRACE(c.stdid);
    ctx.stu_label = "old";
    const auto r = select_KIV7_student(session, ctx, c.stdid);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.value, -1);
    EXPECT_EQ(ctx.stu_label, c.label);
  }
}

TEST_F(Lookups, QuotesCommentsAndSemicolonsAreDataThatFindsNothing) {
  for (const char* id : {"S1' OR '1'='1", "S1'--", "S1; DELETE FROM KIV8_Payment", "S1--"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(find_data(session, ctx, "2003/09/15", id, "7").value, 0);
    EXPECT_EQ(find_data1(session, ctx, "2003/09/15", id, "7").value, 0);
    EXPECT_EQ(find_data2(session, "2003/09/15", id, "7").value, 0);
    EXPECT_EQ(select_KIV8_Payment(session, ctx, id, "7", "09/15/2003").value, 0);
    select_KIV7_student(session, ctx, id);
    EXPECT_EQ(ctx.stu_label, "");
  }
  combined_payer("P9' OR ''='");
  EXPECT_EQ(find_data(session, ctx, "2003/09/15", "", "8").value, 0);
  EXPECT_EQ(select_KIV8_Payment(session, ctx, "", "8", "09/15/2003").value, 0);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(query_int(db, "SELECT count(*) FROM KIV8_Payment"), 10);
}

TEST_F(Lookups, DateThatIsNoCalendarDateFailsTheLineWithTheLookupsOwnMessage) {
  auto r = find_data(session, ctx, "2004/02/30", "S1", "7");
  EXPECT_EQ(r.status, OpStatus::line_failed);
  EXPECT_EQ(r.error.number, 13);
  EXPECT_EQ(find_data1(session, ctx, "2004/13/01", "S1", "7").status, OpStatus::line_failed);
  ASSERT_EQ(op.messages.size(), 2u);
  EXPECT_EQ(op.messages[0].text, standard_error_text(r.error));

  r = select_KIV8_Payment(session, ctx, "S1", "7", "02/30/2004");
  EXPECT_EQ(r.status, OpStatus::line_failed);
  ASSERT_EQ(op.messages.size(), 3u);
  EXPECT_EQ(op.messages[2].text, r.error.description) << "a plain box with the error text alone";
  EXPECT_EQ(op.messages[2].icon, MessageIcon::none);
  EXPECT_EQ(op.messages[2].title, "Tavenor");
}

TEST_F(Lookups, BusyDatabaseIsAnEnvironmentFailureLeftToTheCaller) {
  auto other = suite.open();
  other.execute("BEGIN EXCLUSIVE");
  db.set_busy_timeout_ms(100);
  const LookupResult results[] = {
      find_data(session, ctx, "2003/09/15", "S1", "7"), find_data1(session, ctx, "2003/09/15", "S2", "7"),
      find_data2(session, "2003/09/15", "S1", "7"), select_KIV8_Payment(session, ctx, "S1", "7", "09/15/2003"),
      select_KIV7_student(session, ctx, "S1")};
  for (const auto& r : results) {
    EXPECT_EQ(r.status, OpStatus::env_failed);
    EXPECT_TRUE(r.error.environmental);
  }
  EXPECT_TRUE(op.messages.empty());
}

}  // namespace
}  // namespace kiv::writeoff
