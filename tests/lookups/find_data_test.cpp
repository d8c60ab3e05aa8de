#include <gtest/gtest.h>

#include "lookup_fixture.h"
#include "writeoff/lookups.h"

namespace kiv::testing {
namespace {

using writeoff::find_data;
using writeoff::find_data1;
using writeoff::find_data2;
using writeoff::OpStatus;

TEST(FindData, AmountDueIsFeePlusPaymentInExactHundredths) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV7_Student (stdid, delmark) VALUES ('S1', 0), ('S2', -1);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, tranday2) VALUES"
      " ('S1', '2003-09-15', 7, 1500, 15, NULL), ('S2', '2003-09-15', 7, 1500.05, 0.10, '2003-10-01');");

  f.ctx.tran_day2 = "old";
  auto r = find_data(f.session, f.ctx, "2003/09/15", "S1", "07");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.value, -1);
  EXPECT_EQ(f.ctx.due_amt, "1515");
  EXPECT_EQ(f.ctx.stu_delmark, "False");
  EXPECT_EQ(f.ctx.tran_day2, "");

  r = find_data(f.session, f.ctx, "2003/09/15", "s2", "7");
  EXPECT_EQ(r.value, -1);
  EXPECT_EQ(f.ctx.due_amt, "1500.15");
  EXPECT_EQ(f.ctx.stu_delmark, "True");  // -1 counts as marked
  EXPECT_EQ(f.ctx.tran_day2, "10/01/2003");
  EXPECT_TRUE(f.op.messages.empty());
}

TEST(FindData, NothingFoundEmptiesAmountAndMarkButKeepsSecondDate) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV7_Student (stdid) VALUES ('S1'), ('S2');"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt) VALUES ('S1', '2003-09-15', 0, 100),"
      " ('S2', '2003-09-15', 7, 100);");
  f.ctx.due_amt = "99";
  f.ctx.stu_delmark = "False";
  f.ctx.tran_day2 = "01/02/2003";

  const auto r = find_data(f.session, f.ctx, "2003/09/16", "S1", "");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(find_data(f.session, f.ctx, "2003/09/15", "S2", "8").value, 0);
  EXPECT_EQ(f.ctx.due_amt, "");
  EXPECT_EQ(f.ctx.stu_delmark, "");
  EXPECT_EQ(f.ctx.tran_day2, "01/02/2003");
  // An empty group text is group 0.
  EXPECT_EQ(find_data(f.session, f.ctx, "2003/09/15", "S1", "").value, -1);
  EXPECT_EQ(f.ctx.due_amt, "100");
}

TEST(FindData, CombinedTransferSumsThePayersRecordsWithTheFeeOnce) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV7_Student (stdid, delmark) VALUES ('S1', 1), ('S2', 0), ('S3', 0), ('S4', 0);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee, tranday2) VALUES"
      " ('S1', '2003-09-15', 7, 'P9', 'XX1234567', 1000, 15, '2003-09-20'),"
      " ('S2', '2003-09-15', 7, 'p9', '001234567', 2000, 30, NULL),"
      " ('S3', '2003-09-15', 7, 'P9', 'ab1234567', 500, 0, NULL),"
      // Other account digits, date or group: not part of this transfer.
      " ('S4', '2003-09-15', 7, 'P9', '001234568', 4000, 0, NULL),"
      " ('S1', '2003-09-16', 7, 'P9', '001234567', 8000, 0, NULL),"
      " ('S2', '2003-09-15', 8, 'P9', '001234567', 9000, 0, NULL);");
  f.ctx.comb_flag = "1";
  f.ctx.payer_id = "P9";
  f.ctx.payer_acct = "00012301234567";  // characters 8 to 14: 1234567

  const auto r = find_data(f.session, f.ctx, "2003/09/15", "unused", "7");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.value, -1);
  EXPECT_EQ(f.ctx.due_amt, "3515");
  EXPECT_EQ(f.ctx.stu_delmark, "True");
  EXPECT_EQ(f.ctx.tran_day2, "09/20/2003");

  // Account digits compare without regard to case.
  f.seed("UPDATE KIV8_Payment SET offno = 'zzABCDEFG' WHERE stdid = 'S4'");
  f.ctx.payer_acct = "0001230abcdefg";
  EXPECT_EQ(find_data(f.session, f.ctx, "2003/09/15", "", "7").value, -1);
  EXPECT_EQ(f.ctx.due_amt, "4000");
}

TEST(FindData, NullAmountFailsTheLineAfterTheRecordWasFound) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV7_Student (stdid, delmark) VALUES ('S1', 0), ('S2', 1), ('S3', 0);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee, tranday2) VALUES"
      " ('S1', '2003-09-15', 7, NULL, NULL, 1500, NULL, '2003-09-20'),"
      " ('S2', '2003-09-15', 7, 'P9', '1234567', 1000, 15, '2003-09-21'),"
      " ('S3', '2003-09-15', 7, 'P9', '1234567', NULL, 0, NULL);");
  f.ctx.tran_day2 = "kept";

  auto r = find_data(f.session, f.ctx, "2003/09/15", "S1", "7");
  EXPECT_EQ(r.value, -1);
  EXPECT_EQ(r.status, OpStatus::line_failed);
  EXPECT_EQ(r.error.number, 94);
  EXPECT_EQ(f.ctx.due_amt, "");
  EXPECT_EQ(f.ctx.stu_delmark, "");
  EXPECT_EQ(f.ctx.tran_day2, "kept");
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text.rfind("錯誤:", 0), 0u);
  EXPECT_NE(f.op.messages[0].text.find("(94)"), std::string::npos);
  EXPECT_EQ(f.op.messages[0].icon, MessageIcon::critical);
  EXPECT_EQ(f.op.messages[0].title, "Tavenor");

  // Combined: the first row's values are in, the sum stops where it failed.
  f.ctx.comb_flag = "1";
  f.ctx.payer_id = "P9";
  f.ctx.payer_acct = "00000001234567";
  r = find_data(f.session, f.ctx, "2003/09/15", "", "7");
  EXPECT_EQ(r.value, -1);
  EXPECT_EQ(r.status, OpStatus::line_failed);
  EXPECT_EQ(f.ctx.stu_delmark, "True");
  EXPECT_EQ(f.ctx.tran_day2, "09/21/2003");
  EXPECT_EQ(f.ctx.due_amt, "1015");
  EXPECT_EQ(f.op.messages.size(), 2u);
}

TEST(FindData, OnlyRecordsWithAStudentAreFoundAndFindData1OnlyPaidOnes) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV7_Student (stdid) VALUES ('S1'), ('S2'), ('S3');"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, paystas) VALUES"
      " ('S1', '2003-09-15', 7, 100, 0, 0), ('S2', '2003-09-15', 7, 200, 0, -1),"
      " ('S3', '2003-09-15', 7, 300, 0, 1), ('NOSTUDENT', '2003-09-15', 7, 400, 0, 1);");

  EXPECT_EQ(find_data1(f.session, f.ctx, "2003/09/15", "S1", "7").value, 0);
  EXPECT_EQ(find_data2(f.session, "2003/09/15", "S1", "7").value, -1);
  EXPECT_EQ(find_data1(f.session, f.ctx, "2003/09/15", "S2", "7").value, -1);
  EXPECT_EQ(f.ctx.due_amt, "200");
  f.ctx.comb_flag = "1";  // find_data1 never takes the combined form
  EXPECT_EQ(find_data1(f.session, f.ctx, "2003/09/15", "s3", "07").value, -1);
  EXPECT_EQ(f.ctx.due_amt, "300");

  EXPECT_EQ(find_data1(f.session, f.ctx, "2003/09/15", "NOSTUDENT", "7").value, 0);
  f.ctx.comb_flag.clear();
  EXPECT_EQ(find_data(f.session, f.ctx, "2003/09/15", "NOSTUDENT", "7").value, 0);
  EXPECT_EQ(find_data2(f.session, "2003/09/15", "NOSTUDENT", "7").value, -1);
  EXPECT_TRUE(f.op.messages.empty());
}

TEST(FindData, QuotesAndCommentsInValuesAreData) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV7_Student (stdid) VALUES ('S1');"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt) VALUES"
      " ('S1', '2003-09-15', 7, 'P9', '1234567', 100);");
  for (const char* stdid : {"S1' OR '1'='1", "S1'--", "S1; DELETE FROM KIV8_Payment", "S1--"}) {
    const auto r = find_data(f.session, f.ctx, "2003/09/15", stdid, "7");
    EXPECT_TRUE(r.ok()) << stdid;
    EXPECT_EQ(r.value, 0) << stdid;
    EXPECT_EQ(find_data1(f.session, f.ctx, "2003/09/15", stdid, "7").value, 0) << stdid;
  }
  f.ctx.comb_flag = "1";
  f.ctx.payer_id = "P9' OR ''='";
  f.ctx.payer_acct = "00000001234567";
  EXPECT_EQ(find_data(f.session, f.ctx, "2003/09/15", "", "7").value, 0);
  EXPECT_TRUE(f.op.messages.empty());
  EXPECT_EQ(query_int(f.db, "SELECT count(*) FROM KIV8_Payment"), 1);
}

TEST(FindData, InvalidDateIsALineFailureWithTheStandardMessage) {
  LookupFixture f;
  f.ctx.due_amt = "1";
  const auto r = find_data(f.session, f.ctx, "2004/02/30", "S1", "7");
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(r.status, OpStatus::line_failed);
  EXPECT_EQ(r.error.number, 13);
  EXPECT_EQ(f.ctx.due_amt, "");
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].icon, MessageIcon::critical);
  EXPECT_NE(f.op.messages[0].text.find("(13)"), std::string::npos);
  EXPECT_EQ(find_data1(f.session, f.ctx, "2004/13/01", "S1", "7").status, OpStatus::line_failed);
}

TEST(FindData, BusyDatabaseIsAnEnvironmentFailureShownToNobody) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV7_Student (stdid) VALUES ('S1');"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt) VALUES ('S1', '2003-09-15', 7, 100);");
  auto other = f.hold_exclusively();
  auto r = find_data(f.session, f.ctx, "2003/09/15", "S1", "7");
  EXPECT_EQ(r.status, OpStatus::env_failed);
  EXPECT_TRUE(r.error.environmental);
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(find_data1(f.session, f.ctx, "2003/09/15", "S1", "7").status, OpStatus::env_failed);
  EXPECT_TRUE(f.op.messages.empty());
}

}  // namespace
}  // namespace kiv::testing
