#include "store/server/pg_error.h"

namespace kiv::store::server {

namespace {

// SQLite's result codes for the same kinds of failure.
constexpr std::int64_t kGeneric = 1;            // SQLITE_ERROR: no such table or column, a bad statement
constexpr std::int64_t kPermission = 3;         // SQLITE_PERM
constexpr std::int64_t kNoMemory = 7;           // SQLITE_NOMEM
constexpr std::int64_t kReadOnly = 8;           // SQLITE_READONLY
constexpr std::int64_t kInterrupted = 9;        // SQLITE_INTERRUPT
constexpr std::int64_t kIo = 10;                // SQLITE_IOERR
constexpr std::int64_t kCorrupt = 11;           // SQLITE_CORRUPT
constexpr std::int64_t kFull = 13;              // SQLITE_FULL
constexpr std::int64_t kConstraint = 19;        // SQLITE_CONSTRAINT
constexpr std::int64_t kConstraintCheck = 275;  // SQLITE_CONSTRAINT_CHECK
constexpr std::int64_t kConstraintForeignKey = 787;
constexpr std::int64_t kConstraintNotNull = 1299;
constexpr std::int64_t kConstraintUnique = 2067;

bool in_class(std::string_view sqlstate, std::string_view cls) {
  return sqlstate.substr(0, 2) == cls;
}

}  // namespace

Error connection_error(const std::string& message) {
  return Error{kErrGeneralFailure, message.empty() ? "與資料庫伺服器的連線中斷" : message, true};
}

// A constraint, and a value the server cannot take (class 22: text that is
// not valid in the database's encoding, a date or number out of its range),
// are failures of the values a line carries: that line fails and the run goes
// on. So is a statement refused only because an earlier failing statement of
// the same line left the transaction aborted; the line's savepoint undoes it.
// Everything else lies in the server or the way to it.
Error server_error(std::string_view sqlstate, const std::string& message) {
  if (sqlstate.size() != 5) return connection_error(message);
  if (in_class(sqlstate, "23")) {
    std::int64_t number = kConstraint;
    if (sqlstate == "23505") number = kConstraintUnique;
    if (sqlstate == "23502") number = kConstraintNotNull;
    if (sqlstate == "23503") number = kConstraintForeignKey;
    if (sqlstate == "23514") number = kConstraintCheck;
    return Error{number, message, false};
  }
  if (in_class(sqlstate, "22")) return Error{kErrTypeMismatch, message, false};
  if (sqlstate == "25P02") return Error{kGeneric, message, false};
  // Another workstation's lock outlasted the wait, or two waited on each other.
  if (sqlstate == "55P03" || sqlstate == "40P01" || sqlstate == "40001") return Error{kBusyNumber, kBusyText, true};
  if (in_class(sqlstate, "08") || sqlstate == "57P01" || sqlstate == "57P02" || sqlstate == "57P03") {
    return connection_error(message);
  }
  std::int64_t number = kGeneric;
  if (sqlstate == "57014") number = kInterrupted;
  if (sqlstate == "53100") number = kFull;
  if (sqlstate == "53200") number = kNoMemory;
  if (sqlstate == "42501") number = kPermission;
  if (sqlstate == "25006") number = kReadOnly;
  if (in_class(sqlstate, "58")) number = kIo;
  if (in_class(sqlstate, "XX")) number = kCorrupt;
  return Error{number, message, true};
}

}  // namespace kiv::store::server
