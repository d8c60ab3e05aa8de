#include "writeoff/lookups.h"

#include <gtest/gtest.h>

#include "recording_operator.h"
#include "temp_suite.h"
#include "writeoff/writeoffs.h"

namespace kiv::writeoff {
namespace {

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
  // The answer and what the amount-due lookups leave: "value due_amt|stu_delmark|tran_day2".
  std::string due(const LookupResult& r) const {
    return std::to_string(r.value) + " " + ctx.due_amt + "|" + ctx.stu_delmark + "|" + ctx.tran_day2;
  }

  kiv::testing::TempSuite suite;
  store::Connection db = suite.open();
  kiv::testing::RecordingOperator op;
  Session session{db, op};
  LineContext ctx;
};

TEST_F(Lookups, FindDataGivesAmountDueDeleteMarkAndSecondDateAlsoForACombinedTransfer) {
  ctx.tran_day2 = "old";
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/15", "S1", "07")), "-1 1515|False|");
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/15", "s2", "7")), "-1 1500.15|True|10/01/2003");
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/16", "S1", "7")), "0 ||10/01/2003") << "the second date is left";
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/15", "NOSTUDENT", "9")), "0 ||10/01/2003") << "no student row";
  EXPECT_EQ(due(find_data1(session, ctx, "2003/09/15", "S1", "7")), "0 ||10/01/2003") << "not marked paid";
  combined_payer("P9");  // find_data1 has no combined form
  EXPECT_EQ(due(find_data1(session, ctx, "2003/09/15", "s2", "07")), "-1 1500.15|True|10/01/2003");
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/15", "unused", "8")), "-1 3515|True|09/20/2003")
      << "the first row's fee once, every row's amount due";
  EXPECT_EQ(find_data2(session, "2003/09/15", "S1", "7").value, -1) << "paid or not";
  EXPECT_EQ(find_data2(session, "2003/09/15", "NOSTUDENT", "9").value, -1) << "student or not";
  EXPECT_EQ(find_data2(session, "2003/09/16", "S1", "7").value, 0);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Lookups, NullAmountIsALineFailureTheCallerTellsFromFoundAndNotFound) {
  const auto r = find_data(session, ctx, "2003/09/15", "S3", "7");
  EXPECT_EQ(r.status, OpStatus::line_failed);
  EXPECT_EQ(r.error.number, 94);
  EXPECT_EQ(due(r), "-1 ||");
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, standard_error_text(r.error));
  EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
  EXPECT_EQ(find_data1(session, ctx, "2003/09/15", "S3", "7").status, OpStatus::line_failed);
  db.execute("UPDATE KIV8_Payment SET payamt=NULL WHERE stdid='C2' AND grpid=8");
  combined_payer("P9");
  EXPECT_EQ(find_data(session, ctx, "2003/09/15", "", "8").status, OpStatus::line_failed);
}

TEST_F(Lookups, SelectPaymentTellsWrittenOffAndChannelAndStudentLabelNeedsAGrade) {
  const auto select = [&](const char* stdid, const char* grpid, const char* date) {
    ctx.pay_state = ctx.pay_way = "old";
    const auto r = select_KIV8_Payment(session, ctx, stdid, grpid, date);
    return std::to_string(r.value) + " " + ctx.pay_state + "|" + ctx.pay_way;
  };
  EXPECT_EQ(select("s1", "07", "09/15/2003"), "-1 1|3");
  EXPECT_EQ(select("S2", "7", "09/15/2003"), "-1 0|");
  EXPECT_EQ(select("NOSTUDENT", "9", "09/15/2003"), "-1 0|1");
  EXPECT_EQ(select("S1", "7", "09/16/2003"), "0 |");
  combined_payer("P9");
  EXPECT_EQ(select("unused", "8", "09/15/2003"), "-1 1|2") << "any record written off; the last channel named";
  const std::pair<const char*, const char*> labels[] = {{"s1", "3年2班15號"}, {"S2", ""}, {"S3", ""}, {"MISSING", ""}};
  for (const auto& [stdid, label] : labels) {
    ctx.stu_label = "old";
    EXPECT_EQ(select_KIV7_student(session, ctx, stdid).value, -1);
    EXPECT_EQ(ctx.stu_label, label) << stdid;
  }
  EXPECT_TRUE(op.messages.empty());
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
  const OpResult agency = update_kiv10(session, "2003/09/15", "7");
  const LookupResult results[] = {
      find_data(session, ctx, "2003/09/15", "S1", "7"), find_data1(session, ctx, "2003/09/15", "S2", "7"),
      find_data2(session, "2003/09/15", "S1", "7"),     select_KIV8_Payment(session, ctx, "S1", "7", "09/15/2003"),
      select_KIV7_student(session, ctx, "S1"),          {0, agency.status, agency.error}};
  for (const auto& r : results) {
    EXPECT_EQ(r.status, OpStatus::env_failed);
    EXPECT_TRUE(r.error.environmental);
  }
  EXPECT_TRUE(op.messages.empty()) << "the run reports it, once";
}

}  // namespace
}  // namespace kiv::writeoff
