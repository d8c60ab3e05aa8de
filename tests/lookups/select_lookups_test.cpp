#include <gtest/gtest.h>

#include "lookup_fixture.h"
#include "writeoff/lookups.h"

namespace kiv::testing {
namespace {

using writeoff::OpStatus;
using writeoff::select_KIV7_student;
using writeoff::select_KIV8_Payment;

TEST(SelectPayment, ReportsWhetherWrittenOffAndTheChannel) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV6_Group (GrpID, GrpName) VALUES (7, 'fees');"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payway, pay_record) VALUES"
      " ('S1', '2003-09-15', 7, ' 3 ', ' 1 '), ('S2', '2003-09-15', 7, NULL, '0'),"
      // No student row and no group row: still a payment record.
      " ('NOSTUDENT', '2003-09-15', 9, '1', NULL);");

  auto r = select_KIV8_Payment(f.session, f.ctx, "s1", "07", "09/15/2003");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.value, -1);
  EXPECT_EQ(f.ctx.pay_state, "1");
  EXPECT_EQ(f.ctx.pay_way, "3");

  EXPECT_EQ(select_KIV8_Payment(f.session, f.ctx, "S2", "7", "09/15/2003").value, -1);
  EXPECT_EQ(f.ctx.pay_state, "0");
  EXPECT_EQ(f.ctx.pay_way, "");

  EXPECT_EQ(select_KIV8_Payment(f.session, f.ctx, "NOSTUDENT", "9", "09/15/2003").value, -1);
  EXPECT_EQ(f.ctx.pay_state, "0");
  EXPECT_EQ(f.ctx.pay_way, "1");

  f.ctx.pay_state = "1";
  f.ctx.pay_way = "3";
  r = select_KIV8_Payment(f.session, f.ctx, "S1", "7", "09/16/2003");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(f.ctx.pay_state, "");
  EXPECT_EQ(f.ctx.pay_way, "");
  EXPECT_TRUE(f.op.messages.empty());
}

TEST(SelectPayment, CombinedTransferLooksAtEveryRecordOfThePayer) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payway, pay_record) VALUES"
      " ('S1', '2003-09-15', 7, 'P9', '001234567', '1', '0'),"
      " ('S2', '2003-09-15', 7, 'p9', 'X1234567', '2', '1'),"
      " ('S3', '2003-09-15', 7, 'P9', '1234567', NULL, '0'),"
      " ('S4', '2003-09-15', 7, 'P9', '7654321', '3', '1');");
  f.ctx.comb_flag = "1";
  f.ctx.payer_id = "P9";
  f.ctx.payer_acct = "00000001234567";

  EXPECT_EQ(select_KIV8_Payment(f.session, f.ctx, "unused", "7", "09/15/2003").value, -1);
  EXPECT_EQ(f.ctx.pay_state, "1");
  EXPECT_EQ(f.ctx.pay_way, "2");

  f.seed("UPDATE KIV8_Payment SET pay_record = '0' WHERE stdid = 'S2'");
  EXPECT_EQ(select_KIV8_Payment(f.session, f.ctx, "", "7", "09/15/2003").value, -1);
  EXPECT_EQ(f.ctx.pay_state, "0");

  f.ctx.payer_id = "P9' OR ''='";
  EXPECT_EQ(select_KIV8_Payment(f.session, f.ctx, "", "7", "09/15/2003").value, 0);
  EXPECT_TRUE(f.op.messages.empty());
}

TEST(SelectPayment, FailuresOfTheLineShowAPlainBoxAndMachineFailuresNothing) {
  LookupFixture f;
  f.seed("INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('S1', '2003-09-15', 7);");
  for (const char* stdid : {"S1' OR '1'='1", "S1;--", "S1--"}) {
    const auto r = select_KIV8_Payment(f.session, f.ctx, stdid, "7", "09/15/2003");
    EXPECT_TRUE(r.ok()) << stdid;
    EXPECT_EQ(r.value, 0) << stdid;
  }
  EXPECT_TRUE(f.op.messages.empty());

  auto r = select_KIV8_Payment(f.session, f.ctx, "S1", "7", "02/30/2004");
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(r.status, OpStatus::line_failed);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, r.error.description);
  EXPECT_EQ(f.op.messages[0].icon, MessageIcon::none);
  EXPECT_EQ(f.op.messages[0].title, "Tavenor");
  EXPECT_EQ(f.op.messages[0].text.find("錯誤"), std::string::npos);

  auto other = f.hold_exclusively();
  r = select_KIV8_Payment(f.session, f.ctx, "S1", "7", "09/15/2003");
  EXPECT_EQ(r.status, OpStatus::env_failed);
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(select_KIV7_student(f.session, f.ctx, "S1").status, OpStatus::env_failed);
  EXPECT_EQ(f.op.messages.size(), 1u);
}

TEST(SelectStudent, LabelNamesGradeClassAndSeatOnlyWhenThereIsAGrade) {
  LookupFixture f;
  f.seed(
      "INSERT INTO KIV7_Student (stdid, grade, clsid, seatno) VALUES"
      " ('S1', ' 3 ', '2 ', ' 15'), ('S2', '  ', '2', '15'), ('S3', NULL, '2', '15');");

  f.ctx.stu_label = "old";
  auto r = select_KIV7_student(f.session, f.ctx, "s1");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.value, -1);
  EXPECT_EQ(f.ctx.stu_label, "3年2班15號");

  for (const char* stdid : {"S2", "S3", "MISSING", "S1' OR '1'='1"}) {
    f.ctx.stu_label = "old";
    r = select_KIV7_student(f.session, f.ctx, stdid);
    EXPECT_TRUE(r.ok()) << stdid;
    EXPECT_EQ(r.value, -1) << stdid;
    EXPECT_EQ(f.ctx.stu_label, "") << stdid;
  }
  EXPECT_TRUE(f.op.messages.empty());
}

}  // namespace
}  // namespace kiv::testing
