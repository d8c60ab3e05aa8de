// Compacting the suite's database on the way out, on real SQLCipher files.
#include "store/compaction.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "recording_operator.h"
#include "store/connection.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::store {
namespace {

using kiv::testing::query_int;
using kiv::testing::RecordingOperator;
using kiv::testing::slurp;
using kiv::testing::TempSuite;

constexpr int kShortWaitMs = 200;

// Every row of every table, in rowid order, with each value's storage class:
// the compacted file must hold exactly what the old one held.
std::string dump(Connection& db) {
  std::vector<std::string> tables;
  {
    Statement names(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
    while (names.step()) tables.push_back(names.text(0));
  }
  std::string out;
  for (const std::string& table : tables) {
    out += "[" + table + "]\n";
    sqlite3_stmt* rows = nullptr;
    const std::string sql = "SELECT * FROM \"" + table + "\" ORDER BY rowid";
    EXPECT_EQ(sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &rows, nullptr), SQLITE_OK);
    while (sqlite3_step(rows) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(rows); ++c) {
        const int type = sqlite3_column_type(rows, c);
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(rows, c));
        out += std::to_string(type) + ":" + (text != nullptr ? text : "") + "|";
      }
      out += "\n";
    }
    sqlite3_finalize(rows);
  }
  return out;
}

void seed(const TempSuite& suite) {
  suite.exec(
      "INSERT INTO KIV2_School VALUES ('/', '/media/floppy/');"
      "INSERT INTO KIV6_Group VALUES (7, '註冊費');"
      "INSERT INTO KIV7_Student VALUES ('A001', 0, '3', '02', '15'), ('b''02', -1, NULL, '01', '7');"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee, paystas, payway, payday,"
      " pay_record, realamt, unusual) VALUES"
      " ('A001', '2004-10-15', 7, 'P1', '0001234567', 1500.05, 15, 1, '1', '2004-10-15', '1', NULL, ''),"
      " ('b''02', '2004-10-15', 7, 'P2', '0007654321', 2000, 0, 0, NULL, NULL, NULL, 1999.5, 'a');"
      "INSERT INTO KIV9_Payitem VALUES ('A001', '2004-10-15', 7);"
      "INSERT INTO KIV10_Agency VALUES (1, '2004-10-15', 7);");
}

std::vector<std::string> mdb_listing(const TempSuite& suite) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(suite.paths().mdb_dir())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ino_t inode_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_ino;
}

Error open_error(const std::string& path, const std::string& password) {
  try {
    Connection::open(path, {}, password);
  } catch (const DbError& e) {
    return e.error();
  }
  return Error{};
}

// Failure is shown exactly once, as the standard message.
void expect_one_standard_message(const RecordingOperator& op, const Error& error) {
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, standard_error_text(error));
  EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
  EXPECT_EQ(op.messages[0].title, "Tavenor");
}

TEST(Compaction, CompactsInPlaceKeepingEveryRowAndThePassword) {
  TempSuite suite;
  seed(suite);
  const std::string db_path = suite.paths().db_path();
  auto before = suite.open();
  const std::string rows = dump(before);
  const ino_t inode = inode_of(db_path);

  RecordingOperator op;
  EXPECT_EQ(compress_mdb(suite.paths(), op), std::nullopt);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(mdb_listing(suite), std::vector<std::string>{"KIV.mdb"}) << "no temporary file is left";
  EXPECT_EQ(inode_of(db_path), inode) << "the file is rewritten in place, never replaced";

  auto after = suite.open();
  EXPECT_EQ(dump(after), rows);
  EXPECT_EQ(open_error(db_path, "").number, kErrGeneralFailure) << "the compacted file still needs the password";
  EXPECT_EQ(open_error(db_path, "qzmpw").number, kErrGeneralFailure);
  EXPECT_NE(slurp(db_path).substr(0, 16), std::string("SQLite format 3\0", 16));

  // A program that had the file open before the compaction writes into the
  // compacted file, not into a file that no longer has a name.
  before.execute("INSERT INTO KIV9_Payitem VALUES ('C003', '2004-11-15', 8)");
  auto fresh = suite.open();
  EXPECT_EQ(query_int(fresh, "SELECT count(*) FROM KIV9_Payitem WHERE stdid='C003'"), 1);
}

TEST(Compaction, StaleLeftoversAreDeletedAndFoldersLeftAlone) {
  TempSuite suite;
  seed(suite);
  suite.write_file("mdb/kiv2700tmp.mdb", std::string(2048, 'x'));
  suite.write_file("mdb/KIV1.mdb", slurp(suite.paths().db_path()));
  RecordingOperator op;
  EXPECT_EQ(compress_mdb(suite.paths(), op), std::nullopt);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(mdb_listing(suite), std::vector<std::string>{"KIV.mdb"});

  // A folder by a leftover's name is no file of ours.
  suite.write_file("mdb/KIV1.mdb/keep.txt", "keep");
  EXPECT_EQ(compress_mdb(suite.paths(), op), std::nullopt);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb/keep.txt"), "keep");
}

TEST(Compaction, DatabaseThatCannotBeOpenedCostsNoLeftover) {
  const std::string backup = std::string(3000, 'b');
  const std::string temp = std::string(1000, 't');

  auto check_untouched = [&](const TempSuite& suite, const std::string& live, const char* label) {
    RecordingOperator op;
    const std::optional<Error> error = compress_mdb(suite.paths(), op);
    ASSERT_TRUE(error.has_value()) << label;
    EXPECT_EQ(error->number, kErrGeneralFailure) << label;
    expect_one_standard_message(op, *error);
    EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), backup) << label;
    EXPECT_EQ(slurp(suite.root() + "/mdb/kiv2700tmp.mdb"), temp) << label;
    if (live.empty()) {
      EXPECT_FALSE(std::filesystem::exists(suite.paths().db_path())) << label << ": nothing is created";
    } else {
      EXPECT_EQ(slurp(suite.paths().db_path()), live) << label;
    }
  };

  TempSuite missing(false);
  missing.write_file("mdb/KIV1.mdb", backup);
  missing.write_file("mdb/kiv2700tmp.mdb", temp);
  check_untouched(missing, "", "missing");

  TempSuite garbage(false);
  const std::string junk = garbage.write_file("mdb/KIV.mdb", std::string(8192, '\x5a'));
  garbage.write_file("mdb/KIV1.mdb", backup);
  garbage.write_file("mdb/kiv2700tmp.mdb", temp);
  check_untouched(garbage, slurp(junk), "garbage");

  TempSuite other_password(false);
  std::filesystem::create_directories(other_password.paths().mdb_dir());
  Connection::create(other_password.paths().db_path(), "other").execute("CREATE TABLE t (x)");
  other_password.write_file("mdb/KIV1.mdb", backup);
  other_password.write_file("mdb/kiv2700tmp.mdb", temp);
  check_untouched(other_password, slurp(other_password.paths().db_path()), "other password");
}

TEST(Compaction, DatabaseDamagedFurtherInCostsNoLeftover) {
  TempSuite suite;
  {
    auto db = suite.open();
    Transaction t(db);
    Statement insert(db, "INSERT INTO KIV7_Student (stdid, grade) VALUES (?1, ?2)");
    for (int i = 0; i < 2000; ++i) {
      insert.reset();
      insert.bind(1, "S" + std::to_string(i)).bind(2, std::string(100, 'g')).run();
    }
    t.commit();
  }
  const std::string db_path = suite.paths().db_path();
  std::string bytes = slurp(db_path);
  ASSERT_GT(bytes.size(), 100000u);
  // Scramble a page in the middle: the first page, which the opening reads, is intact.
  for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 512; ++i) bytes[i] = static_cast<char>(i * 7);
  std::ofstream(db_path, std::ios::binary | std::ios::trunc) << bytes;
  suite.write_file("mdb/KIV1.mdb", "the backup");

  RecordingOperator op;
  std::optional<Error> error = compress_mdb(suite.paths(), op);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number, kErrGeneralFailure);
  expect_one_standard_message(op, *error);
  EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), "the backup");
  EXPECT_EQ(slurp(db_path), bytes);

  // Without a leftover the compaction itself meets the damage and stops.
  std::filesystem::remove(suite.root() + "/mdb/KIV1.mdb");
  RecordingOperator op2;
  error = compress_mdb(suite.paths(), op2);
  ASSERT_TRUE(error.has_value());
  expect_one_standard_message(op2, *error);
  EXPECT_EQ(slurp(db_path), bytes);
}

TEST(Compaction, DatabaseInUseElsewhereIsLeftAsItWas) {
  TempSuite suite;
  seed(suite);
  const std::string db_path = suite.paths().db_path();
  suite.write_file("mdb/KIV1.mdb", "the backup");

  auto writer = suite.open();
  Transaction pending(writer);
  writer.execute("INSERT INTO KIV9_Payitem VALUES ('W001', '2004-12-15', 9)");
  const std::string bytes = slurp(db_path);

  RecordingOperator op;
  std::optional<Error> error = compress_mdb(suite.paths(), op, kShortWaitMs);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number & 0xff, SQLITE_BUSY);
  expect_one_standard_message(op, *error);
  EXPECT_GT(op.pumps, 0) << "the window stays responsive while waiting";
  EXPECT_EQ(slurp(db_path), bytes);
  EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), "the backup");

  pending.commit();
  auto fresh = suite.open();
  EXPECT_EQ(query_int(fresh, "SELECT count(*) FROM KIV9_Payitem WHERE stdid='W001'"), 1);

  // A reader in the middle of its rows holds the file just as well, with or
  // without a leftover beside it.
  for (bool with_leftover : {true, false}) {
    if (!with_leftover) std::filesystem::remove(suite.root() + "/mdb/KIV1.mdb");
    Statement reading(fresh, "SELECT stdid FROM KIV9_Payitem");
    ASSERT_TRUE(reading.step());
    const std::string held = slurp(db_path);
    RecordingOperator op3;
    error = compress_mdb(suite.paths(), op3, kShortWaitMs);
    ASSERT_TRUE(error.has_value()) << with_leftover;
    EXPECT_EQ(error->number & 0xff, SQLITE_BUSY);
    expect_one_standard_message(op3, *error);
    EXPECT_EQ(slurp(db_path), held);
    if (with_leftover) {
      EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), "the backup");
    }
  }
}

// Runs `body` without the right to delete in a read-only folder: as it is
// when not root, else in a child that has given up root. The body's result
// comes back as the exit status; nullopt when privileges cannot be dropped.
std::optional<int> run_unprivileged(const std::function<int()>& body) {
  if (::geteuid() != 0) return body();
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 99) return std::nullopt;
  return WEXITSTATUS(status);
}

TEST(Compaction, LeftoverThatCannotBeDeletedStopsBeforeCompacting) {
  TempSuite suite;
  seed(suite);
  suite.exec("CREATE TABLE scratch (x); INSERT INTO scratch VALUES (randomblob(200000)); DROP TABLE scratch;");
  suite.write_file("mdb/KIV1.mdb", "the backup");
  const std::string db_path = suite.paths().db_path();
  const std::string bytes = slurp(db_path);
  ::chmod(suite.root().c_str(), 0755);
  ::chmod(db_path.c_str(), 0666);
  ::chmod(suite.paths().mdb_dir().c_str(), 0555);

  // 0 when the failure was the deletion's errno, shown once; else what went wrong.
  const std::optional<int> outcome = run_unprivileged([&] {
    RecordingOperator op;
    const std::optional<Error> error = compress_mdb(suite.paths(), op);
    if (!error) return 1;
    if (op.messages.size() != 1 || op.messages[0].text != standard_error_text(*error)) return 2;
    return error->number == EACCES ? 0 : 3;
  });
  ::chmod(suite.paths().mdb_dir().c_str(), 0755);
  if (!outcome) GTEST_SKIP() << "cannot give up root here";
  EXPECT_EQ(*outcome, 0);
  EXPECT_EQ(slurp(suite.root() + "/mdb/KIV1.mdb"), "the backup");
  EXPECT_EQ(slurp(db_path), bytes) << "no compaction after a failed deletion";
}

TEST(Compaction, FileGrownByDeletedRowsShrinks) {
  TempSuite suite;
  seed(suite);
  auto db = suite.open();
  const std::string kept = dump(db);
  {
    Transaction t(db);
    Statement insert(db, "INSERT INTO KIV7_Student (stdid, grade, clsid) VALUES (?1, ?2, '99')");
    for (int i = 0; i < 20000; ++i) {
      insert.reset();
      insert.bind(1, "T" + std::to_string(i)).bind(2, std::string(200, 'z')).run();
    }
    t.commit();
  }
  db.execute("DELETE FROM KIV7_Student WHERE clsid='99'");
  const auto grown = std::filesystem::file_size(suite.paths().db_path());

  RecordingOperator op;
  EXPECT_EQ(compress_mdb(suite.paths(), op), std::nullopt);
  const auto compacted = std::filesystem::file_size(suite.paths().db_path());
  EXPECT_LT(compacted * 10, grown) << grown << " -> " << compacted;
  auto after = suite.open();
  EXPECT_EQ(dump(after), kept);
}

}  // namespace
}  // namespace kiv::store
