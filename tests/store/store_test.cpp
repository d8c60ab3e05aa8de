#include <gtest/gtest.h>

#include <tuple>

#include "core/money.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "store/values.h"
#include "temp_suite.h"

namespace kiv::store {
namespace {

TEST(Statement, ReadsTypedValuesAsTheSuiteMeansThem) {
  kiv::testing::TempSuite suite;
  auto db = suite.open();
  db.execute(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, tranday2, paystas, realamt) VALUES "
      "('A1', '2004-10-15', 3, 0.29, NULL, '2003-09-15', -1, '12.5')");
  Statement st(db, "SELECT payamt, fee, tranday2, paystas, realamt, Unequal, payway FROM KIV8_Payment");
  ASSERT_TRUE(st.step());
  EXPECT_EQ(st.cents(0), 29) << "a floating-point amount is rounded to the hundredth, not cut";
  EXPECT_EQ(st.cents(1), std::nullopt);
  EXPECT_EQ(st.cents(4), 1250);
  EXPECT_EQ(st.date_mdy(2) + "|" + st.date_mdy(6), "09/15/2003|");
  EXPECT_EQ(st.yes_no_text(3) + st.yes_no_text(5) + st.text(6), "TrueFalse") << "-1 is true too; null reads empty";
  try {
    Statement(db, "INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('a1', '2004-10-15', 3)").run();
    ADD_FAILURE() << "the unique key must hold across letter case";
  } catch (const DbError& e) {
    EXPECT_EQ(e.error().number, 2067);  // SQLITE_CONSTRAINT_UNIQUE
    EXPECT_FALSE(e.error().environmental);
  }
}

TEST(Values, ProgramDatesBecomeStoredDatesOnlyWhenTheyAreRealDatesAndGroupsOnlyWhenWholeNumbers) {
  EXPECT_EQ(stored_date("2004/10/15") + stored_date("10/15/2004") + stored_date("2004/02/29"),
            "2004-10-152004-10-152004-02-29");
  for (const char* bad : {"2003/02/29", "2004/13/01", "2004/00/10", "2004/1a/01", "", "2004-10-15", "1/1/2004"}) {
    EXPECT_THROW(stored_date(bad), DbError) << bad;
  }
  EXPECT_EQ(strict_group(" 05 "), 5);
  for (const char* bad : {"5a", "", "7 8"}) EXPECT_THROW(strict_group(bad), DbError) << bad;
}

TEST(Transaction, SavepointRollsBackOnlyItsLineAndUncommittedWorkIsRolledBack) {
  kiv::testing::TempSuite suite;
  auto db = suite.open();
  {
    Transaction tx(db);
    db.execute("INSERT INTO KIV10_Agency (grpid) VALUES (1)");
    {
      Savepoint line(db, "line");
      db.execute("INSERT INTO KIV10_Agency (grpid) VALUES (2)");
    }
    Savepoint line(db, "line");
    db.execute("INSERT INTO KIV10_Agency (grpid) VALUES (3)");
    line.release();
    tx.commit();
  }
  {
    Transaction tx(db);
    db.execute("DELETE FROM KIV10_Agency");
  }
  EXPECT_EQ(kiv::testing::query_rows(db, "SELECT grpid FROM KIV10_Agency ORDER BY grpid"), "1 | 3");
}

TEST(Money, TextFormsReadBackExactlyNothingElseParsesAndTheWholeNumberIsAHalfToEven) {
  const std::tuple<kiv::Cents, const char*, const char*> forms[] = {
      {150000, "1500.0", "1500"},     {1205, "12.05", "12.05"}, {1250, "12.50", "12.50"}, {0, "0.0", "0"},
      {151505, "1515.05", "1515.05"}, {-350, "-3.50", "-3.50"}};
  for (const auto& [cents, amount, plain] : forms) {
    EXPECT_EQ(amount_text(cents) + " " + plain_decimal(cents), std::string(amount) + " " + plain);
    EXPECT_TRUE(parse_decimal(amount) == cents && parse_decimal(plain) == cents) << amount;
  }
  EXPECT_EQ(parse_decimal("100.5"), 10050);
  for (const char* bad : {"", "-", ".", "1.234", "12a", " 12", "1e3", "99999999999999999999"}) {
    EXPECT_EQ(parse_decimal(bad), std::nullopt) << bad;
  }
  const std::pair<kiv::Cents, std::int64_t> rounding[] = {{10050, 100}, {10150, 102},   {10051, 101},
                                                          {10049, 100}, {-10050, -100}, {-10150, -102}};
  for (const auto& [cents, whole] : rounding) EXPECT_EQ(round_half_even(cents), whole) << cents;
  EXPECT_EQ(group_digits(999) + " " + group_digits(1234567), "999 1,234,567");
}

}  // namespace
}  // namespace kiv::store
