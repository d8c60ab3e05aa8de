#include "store/statement.h"

#include <sqlite3.h>

#include <cmath>

#include "core/text.h"
#include "store/db_error.h"
#include "store/sqlite_error.h"
#include "store/values.h"

namespace kiv::store {

namespace {

[[noreturn]] void throw_last(sqlite3* db, int rc) {
  throw DbError(sqlite_error(rc, sqlite3_errmsg(db)));
}

}  // namespace

Statement::Statement(Connection& connection, std::string_view sql) : connection_(connection), sql_(sql) {
  stmt_ = connection.take_cached(sql_);
  if (stmt_ != nullptr) return;
  const int rc = sqlite3_prepare_v2(connection.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    throw_last(connection.handle(), rc);
  }
}

Statement::~Statement() {
  if (stmt_ != nullptr) connection_.give_back(sql_, stmt_);
}

void Statement::check_bind(int rc, int index) {
  if (rc != SQLITE_OK) {
    throw DbError(sqlite_error(rc, "參數 " + std::to_string(index) + ": " + sqlite3_errmsg(connection_.handle())));
  }
}

Statement& Statement::bind(int index, std::string_view text) {
  check_bind(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT), index);
  return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
  check_bind(sqlite3_bind_int64(stmt_, index, value), index);
  return *this;
}

Statement& Statement::bind_null(int index) {
  check_bind(sqlite3_bind_null(stmt_, index), index);
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  // Leave the statement reusable and report the real cause.
  const int ext = sqlite3_extended_errcode(connection_.handle());
  const std::string message = sqlite3_errmsg(connection_.handle());
  sqlite3_reset(stmt_);
  throw DbError(sqlite_error(ext != SQLITE_OK ? ext : rc, message));
}

std::int64_t Statement::run() {
  while (step()) {
  }
  return sqlite3_changes(connection_.handle());
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool Statement::is_null(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::string Statement::text(int column) const {
  const auto* bytes = sqlite3_column_text(stmt_, column);
  if (bytes == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(bytes),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::string Statement::yes_no_text(int column) const {
  switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_NULL:
      return {};
    case SQLITE_INTEGER:
      return sqlite3_column_int64(stmt_, column) != 0 ? "True" : "False";
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt_, column) != 0.0 ? "True" : "False";
    default: {
      const std::string value = trim(text(column));
      if (value == "True" || value == "true" || value == "TRUE") return "True";
      if (value == "False" || value == "false" || value == "FALSE") return "False";
      return numeric_value(value) != 0 ? "True" : "False";
    }
  }
}

std::optional<Cents> Statement::cents(int column) const {
  switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_NULL:
      return std::nullopt;
    case SQLITE_INTEGER: {
      const std::int64_t whole = sqlite3_column_int64(stmt_, column);
      if (whole > 90'000'000'000'000'000LL || whole < -90'000'000'000'000'000LL) throw_type_mismatch("金額過大");
      return whole * 100;
    }
    case SQLITE_FLOAT: {
      const double value = sqlite3_column_double(stmt_, column);
      if (!std::isfinite(value) || std::fabs(value) > 9.0e15) throw_type_mismatch("金額過大");
      return static_cast<Cents>(std::llround(value * 100.0));
    }
    default: {
      const auto parsed = parse_decimal(trim(text(column)));
      if (!parsed) throw_type_mismatch("金額 '" + text(column) + "'");
      return *parsed;
    }
  }
}

std::int64_t Statement::integer(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

std::string Statement::date_mdy(int column) const {
  if (is_null(column)) return {};
  return mdy_from_stored_date(trim(text(column)));
}

}  // namespace kiv::store
