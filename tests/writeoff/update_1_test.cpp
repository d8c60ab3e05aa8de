#include "store/transaction.h"
#include "writeoff_fixture.h"

namespace kiv::writeoff {
namespace {

using Update1 = WriteoffTest;

TEST_F(Update1, SingleRecordTakesTheAmountAsReceivedFlaggedByTheDeleteMark) {
  seed("INSERT INTO KIV9_Payitem VALUES ('S1', '2006-03-15', 3)");
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3)");
  struct Case {
    const char *stdid, *delmark, *amount, *group;
    std::string expected;
  } cases[] = {
      {"S1", "False", "1500.0", "03", part("1500", "a", 15)},
      {"S2", "True", "100.5", "3", part("100.5", "c", 15)},
      {"S3", "", "7.0", "3", part("7", "c", 15)},
  };
  for (const Case& c : cases) payment(c.stdid, kStored, "1500", "15");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stdid);
    ctx.stu_delmark = c.delmark;
    EXPECT_TRUE(update_1(session, ctx, kDay, c.amount, c.stdid, c.group).ok());
    EXPECT_EQ(record(c.stdid), c.expected);
  }
  EXPECT_EQ(count("SELECT (SELECT count(*) FROM KIV9_Payitem) + (SELECT count(*) FROM KIV10_Agency) + "
                  "(SELECT count(*) FROM KIV8_Payment)"),
            5)
      << "nothing deleted";
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Update1, CombinedWalkSpreadsTheMoneyInAmountAndStudentOrderWithTheFeeOnce) {
  const std::string none = "(none)", untouched = kUntouched;
  const char* lone = "DELETE FROM KIV8_Payment WHERE stdid IN ('B', 'C')";
  const char* big = "UPDATE KIV8_Payment SET payamt=1000, fee=0";
  struct Case {
    const char *name, *setup, *amount, *delmark;
    std::string a, b, c;
  } cases[] = {
      {"short on the last", "", "350.0", "False", paid(10), paid(0), part("140", "a", 0)},
      {"short on the first", "", "50.0", "False", part("50", "a", 10), part("0", "a", 0), part("0", "a", 0)},
      {"surplus on the last", "", "600.0", "True", paid(10), paid(0), part("390", "c", 0)},
      {"ties by student number", "UPDATE KIV8_Payment SET payamt=100 WHERE stdid='C'", "250.0", "False", paid(10),
       paid(0), part("40", "a", 0)},
      {"100.5 rounds to 100", big, "100.5", "False", part("100", "a", 0), part("0", "a", 0), part("0", "a", 0)},
      {"101.5 rounds to 102", big, "101.5", "False", part("102", "a", 0), part("0", "a", 0), part("0", "a", 0)},
      {"lone record keeps the surplus", lone, "150.0", "False", part("150", "a", 10), none, none},
      {"lone record paid exactly", lone, "110.4", "False", paid(10), none, none},
      {"empty selection", "UPDATE KIV8_Payment SET offno='OFF1111111'", "150.0", "False", untouched, untouched,
       untouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    abc_school();
    seed(c.setup);
    const std::string other = record("OTHER");
    combined();
    ctx.stu_delmark = c.delmark;
    EXPECT_TRUE(update_1(session, ctx, kDay, c.amount, "", "3").ok());
    EXPECT_EQ(abc(), c.a + " | " + c.b + " | " + c.c);
    EXPECT_EQ(record("OTHER"), other);
  }
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Update1, CombinedSecondDateRecordsTakeTheWalkAndTheLineDateGoes) {
  payer_on_both_dates();
  seed("UPDATE KIV8_Payment SET tranday2='2006-04-15' WHERE tranday='2006-03-15'");
  seed("INSERT INTO KIV9_Payitem VALUES ('A', '2006-03-15', 3), ('B', '2006-03-15', 3), ('B', '2006-04-15', 3)");
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3), ('2006-03-15', 4)");
  ctx.stu_delmark = "False";

  ASSERT_TRUE(update_1(session, ctx, kDay, "250.0", "", "3").ok());
  EXPECT_EQ(record("A", kStored2), paid(10));
  EXPECT_EQ(record("B", kStored2), "'1' '2006-03-15' '1' 0 1 140 'a' '' 0");
  EXPECT_EQ(count("SELECT count(*) FROM KIV8_Payment WHERE tranday='2006-03-15'"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM KIV9_Payitem"), 1);
  EXPECT_EQ(count("SELECT grpid FROM KIV10_Agency"), 4) << "only the line's date and group lose their agency row";
}

TEST_F(Update1, FailureHalfwayThroughTheWalkIsUndoneWithTheLine) {
  struct Case {
    const char *name, *setup;
    int number;
  } cases[] = {
      {"null fee", "UPDATE KIV8_Payment SET fee=NULL WHERE stdid='B'", kErrInvalidUseOfNull},
      {"refused statement",
       "CREATE TRIGGER refuse_c BEFORE UPDATE ON KIV8_Payment WHEN new.stdid='C' BEGIN SELECT RAISE(ABORT, 'no'); END",
       0},
  };
  combined();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    abc_school();
    seed(c.setup);
    op.messages.clear();
    const std::string before = snapshot();
    {
      store::Savepoint line(db, "line");
      const OpResult result = update_1(session, ctx, kDay, "600.0", "", "3");
      EXPECT_EQ(result.status, OpStatus::line_failed);
      if (c.number != 0) {
        EXPECT_EQ(result.error.number, c.number);
      }
      EXPECT_EQ(record("A"), paid(10)) << "the walk had begun";
    }
    EXPECT_EQ(snapshot(), before);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:"));
  }
}

}  // namespace
}  // namespace kiv::writeoff
