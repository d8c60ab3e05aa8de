#include "store/compaction.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "store/connection.h"
#include "store/db_error.h"
#include "store/store_choice.h"

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

std::optional<Error> remove_leftover(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return std::nullopt;
  const int number = errno;
  return Error{number, "無法刪除 " + path + ": " + std::strerror(number), true};
}

std::optional<Error> compact(const SuitePaths& paths, Operator& op, std::optional<int> busy_wait_ms) {
  try {
    // Opening refuses a file that is not the suite's database: nothing is
    // ever written into it.
    Connection db = Connection::open_file(paths.db_path(), [&op] { op.pump_events(); });
    if (busy_wait_ms) db.set_busy_timeout_ms(*busy_wait_ms);
    // VACUUM rewrites the file through the journal, so a failure halfway
    // (busy, disk full, a damaged page) rolls it back. SQLCipher keys the
    // rebuilt pages with the connection's key: the password stays. Rows of a
    // table without an INTEGER PRIMARY KEY may get new rowids, in the same
    // order as before.
    db.execute("VACUUM");
  } catch (const DbError& e) {
    return e.error();
  }
  // Leftovers of an interrupted earlier compaction go only now: until the
  // database has been read whole and rewritten, one of them may be the only
  // good copy.
  for (const std::string& path : leftovers_of(paths)) {
    if (auto error = remove_leftover(path)) return error;
  }
  return std::nullopt;
}

}  // namespace

bool compaction_applies(const SuitePaths& paths) {
  return !uses_server(paths);
}

std::optional<Error> compress_mdb(const SuitePaths& paths, Operator& op, std::optional<int> busy_wait_ms) {
  if (!compaction_applies(paths)) return std::nullopt;
  std::optional<Error> error = compact(paths, op, busy_wait_ms);
  if (error) report_error(op, *error);
  return error;
}

}  // namespace kiv::store
