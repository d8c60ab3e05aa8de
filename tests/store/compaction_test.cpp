#include "store/compaction.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "recording_operator.h"
#include "store/db_error.h"
#include "store/file/file_store.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::store {
namespace {

namespace fs = std::filesystem;
using kiv::testing::query_int;
using kiv::testing::slurp;

std::string dump(Connection& db) {
  std::string out;
  Statement tables(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
  while (tables.step()) {
    const std::string sql = "SELECT * FROM \"" + tables.text(0) + "\" ORDER BY rowid";
    sqlite3_stmt* rows = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(store::file::handle_of(db), sql.c_str(), -1, &rows, nullptr), SQLITE_OK);
    while (sqlite3_step(rows) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(rows); ++c) {
        out += std::to_string(sqlite3_column_type(rows, c)) + ":";
        if (const unsigned char* text = sqlite3_column_text(rows, c)) out += reinterpret_cast<const char*>(text);
        out += "|";
      }
      out += "\n";
    }
    sqlite3_finalize(rows);
  }
  return out;
}

std::string add_students(int count, int bytes) {
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) +
         ") INSERT INTO KIV7_Student (stdid, grade, clsid) SELECT 'T' || i, hex(randomblob(" +
         std::to_string(bytes / 2) + ")), '99' FROM n;";
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
  std::ptrdiff_t files_in_mdb() const {
    return std::distance(fs::directory_iterator(suite.paths().mdb_dir()), fs::directory_iterator());
  }
  std::optional<Error> compact(int busy_wait_ms = 5000) {
    op = {};
    return compress_mdb(suite.paths(), op, busy_wait_ms);
  }
  void expect_failure_shown(const std::optional<Error>& error) {
    ASSERT_TRUE(error.has_value());
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, standard_error_text(*error));
    EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
  }

  kiv::testing::TempSuite suite;
  kiv::testing::RecordingOperator op;
};

TEST_F(Compaction, CompactsInPlaceKeepingEveryRowAndThePassword) {
  const std::string db_path = suite.paths().db_path();
  auto before = suite.open();
  const std::string rows = dump(before);
  struct stat old_file {};
  ::stat(db_path.c_str(), &old_file);

  EXPECT_EQ(compact(), std::nullopt);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(files_in_mdb(), 1) << "no temporary file is left";
  struct stat new_file {};
  ::stat(db_path.c_str(), &new_file);
  EXPECT_EQ(new_file.st_ino, old_file.st_ino) << "rewritten in place, never replaced";

  auto after = suite.open();
  EXPECT_EQ(dump(after), rows);
  for (const char* password : {"", "qzmpw"}) EXPECT_THROW(Connection::open_file(db_path, {}, password), DbError);
  EXPECT_NE(slurp(db_path).substr(0, 16), std::string("SQLite format 3\0", 16));

  before.execute("INSERT INTO KIV9_Payitem VALUES ('C003', '2004-11-15', 8)");
  EXPECT_EQ(query_int(after, "SELECT count(*) FROM KIV9_Payitem WHERE stdid='C003'"), 1);
}

TEST_F(Compaction, StaleLeftoversAreDeletedButFoldersByTheirNamesStay) {
  suite.write_file("mdb/kiv2700tmp.mdb", std::string(2048, 'x'));
  suite.write_file("mdb/KIV1.mdb", slurp(suite.paths().db_path()));
  EXPECT_EQ(compact(), std::nullopt);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(files_in_mdb(), 1);

  suite.write_file("mdb/KIV1.mdb/keep.txt", "keep");
  EXPECT_EQ(compact(), std::nullopt);
  EXPECT_EQ(slurp(mdb("KIV1.mdb/keep.txt")), "keep");
}

TEST_F(Compaction, DatabaseThatCannotBeOpenedOrReadWholeCostsNoLeftover) {
  const std::string db_path = suite.paths().db_path();
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"damaged further in",
       [&] {
         suite.exec(add_students(2000, 100));
         std::string bytes = slurp(db_path);
         for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 512; ++i) bytes[i] = static_cast<char>(i * 7);
         std::ofstream(db_path, std::ios::binary | std::ios::trunc) << bytes;
       }},
      {"other password",
       [&] {
         fs::remove(db_path);
         Connection::create_file(db_path, "other").execute("CREATE TABLE t (x)");
       }},
      {"garbage", [&] { suite.write_file("mdb/KIV.mdb", std::string(8192, 'Z')); }},
      {"zero bytes", [&] { suite.write_file("mdb/KIV.mdb", ""); }},
      {"not the suite's",
       [&] {
         fs::remove(db_path);
         Connection::create_file(db_path).execute("CREATE TABLE t (x)");
       }},
      {"missing", [&] { fs::remove(db_path); }},
  };
  for (const auto& [name, damage] : cases) {
    SCOPED_TRACE(name);
    damage();
    suite.write_file("mdb/KIV1.mdb", "the backup");
    suite.write_file("mdb/kiv2700tmp.mdb", "the temporary copy");
    const std::string bytes = fs::exists(db_path) ? slurp(db_path) : "";

    const std::optional<Error> error = compact();
    expect_failure_shown(error);
    // A file damaged further in opens, and its VACUUM fails on the damage.
    if (std::string(name) != "damaged further in") {
      EXPECT_EQ(error->number, kErrGeneralFailure);
    }
    EXPECT_EQ(slurp(mdb("KIV1.mdb")), "the backup");
    EXPECT_EQ(slurp(mdb("kiv2700tmp.mdb")), "the temporary copy");
    EXPECT_EQ(fs::exists(db_path) ? slurp(db_path) : "", bytes) << "nothing is created or changed";
  }
}

TEST_F(Compaction, DatabaseInUseElsewhereIsLeftAsItWas) {
  const std::string db_path = suite.paths().db_path();
  suite.write_file("mdb/KIV1.mdb", "the backup");
  auto other = suite.open();
  {
    Transaction pending(other);
    other.execute("INSERT INTO KIV9_Payitem VALUES ('W001', '2004-12-15', 9)");
    const std::string bytes = slurp(db_path);
    const std::optional<Error> error = compact(200);
    expect_failure_shown(error);
    EXPECT_EQ(error->number & 0xff, SQLITE_BUSY);
    EXPECT_GT(op.pumps, 0) << "the window stays responsive while waiting";
    EXPECT_EQ(slurp(db_path), bytes);
    EXPECT_EQ(slurp(mdb("KIV1.mdb")), "the backup");
  }

  Statement reading(other, "SELECT stdid FROM KIV7_Student");  // a reader in the middle of its rows
  ASSERT_TRUE(reading.step());
  const std::string bytes = slurp(db_path);
  expect_failure_shown(compact(200));
  EXPECT_EQ(slurp(db_path), bytes);
  EXPECT_EQ(slurp(mdb("KIV1.mdb")), "the backup");
}

TEST_F(Compaction, FileGrownByDeletedRowsShrinks) {
  auto db = suite.open();
  const std::string kept = dump(db);
  db.execute(add_students(20000, 200));
  db.execute("DELETE FROM KIV7_Student WHERE clsid='99'");
  const auto grown = fs::file_size(suite.paths().db_path());
  EXPECT_EQ(compact(), std::nullopt);
  EXPECT_LT(fs::file_size(suite.paths().db_path()) * 10, grown);
  EXPECT_EQ(dump(db), kept);
}

}  // namespace
}  // namespace kiv::store
