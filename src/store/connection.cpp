#include "store/connection.h"

#include <unordered_set>

#include "store/backend.h"
#include "store/db_error.h"
#include "store/file/file_store.h"
#include "store/server/conninfo.h"
#include "store/server/server_store.h"
#include "store/statement.h"
#include "store/store_choice.h"
#include "store/suite_schema.h"

namespace kiv::store {

namespace {

std::string ascii_lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// A table the database does not have fails to be named with this number on
// both stores.
constexpr std::int64_t kNoSuchTable = 1;

// The first table or column of the suite's that the database lacks, as
// "table" or "table.column"; nothing when it has them all. Names compare
// without regard to letter case, as both stores compare them.
std::optional<std::string> missing_suite_column(Connection& connection) {
  for (const SuiteTable& table : suite_tables()) {
    std::unordered_set<std::string> present;
    try {
      // The names are the program's own constants, never the operator's text.
      Statement columns(connection, "SELECT * FROM " + std::string(table.name) + " LIMIT 0");
      columns.step();
      for (int i = 0; i < columns.column_count(); ++i) present.insert(ascii_lower(columns.column_name(i)));
    } catch (const DbError& e) {
      if (e.error().number != kNoSuchTable) throw;
      return std::string(table.name);
    }
    for (const SuiteColumn& column : table.columns) {
      if (!present.contains(ascii_lower(column.name))) {
        return std::string(table.name) + "." + std::string(column.name);
      }
    }
  }
  return std::nullopt;
}

}  // namespace

void require_suite_schema(Connection& connection, const std::string& where) {
  if (auto missing = missing_suite_column(connection)) {
    throw DbError(
        Error{kErrGeneralFailure, "無法開啟資料庫 " + where + ": 不是本系統的資料庫 (缺少 " + *missing + ")", true});
  }
}

Connection Connection::open(const SuitePaths& paths, BusyPump pump) {
  const StoreChoice choice = choose_store(paths);
  if (choice.dialect == Dialect::server) return open_server(choice.location, std::move(pump), choice.shown);
  return open_file(choice.location, std::move(pump));
}

Connection Connection::connect_server(const std::string& conninfo, BusyPump pump, const std::string& shown) {
  return Connection(
      server::open(conninfo, std::move(pump), shown.empty() ? server::without_password(conninfo) : shown));
}

Connection Connection::open_server(const std::string& conninfo, BusyPump pump, const std::string& shown) {
  const std::string where = shown.empty() ? server::without_password(conninfo) : shown;
  Connection connection = connect_server(conninfo, std::move(pump), where);
  require_suite_schema(connection, where);
  return connection;
}

Connection Connection::open_file(const std::string& path, BusyPump pump, const std::string& password) {
  Connection connection(file::open(path, std::move(pump), password));
  require_suite_schema(connection, path);
  return connection;
}

Connection Connection::create_file(const std::string& path, const std::string& password) {
  return Connection(file::create(path, password));
}

Connection::Connection(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}
Connection::Connection(Connection&&) noexcept = default;
Connection& Connection::operator=(Connection&&) noexcept = default;
Connection::~Connection() = default;

Dialect Connection::dialect() const {
  return backend_->dialect();
}

void Connection::execute(std::string_view sql) {
  backend_->execute(render(sql, backend_->dialect()).text);
}

void Connection::execute_later(std::string_view sql) {
  backend_->execute_later(render(sql, backend_->dialect()).text);
}

void Connection::set_busy_timeout_ms(int ms) {
  backend_->set_busy_timeout_ms(ms);
}

}  // namespace kiv::store
