#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "core/money.h"
#include "recording_operator.h"
#include "store/compaction.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "store/values.h"
#include "store_text.h"
#include "temp_suite.h"
#include "tool_run.h"
#include "workstations.h"

namespace kiv::store {
namespace {

namespace fs = std::filesystem;
using kiv::testing::OnEachStore;
using kiv::testing::query_rows;
using kiv::testing::slurp;
using kiv::testing::StoreKind;
using kiv::testing::TempSuite;

class Compaction : public ::testing::Test {
 protected:
  Compaction() {
    suite.exec(
        "INSERT INTO KIV2_School VALUES ('/', '/media/floppy/');"
        "INSERT INTO KIV7_Student VALUES ('A001', 0, '3', '02', '15'), ('b''02', -1, NULL, '01', '7');"
        "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, payamt, fee, paystas, payway, realamt) VALUES"
        " ('A001', '2004-10-15', 7, 'P1', 1500.05, 15, 1, '1', NULL), ('b''02', '2004-10-15', 7, 'P2', 2000, 0,"
        " 0, NULL, 1999.5);");
  }
  std::string mdb(const char* name) const { return suite.paths().mdb_dir() + "/" + name; }
  std::optional<Error> compact(int busy_wait_ms = 5000) {
    op = {};
    return compress_mdb(suite.paths(), op, busy_wait_ms);
  }

  kiv::testing::TempSuite suite;
  kiv::testing::RecordingOperator op;
};

TEST_F(Compaction, ShrinksTheFileInPlaceKeepingEveryRowAndThePasswordAndDropsStaleLeftovers) {
  const std::string db_path = suite.paths().db_path();
  auto before = suite.open();
  const std::string rows = kiv::testing::all_rows(before);
  before.execute(  // 5000 students of 200 bytes each, gone again
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) INSERT INTO KIV7_Student "
      "(stdid, grade, clsid) SELECT 'T' || i, hex(randomblob(100)), '99' FROM n; DELETE FROM KIV7_Student WHERE "
      "clsid='99'");
  const auto grown = fs::file_size(db_path);
  suite.write_file("mdb/kiv2700tmp.mdb", std::string(2048, 'x'));
  suite.write_file("mdb/KIV1.mdb", slurp(db_path));
  struct stat old_file {
  }, new_file{};
  ::stat(db_path.c_str(), &old_file);

  EXPECT_TRUE(compact() == std::nullopt && op.messages.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(suite.paths().mdb_dir()), {}), 1) << "no leftover, no copy";
  EXPECT_LT(fs::file_size(db_path) * 10, grown);
  ::stat(db_path.c_str(), &new_file);
  EXPECT_EQ(new_file.st_ino, old_file.st_ino) << "rewritten in place, never replaced";
  auto after = suite.open();
  EXPECT_EQ(kiv::testing::all_rows(after), rows);
  for (const char* password : {"", "qzmpw"}) EXPECT_THROW(Connection::open_file(db_path, {}, password), DbError);
  EXPECT_NE(slurp(db_path).substr(0, 16), std::string("SQLite format 3\0", 16));
  before.execute("INSERT INTO KIV9_Payitem VALUES ('C003', '2004-11-15', 8)");
  EXPECT_EQ(query_rows(after, "SELECT count(*) FROM KIV9_Payitem WHERE stdid='C003'"), "1");

  suite.write_file("mdb/KIV1.mdb/keep.txt", "keep");
  EXPECT_EQ(compact(), std::nullopt);
  EXPECT_EQ(slurp(mdb("KIV1.mdb/keep.txt")), "keep") << "a folder by a leftover's name is no leftover";
}

TEST_F(Compaction, DatabaseThatCannotBeOpenedOrIsInUseIsLeftAsItWasWithEveryLeftover) {
  const std::string db_path = suite.paths().db_path();
  auto other = suite.open();
  std::optional<Transaction> pending;
  const struct {
    const char* name;
    std::function<void()> spoil;
    int number;  // the error number, or its low byte for a busy database
  } cases[] = {
      // clang-format off
      {"written by another program", [&] {
         pending.emplace(other);
         other.execute("INSERT INTO KIV9_Payitem VALUES ('W001', '2004-12-15', 9)");
       }, SQLITE_BUSY},
      {"garbage", [&] { pending.reset(), suite.write_file("mdb/KIV.mdb", std::string(8192, 'Z')); }, kErrGeneralFailure},
      {"missing", [&] { fs::remove(db_path); }, kErrGeneralFailure},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.spoil();
    suite.write_file("mdb/KIV1.mdb", "the backup");
    suite.write_file("mdb/kiv2700tmp.mdb", "the temporary copy");
    const std::string bytes = fs::exists(db_path) ? slurp(db_path) : "";
    const std::optional<Error> error = compact(200);
    ASSERT_TRUE(error.has_value() && op.messages.size() == 1);
    EXPECT_TRUE(op.messages[0].text == standard_error_text(*error) && op.messages[0].icon == MessageIcon::critical);
    EXPECT_EQ(c.number == SQLITE_BUSY ? error->number & 0xff : error->number, c.number);
    EXPECT_TRUE(c.number != SQLITE_BUSY || op.pumps > 0) << "the window stays responsive while waiting";
    EXPECT_EQ(slurp(mdb("KIV1.mdb")) + "|" + slurp(mdb("kiv2700tmp.mdb")), "the backup|the temporary copy");
    EXPECT_EQ(fs::exists(db_path) ? slurp(db_path) : "", bytes) << "nothing is created or changed";
  }
}

class OneStore : public OnEachStore {};
KIV_ON_EACH_STORE(OneStore);

// The first column of every row, joined by ",".
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
      "('A1', '2004-10-15', 3, 0.29, NULL, '2003-09-15', -1, '12.5')");
  Statement st(db, "SELECT payamt, fee, tranday2, paystas, realamt, Unequal, payway, grpid FROM KIV8_Payment");
  ASSERT_TRUE(st.step());
  // A floating-point amount rounds to the hundredth; other programs store -1
  // for true; yes/no columns default to false; null reads as empty text.
  EXPECT_EQ(std::to_string(st.cents(0).value_or(-1)) + " " + std::to_string(st.cents(1).value_or(-1)) + " " +
                st.date_mdy(2) + " " + st.yes_no_text(3) + " " + std::to_string(st.cents(4).value_or(-1)) + " " +
                st.yes_no_text(5) + " [" + st.text(6) + st.date_mdy(6) + "] " + std::to_string(st.integer(7)),
            "29 -1 09/15/2003 True 1250 False [] 3");
  try {
    Statement(db, "INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('a1', '2004-10-15', 3)").run();
    ADD_FAILURE() << "the unique key must hold across letter case";
  } catch (const DbError& e) {
    EXPECT_TRUE(e.error().number == 2067 && !e.error().environmental);  // SQLite's unique constraint, on both
  }
  try {
    Statement(db, "SELECT * FROM KIV99_Nowhere LIMIT 0").step();
    ADD_FAILURE() << "a missing table must fail";
  } catch (const DbError& e) {
    EXPECT_TRUE(e.error().number == 1 && e.error().environmental) << "how the schema check knows a missing table";
  }
}

// Keys compare and order as SQLite's NOCASE does on both stores: ASCII letters
// folded, every other byte as it is; RIGHT counts characters; NULLSFIRST.
TEST_P(OneStore, KeysCompareAndOrderAlikeOnBothStores) {
  TempSuite suite(store());
  auto db = suite.open();
  const char* keys[] = {"b", "A", "a_", "B1", "_x", "Z", "[", "é", "É", "OF0001234567", "abc"};
  for (const char* key : keys)
    Statement(db, "INSERT INTO KIV8_Payment (stdid, tranday, grpid, offno) VALUES (?1, '2004-10-15', 1, ?1)")
        .bind(1, key)
        .run();
  db.execute("INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES (NULL, '2004-10-16', 1)");
  const char* by_key = "SELECT stdid FROM KIV8_Payment WHERE CI(stdid)=CI(?1) ORDER BY rowid";
  const struct {
    const char *sql, *bind, *expected;
  } cases[] = {
      {"SELECT stdid FROM KIV8_Payment ORDER BY CI(stdid) NULLSFIRST, rowid", nullptr,
       "NULL,[,_x,A,a_,abc,b,B1,OF0001234567,Z,É,é"},
      {by_key, "a", "A"},
      {by_key, "of0001234567", "OF0001234567"},
      {by_key, "é", "é"},
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
    EXPECT_TRUE(e.error().number == 5 && e.error().description == "database is locked" && e.error().environmental);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(380));
  EXPECT_GE(op.pumps, 400 / 50 - 2) << "the window's events are pumped while waiting";
  other.release();
  EXPECT_TRUE(kiv::testing::write_lock_free(suite));
  Transaction tx(db);  // the same connection serves again
  db.execute("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2004-01-02', 2)");
  tx.commit();
  EXPECT_EQ(column_of_rows(db, "SELECT grpid FROM KIV10_Agency ORDER BY rowid"), "2");
}

TEST(Values, ProgramDatesBecomeStoredDatesOnlyWhenTheyAreRealDatesAndGroupsOnlyWhenWholeNumbers) {
  EXPECT_EQ(stored_date("2004/10/15") + stored_date("10/15/2004") + stored_date("2004/02/29"),
            "2004-10-152004-10-152004-02-29");
  for (const char* bad : {"2003/02/29", "2004/13/01", "2004/00/10", "2004/1a/01", "", "2004-10-15", "1/1/2004"})
    EXPECT_THROW(stored_date(bad), DbError) << bad;
  EXPECT_EQ(strict_group(" 05 "), 5);
  for (const char* bad : {"5a", "", "7 8"}) EXPECT_THROW(strict_group(bad), DbError) << bad;
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
  for (const char* bad : {"", "-", ".", "1.234", "12a", " 12", "1e3", "99999999999999999999"})
    EXPECT_EQ(parse_decimal(bad), std::nullopt) << bad;
  const std::pair<kiv::Cents, std::int64_t> rounding[] = {{10050, 100}, {10150, 102},   {10051, 101},
                                                          {10049, 100}, {-10050, -100}, {-10150, -102}};
  for (const auto& [cents, whole] : rounding) EXPECT_EQ(round_half_even(cents), whole) << cents;
  EXPECT_EQ(group_digits(999) + " " + group_digits(1234567), "999 1,234,567");
}

TEST(Render, ParametersAndTheCommonSqlBecomeEachStoresOwn) {
  const struct {
    const char* sql;
    const char *file, *server;
    std::vector<int> slot;
  } cases[] = {
      // clang-format off
      {"x=?3 and y=?1 and z=?3", "x=?3 and y=?1 and z=?3", "x=$1 and y=$2 and z=$1", {-1, 1, -1, 0}},
      {"CI(a.stdid)=CI(?1)", "a.stdid COLLATE NOCASE=?1 COLLATE NOCASE",
       "lower((a.stdid)::text COLLATE \"C\")=lower(($1)::text COLLATE \"C\")", {-1, 0}},
      {"CI(RIGHT(offno,7))", "substr(offno,-(7)) COLLATE NOCASE", "lower((right(offno,7))::text COLLATE \"C\")", {}},
      {"order by payamt NULLSFIRST", "order by payamt ", "order by payamt NULLS FIRST", {}},
      {"x='?1 CI(' and y=?2", "x='?1 CI(' and y=?2", "x='?1 CI(' and y=$1", {-1, -1, 0}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const RenderedSql server = render(c.sql, Dialect::server);
    EXPECT_EQ(render(c.sql, Dialect::file).text + "\n" + server.text, std::string(c.file) + "\n" + c.server);
    EXPECT_EQ(server.slot, c.slot);
  }
}

}  // namespace
}  // namespace kiv::store
