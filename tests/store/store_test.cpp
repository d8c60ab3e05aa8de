#include <gtest/gtest.h>

#include "recording_operator.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "store/values.h"
#include "store_text.h"
#include "temp_suite.h"
#include "workstations.h"

namespace kiv::store {
namespace {

using kiv::testing::OnEachStore;
using kiv::testing::query_text;
using kiv::testing::StoreKind;
using kiv::testing::TempSuite;

class OneStore : public OnEachStore {};
KIV_ON_EACH_STORE(OneStore);

std::string column_of_rows(Connection& db, const std::string& sql, const char* bind = nullptr) {
  Statement st(db, sql);
  if (bind != nullptr) st.bind(1, bind);
  std::string out;
  while (st.step()) out += (out.empty() ? "" : ",") + (st.is_null(0) ? std::string("NULL") : st.text(0));
  return out;
}

TEST_P(OneStore, ReadsTypedValuesAsTheSuiteMeansThem) {
  TempSuite suite(store());
  auto db = suite.open();
  db.execute(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, tranday2, paystas, realamt) VALUES "
      "('A1', '2004-10-15', 3, 1500.05, NULL, '2003-09-15', -1, '12.5')");
  Statement st(db, "SELECT payamt, fee, tranday2, paystas, realamt, Unequal, payway, grpid FROM KIV8_Payment");
  ASSERT_TRUE(st.step());
  EXPECT_EQ(st.cents(0), 150005);
  EXPECT_EQ(st.cents(1), std::nullopt);
  EXPECT_EQ(st.date_mdy(2), "09/15/2003");
  EXPECT_EQ(st.yes_no_text(3), "True") << "other programs store -1 for true";
  EXPECT_EQ(st.cents(4), 1250);
  EXPECT_EQ(st.yes_no_text(5), "False") << "yes/no columns default to false";
  EXPECT_EQ(st.text(6), "") << "null reads as empty text";
  EXPECT_EQ(st.date_mdy(6), "");
  EXPECT_EQ(st.integer(7), 3);

  try {
    Statement(db, "INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('a1', '2004-10-15', 3)").run();
    ADD_FAILURE() << "the unique key must hold across letter case";
  } catch (const DbError& e) {
    EXPECT_EQ(e.error().number, 2067);  // SQLite's unique constraint, on both
    EXPECT_FALSE(e.error().environmental);
  }
  try {
    Statement(db, "SELECT * FROM KIV99_Nowhere LIMIT 0").step();
    ADD_FAILURE() << "a missing table must fail";
  } catch (const DbError& e) {
    EXPECT_EQ(e.error().number, 1) << "how the schema check knows a missing table";
    EXPECT_TRUE(e.error().environmental);
  }
}

// Keys compare and order as SQLite's NOCASE does on both stores: ASCII letters
// folded, every other byte as it is; RIGHT counts characters; NULLSFIRST.
TEST_P(OneStore, KeysCompareAndOrderAlikeOnBothStores) {
  TempSuite suite(store());
  auto db = suite.open();
  const char* keys[] = {"b", "A", "a_", "B1", "_x", "Z", "[", "é", "É", "OF0001234567", "abc"};
  for (const char* key : keys) {
    Statement st(db, "INSERT INTO KIV8_Payment (stdid, tranday, grpid, offno) VALUES (?1, '2004-10-15', 1, ?1)");
    st.bind(1, key).run();
  }
  db.execute("INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES (NULL, '2004-10-16', 1)");
  const struct {
    const char *sql, *bind, *expected;
  } cases[] = {
      {"SELECT stdid FROM KIV8_Payment ORDER BY CI(stdid) NULLSFIRST, rowid", nullptr,
       "NULL,[,_x,A,a_,abc,b,B1,OF0001234567,Z,É,é"},
      {"SELECT stdid FROM KIV8_Payment WHERE CI(stdid)=CI(?1) ORDER BY rowid", "a", "A"},
      {"SELECT stdid FROM KIV8_Payment WHERE CI(stdid)=CI(?1) ORDER BY rowid", "of0001234567", "OF0001234567"},
      {"SELECT stdid FROM KIV8_Payment WHERE CI(stdid)=CI(?1) ORDER BY rowid", "é", "é"},
      {"SELECT RIGHT(offno,7) FROM KIV8_Payment WHERE CI(stdid) IN (CI('OF0001234567'),CI('abc'),CI('é')) "
       "ORDER BY rowid",
       nullptr, "é,1234567,abc"},
      {"SELECT stdid FROM KIV8_Payment WHERE CI(RIGHT(offno,7))=CI(?1) ORDER BY rowid", "1234567", "OF0001234567"},
      {"SELECT count(*) FROM KIV8_Payment WHERE CI(stdid) IN (SELECT CI(coalesce(trim(stdid),'')) FROM "
       "KIV8_Payment WHERE CI(stdid) IN (CI('B'),CI('b1')))",
       nullptr, "2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(column_of_rows(db, c.sql, c.bind), c.expected);
  }
}

TEST_P(OneStore, SavepointRollsBackOnlyItsLineAndUncommittedWorkIsRolledBack) {
  TempSuite suite(store());
  auto db = suite.open();
  {
    Transaction tx(db);
    db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-01', 1)");
    {
      Savepoint line(db, "line");
      db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-02', 2)");
    }
    {
      // A failing statement leaves the line to be rolled back; the
      // transaction goes on with the next line.
      Savepoint line(db, "line");
      db.execute("INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('X', '2004-01-02', 2)");
      EXPECT_THROW(db.execute("INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('x', '2004-01-02', 2)"),
                   DbError);
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
  EXPECT_EQ(column_of_rows(db, "SELECT grpid FROM KIV10_Agency ORDER BY rowid"), "1,3");
  EXPECT_EQ(kiv::testing::count_rows(db, "KIV8_Payment"), 0);
}

// Another workstation's writing transaction is waited for, the window's
// events pumped meanwhile, and then fails as busy alike on both stores.
TEST_P(OneStore, WriterWaitsForAnotherWriterThenFailsAsBusy) {
  TempSuite suite(store());
  kiv::testing::HeldWriteLock other(suite);
  other.write("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-01', 1)");
  kiv::testing::RecordingOperator op;
  auto db = Connection::open(suite.paths(), [&op] { op.pump_events(); });
  db.set_busy_timeout_ms(400);
  const auto started = std::chrono::steady_clock::now();
  try {
    Transaction tx(db);
    db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-02', 2)");
    ADD_FAILURE() << "a second writer must wait and fail";
  } catch (const DbError& e) {
    EXPECT_EQ(e.error().number, 5);
    EXPECT_EQ(e.error().description, "database is locked");
    EXPECT_TRUE(e.error().environmental);
  }
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, std::chrono::milliseconds(380));
  EXPECT_GE(op.pumps, 400 / 50 - 2) << "the window's events are pumped while waiting";
  other.release();
  EXPECT_TRUE(kiv::testing::write_lock_free(suite));
  Transaction tx(db);  // the same connection serves again
  db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-02', 2)");
  tx.commit();
  EXPECT_EQ(column_of_rows(db, "SELECT grpid FROM KIV10_Agency ORDER BY rowid"), "2");
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

TEST(Render, ParametersAndTheCommonSqlBecomeEachStoresOwn) {
  const struct {
    const char* sql;
    const char *file, *server;
    std::vector<int> slot;
  } cases[] = {
      {"x=?3 and y=?1 and z=?3", "x=?3 and y=?1 and z=?3", "x=$1 and y=$2 and z=$1", {-1, 1, -1, 0}},
      {"CI(a.stdid)=CI(?1)",
       "a.stdid COLLATE NOCASE=?1 COLLATE NOCASE",
       "lower((a.stdid)::text COLLATE \"C\")=lower(($1)::text COLLATE \"C\")",
       {-1, 0}},
      {"CI(RIGHT(offno,7))", "substr(offno,-(7)) COLLATE NOCASE", "lower((right(offno,7))::text COLLATE \"C\")", {}},
      {"order by payamt NULLSFIRST", "order by payamt ", "order by payamt NULLS FIRST", {}},
      {"x='?1 CI(' and y=?2", "x='?1 CI(' and y=?2", "x='?1 CI(' and y=$1", {-1, -1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(render(c.sql, Dialect::file).text, c.file);
    const RenderedSql server = render(c.sql, Dialect::server);
    EXPECT_EQ(server.text, c.server);
    EXPECT_EQ(server.slot, c.slot);
  }
}

}  // namespace
}  // namespace kiv::store
