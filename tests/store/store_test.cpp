#include <gtest/gtest.h>

#include "store/db_error.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "store/values.h"
#include "temp_suite.h"

namespace kiv::store {
namespace {

using kiv::testing::query_text;
using kiv::testing::TempSuite;

TEST(Statement, ReadsTypedValuesAsTheSuiteMeansThem) {
  TempSuite suite;
  auto db = suite.open();
  db.execute(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, tranday2, paystas, realamt) VALUES "
      "('A1', '2004-10-15', 3, 1500.05, NULL, '2003-09-15', -1, '12.5')");
  Statement st(db, "SELECT payamt, fee, tranday2, paystas, realamt, Unequal, payway FROM KIV8_Payment");
  ASSERT_TRUE(st.step());
  EXPECT_EQ(st.cents(0), 150005);
  EXPECT_EQ(st.cents(1), std::nullopt);
  EXPECT_EQ(st.date_mdy(2), "09/15/2003");
  EXPECT_EQ(st.yes_no_text(3), "True") << "other programs store -1 for true";
  EXPECT_EQ(st.cents(4), 1250);
  EXPECT_EQ(st.yes_no_text(5), "False") << "yes/no columns default to false";
  EXPECT_EQ(st.text(6), "") << "null reads as empty text";
  EXPECT_EQ(st.date_mdy(6), "");

  try {
    Statement(db, "INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('a1', '2004-10-15', 3)").run();
    ADD_FAILURE() << "the unique key must hold across letter case";
  } catch (const DbError& e) {
    EXPECT_EQ(e.error().number, 2067);  // SQLITE_CONSTRAINT_UNIQUE
    EXPECT_FALSE(e.error().environmental);
  }
}

TEST(Values, ProgramDatesBecomeStoredDatesOnlyWhenTheyAreRealDates) {
  EXPECT_EQ(stored_date("2004/10/15"), "2004-10-15");
  EXPECT_EQ(stored_date("10/15/2004"), "2004-10-15");
  EXPECT_EQ(stored_date("2004/02/29"), "2004-02-29");
  for (const char* bad : {"2003/02/29", "2004/13/01", "2004/00/10", "2004/1a/01", "", "2004-10-15", "1/1/2004"}) {
    try {
      stored_date(bad);
      ADD_FAILURE() << bad << " was taken as a date";
    } catch (const DbError& e) {
      EXPECT_EQ(e.error().number, kErrTypeMismatch) << bad;
    }
  }
  EXPECT_EQ(strict_group(" 05 "), 5);
  EXPECT_THROW(strict_group("5a"), DbError);
}

TEST(Transaction, SavepointRollsBackOnlyItsLineAndUncommittedWorkIsRolledBack) {
  TempSuite suite;
  auto db = suite.open();
  {
    Transaction tx(db);
    db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-01', 1)");
    {
      Savepoint line(db, "line");
      db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-02', 2)");
    }
    Savepoint line(db, "line");
    db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-03', 3)");
    line.release();
    tx.commit();
  }
  {
    Transaction tx(db);
    db.execute("DELETE FROM KIV10_Agency");
  }
  EXPECT_EQ(query_text(db, "SELECT group_concat(grpid) FROM (SELECT grpid FROM KIV10_Agency ORDER BY grpid)"), "1,3");
}

}  // namespace
}  // namespace kiv::store
