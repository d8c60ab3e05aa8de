#include "store/compaction.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "store/connection.h"
#include "store/db_error.h"
#include "store/statement.h"

namespace kiv::store {

namespace {

std::vector<std::string> leftovers_of(const SuitePaths& paths) {
  std::vector<std::string> found;
  for (const char* name : {kCompactedCopyName, kBackupCopyName}) {
    const std::string path = paths.mdb_dir() + "/" + name;
    // A folder by that name is not a leftover database: it stays.
    if (regular_file_exists(path)) found.push_back(path);
  }
  return found;
}

// BEGIN EXCLUSIVE ... COMMIT, rolled back by the destructor unless committed.
// Exclusive, so that no other program is reading or writing while leftovers
// are judged and deleted.
class ExclusiveHold {
 public:
  explicit ExclusiveHold(Connection& db) : db_(db) { db_.execute("BEGIN EXCLUSIVE"); }
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;
  ~ExclusiveHold() {
    if (!open_) return;
    try {
      db_.execute("ROLLBACK");
    } catch (const DbError&) {
      // Closing the connection ends the transaction anyway.
    }
  }
  void commit() {
    db_.execute("COMMIT");
    open_ = false;
  }

 private:
  Connection& db_;
  bool open_ = true;
};

bool is_busy(const Error& error) {
  const auto code = error.number & 0xff;
  return error.number > 0 && (code == SQLITE_BUSY || code == SQLITE_LOCKED);
}

// Proves that the database reads whole with the password before anything
// beside it is deleted. The opening check reads only the first page; a file
// damaged further in must not cost the operator a leftover copy.
void prove_whole(Connection& db, const std::string& path) {
  std::string verdict;
  try {
    Statement check(db, "PRAGMA quick_check(1)");
    if (check.step()) verdict = check.text(0);
  } catch (const DbError& e) {
    if (is_busy(e.error())) throw;
    verdict = e.error().description;
  }
  if (verdict != "ok") {
    std::replace(verdict.begin(), verdict.end(), '\n', ' ');  // one line in the message box
    throw DbError(Error{kErrGeneralFailure, "資料庫已損壞 " + path + ": " + verdict, true});
  }
}

std::optional<Error> remove_leftover(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return std::nullopt;
  const int number = errno;
  return Error{number, "無法刪除 " + path + ": " + std::strerror(number), true};
}

std::optional<Error> compact(const SuitePaths& paths, Operator& op, std::optional<int> busy_wait_ms) {
  try {
    Connection db = Connection::open(paths.db_path(), [&op] { op.pump_events(); });
    if (busy_wait_ms) db.set_busy_timeout_ms(*busy_wait_ms);

    const std::vector<std::string> leftovers = leftovers_of(paths);
    if (!leftovers.empty()) {
      // A database that another program is using stops us here, before a
      // leftover is gone, rather than at the VACUUM after it.
      ExclusiveHold hold(db);
      prove_whole(db, paths.db_path());
      for (const std::string& path : leftovers) {
        if (auto error = remove_leftover(path)) return error;
      }
      hold.commit();
    }
    // VACUUM rewrites the file through the journal, so a failure halfway
    // (busy, disk full) rolls it back. SQLCipher keys the rebuilt pages with
    // the connection's key: the password stays. Rows of a table without an
    // INTEGER PRIMARY KEY may get new rowids, in the same order as before.
    db.execute("VACUUM");
  } catch (const DbError& e) {
    return e.error();
  }
  return std::nullopt;
}

}  // namespace

std::optional<Error> compress_mdb(const SuitePaths& paths, Operator& op, std::optional<int> busy_wait_ms) {
  std::optional<Error> error = compact(paths, op, busy_wait_ms);
  if (error) report_error(op, *error);
  return error;
}

}  // namespace kiv::store
