#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "store/connection.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "store/values.h"
#include "temp_suite.h"

namespace kiv::store {
namespace {

using kiv::testing::query_int;
using kiv::testing::query_text;
using kiv::testing::TempSuite;

Error open_error(const std::string& path, const std::string& password = kSuitePassword) {
  try {
    Connection::open(path, {}, password);
  } catch (const DbError& e) {
    return e.error();
  }
  return Error{};
}

TEST(Connection, RefusesWhatIsNotTheSuiteDatabaseWithTheGeneralFailure) {
  TempSuite suite;
  EXPECT_EQ(open_error(suite.paths().db_path(), "wrong").number, kErrGeneralFailure);

  const std::string missing = suite.root() + "/mdb/none.mdb";
  EXPECT_EQ(open_error(missing).number, kErrGeneralFailure);
  EXPECT_FALSE(std::filesystem::exists(missing)) << "opening must never create a file";

  const std::string garbage = suite.write_file("mdb/garbage.mdb", std::string(4096, 'x'));
  EXPECT_EQ(open_error(garbage).number, kErrGeneralFailure);

  EXPECT_EQ(open_error(suite.root() + "/mdb").number, kErrGeneralFailure) << "a folder is not a database";
}

TEST(Connection, DatabaseIsEncryptedOnDisk) {
  TempSuite suite;
  std::ifstream in(suite.paths().db_path(), std::ios::binary);
  std::string head(16, '\0');
  in.read(head.data(), 16);
  EXPECT_NE(head, std::string("SQLite format 3\0", 16));
}

TEST(Statement, ReadsTypedValuesAsTheSuiteMeansThem) {
  TempSuite suite;
  auto db = suite.open();
  db.execute(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, tranday2, paystas, realamt) VALUES "
      "('A1', '2004-10-15', 3, 1500.05, NULL, '2003-09-15', -1, '12.5')");
  Statement st(db, "SELECT payamt, fee, tranday2, paystas, realamt, stdid, Unequal, payway FROM KIV8_Payment");
  ASSERT_TRUE(st.step());
  EXPECT_EQ(st.cents(0), 150005);
  EXPECT_EQ(st.cents(1), std::nullopt);
  EXPECT_EQ(st.date_mdy(2), "09/15/2003");
  EXPECT_EQ(st.yes_no_text(3), "True") << "other programs store -1 for true";
  EXPECT_EQ(st.cents(4), 1250);
  EXPECT_EQ(st.text(5), "A1");
  EXPECT_EQ(st.yes_no_text(6), "False") << "yes/no columns default to false";
  EXPECT_EQ(st.text(7), "") << "null reads as empty text";
  EXPECT_EQ(st.date_mdy(7), "");
  EXPECT_FALSE(st.step());
}

TEST(Statement, BoundValuesAreDataAndCachedStatementsRebind) {
  TempSuite suite;
  auto db = suite.open();
  for (const char* id : {"O'Brien", "x'; DROP TABLE KIV7_Student; --", "plain"}) {
    Statement insert(db, "INSERT INTO KIV7_Student (stdid) VALUES (?1)");
    insert.bind(1, id).run();
  }
  EXPECT_EQ(query_int(db, "SELECT count(*) FROM KIV7_Student"), 3);
  for (const char* id : {"o'brien", "PLAIN"}) {
    Statement find(db, "SELECT stdid FROM KIV7_Student WHERE stdid=?1");
    find.bind(1, id);
    ASSERT_TRUE(find.step()) << id << ": student numbers compare without letter case";
  }
  Statement find(db, "SELECT stdid FROM KIV7_Student WHERE stdid=?1");
  find.bind(1, "nobody");
  EXPECT_FALSE(find.step());
}

TEST(Statement, FailuresCarryTheExtendedCodeAndTheirKind) {
  TempSuite suite;
  auto db = suite.open();
  db.execute("INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('A', '2004-01-01', 1)");
  try {
    Statement dup(db, "INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('a', '2004-01-01', 1)");
    dup.run();
    FAIL() << "the unique key must hold, also across letter case";
  } catch (const DbError& e) {
    EXPECT_EQ(e.error().number, 2067);  // SQLITE_CONSTRAINT_UNIQUE
    EXPECT_FALSE(e.error().environmental);
  }
  EXPECT_THROW(Statement(db, "SELECT nonsense FROM nowhere"), DbError);
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
  EXPECT_THROW(strict_group(""), DbError);
  EXPECT_THROW(strict_group("5a"), DbError);
}

TEST(Transaction, SavepointRollsBackOnlyItsLineAndDestructorRollsBackUncommitted) {
  TempSuite suite;
  {
    auto db = suite.open();
    Transaction tx(db);
    db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-01', 1)");
    {
      Savepoint line(db, "line");
      db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-02', 2)");
    }  // not released: rolled back
    {
      Savepoint line(db, "line");
      db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-03', 3)");
      line.release();
    }
    tx.commit();
  }
  {
    auto db = suite.open();
    Transaction tx(db);
    db.execute("DELETE FROM KIV10_Agency");
  }  // destroyed without commit
  auto db = suite.open();
  EXPECT_EQ(query_text(db, "SELECT group_concat(grpid) FROM (SELECT grpid FROM KIV10_Agency ORDER BY grpid)"), "1,3");
}

TEST(Connection, WaitsForAnotherWriterThenFailsAsBusyLettingTheWindowBreathe) {
  TempSuite suite;
  auto holder = suite.open();
  holder.execute("BEGIN EXCLUSIVE");
  int pumps = 0;
  auto db = Connection::open(suite.paths().db_path(), [&] { ++pumps; });
  db.set_busy_timeout_ms(300);
  try {
    Transaction tx(db);
    FAIL() << "the write lock was granted while another program held it";
  } catch (const DbError& e) {
    EXPECT_EQ(e.error().number & 0xff, 5);  // SQLITE_BUSY
    EXPECT_TRUE(e.error().environmental);
  }
  EXPECT_GE(pumps, 3);

  // Let go within the wait: the writer simply goes on.
  db.set_busy_timeout_ms(5000);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    holder.execute("COMMIT");
  });
  EXPECT_NO_THROW({
    Transaction tx(db);
    tx.commit();
  });
  release.join();
}

}  // namespace
}  // namespace kiv::store
