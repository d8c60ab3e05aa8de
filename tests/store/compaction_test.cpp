#include "store/compaction.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "recording_operator.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::store {
namespace {

namespace fs = std::filesystem;
using kiv::testing::query_rows;
using kiv::testing::slurp;

std::string dump(Connection& db) {
  std::string out;
  for (const char* table : {"KIV2_School", "KIV7_Student", "KIV8_Payment", "KIV9_Payitem"}) {
    out += query_rows(db, std::string("SELECT * FROM ") + table + " ORDER BY rowid") + "\n";
  }
  return out;
}

// Students of 200 bytes each, in class 99.
std::string add_students(int count) {
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) +
         ") INSERT INTO KIV7_Student (stdid, grade, clsid) SELECT 'T' || i, hex(randomblob(100)), '99' FROM n;";
}

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
  const std::string rows = dump(before);
  before.execute(add_students(5000));
  before.execute("DELETE FROM KIV7_Student WHERE clsid='99'");
  const auto grown = fs::file_size(db_path);
  suite.write_file("mdb/kiv2700tmp.mdb", std::string(2048, 'x'));
  suite.write_file("mdb/KIV1.mdb", slurp(db_path));
  struct stat old_file {};
  ::stat(db_path.c_str(), &old_file);

  EXPECT_EQ(compact(), std::nullopt);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(suite.paths().mdb_dir()), {}), 1) << "no leftover, no copy";
  EXPECT_LT(fs::file_size(db_path) * 10, grown);
  struct stat new_file {};
  ::stat(db_path.c_str(), &new_file);
  EXPECT_EQ(new_file.st_ino, old_file.st_ino) << "rewritten in place, never replaced";
  auto after = suite.open();
  EXPECT_EQ(dump(after), rows);
  for (const char* password : {"", "qzmpw"}) EXPECT_THROW(Connection::open(db_path, {}, password), DbError);
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
      {"written by another program",
       [&] {
         pending.emplace(other);
         other.execute("INSERT INTO KIV9_Payitem VALUES ('W001', '2004-12-15', 9)");
       },
       SQLITE_BUSY},
      {"garbage", [&] { pending.reset(), suite.write_file("mdb/KIV.mdb", std::string(8192, 'Z')); },
       kErrGeneralFailure},
      {"missing", [&] { fs::remove(db_path); }, kErrGeneralFailure},
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

}  // namespace
}  // namespace kiv::store
