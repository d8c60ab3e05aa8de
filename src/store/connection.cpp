#include "store/connection.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "store/db_error.h"
#include "store/sqlite_error.h"
#include "store/statement.h"
#include "store/suite_schema.h"

namespace kiv::store {

struct Connection::BusyState {
  std::unordered_map<std::string, sqlite3_stmt*> cache;
  BusyPump pump;
  int timeout_ms = 5000;
  std::chrono::steady_clock::time_point started;
};

namespace {

// Waits for another program to let go of the database: up to the timeout,
// letting the window breathe every 50 ms.
int on_busy(void* state_ptr, int attempt) {
  auto* state = static_cast<Connection::BusyState*>(state_ptr);
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) state->started = now;
  if (now - state->started >= std::chrono::milliseconds(state->timeout_ms)) return 0;
  if (state->pump) state->pump();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return 1;
}

std::string ascii_lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

[[noreturn]] void throw_cannot_open(const std::string& path, const std::string& reason) {
  throw DbError(Error{kErrGeneralFailure, "無法開啟資料庫 " + path + ": " + reason, true});
}

sqlite3* open_handle(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw_cannot_open(path, reason);
  }
  sqlite3_extended_result_codes(db, 1);
  return db;
}

void apply_key(sqlite3* db, const std::string& password) {
  if (sqlite3_key(db, password.data(), static_cast<int>(password.size())) != SQLITE_OK) {
    const std::string reason = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw DbError(Error{kErrGeneralFailure, "無法設定資料庫密碼: " + reason, true});
  }
}

// The first table or column of the suite's that the database lacks, as
// "table" or "table.column"; nothing when it has them all. Names compare
// without regard to letter case, as SQLite compares them.
std::optional<std::string> missing_suite_column(Connection& connection) {
  for (const SuiteTable& table : suite_tables()) {
    std::unordered_set<std::string> present;
    // The names are the program's own constants, never the operator's text.
    Statement info(connection, "PRAGMA table_info(\"" + std::string(table.name) + "\")");
    while (info.step()) present.insert(ascii_lower(info.text(1)));
    if (present.empty()) return std::string(table.name);
    for (std::string_view column : table.columns) {
      if (!present.contains(ascii_lower(column))) return std::string(table.name) + "." + std::string(column);
    }
  }
  return std::nullopt;
}

}  // namespace

Connection::Connection(sqlite3* db, std::unique_ptr<BusyState> busy) : db_(db), busy_(std::move(busy)) {
  sqlite3_busy_handler(db_, &on_busy, busy_.get());
}

Connection Connection::open(const std::string& path, BusyPump pump, const std::string& password) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw_cannot_open(path, "檔案不存在");
  sqlite3* db = open_handle(path, SQLITE_OPEN_READWRITE);
  apply_key(db, password);
  // The key is only checked when the first page is read.
  char* message = nullptr;
  const int rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    const std::string reason = message != nullptr ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    const bool busy = (rc & 0xff) == SQLITE_BUSY;
    sqlite3_close(db);
    if (!busy) throw_cannot_open(path, reason);
    // A writer holding the file at this moment is not a bad password: the
    // busy handler below will wait for it at the first real statement.
    db = open_handle(path, SQLITE_OPEN_READWRITE);
    apply_key(db, password);
  }
  auto state = std::make_unique<BusyState>();
  state->pump = std::move(pump);
  Connection connection(db, std::move(state));
  connection.execute("PRAGMA foreign_keys = OFF");
  if (auto missing = missing_suite_column(connection)) {
    throw_cannot_open(path, "不是本系統的資料庫 (缺少 " + *missing + ")");
  }
  return connection;
}

Connection Connection::create(const std::string& path, const std::string& password) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) throw_cannot_open(path, "檔案已存在");
  sqlite3* db = open_handle(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  apply_key(db, password);
  return Connection(db, std::make_unique<BusyState>());
}

Connection::Connection(Connection&& other) noexcept : db_(other.db_), busy_(std::move(other.busy_)) {
  other.db_ = nullptr;
}

namespace {

void close_with_cache(sqlite3* db, Connection::BusyState* state) {
  if (state != nullptr) {
    for (auto& [sql, stmt] : state->cache) sqlite3_finalize(stmt);
    state->cache.clear();
  }
  if (db != nullptr) sqlite3_close(db);
}

}  // namespace

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    close_with_cache(db_, busy_.get());
    db_ = other.db_;
    busy_ = std::move(other.busy_);
    other.db_ = nullptr;
  }
  return *this;
}

Connection::~Connection() {
  close_with_cache(db_, busy_.get());
}

sqlite3_stmt* Connection::take_cached(const std::string& sql) {
  auto found = busy_->cache.find(sql);
  if (found == busy_->cache.end()) return nullptr;
  sqlite3_stmt* stmt = found->second;
  busy_->cache.erase(found);
  return stmt;
}

void Connection::give_back(const std::string& sql, sqlite3_stmt* stmt) {
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  auto [it, inserted] = busy_->cache.emplace(sql, stmt);
  if (!inserted) sqlite3_finalize(stmt);
}

void Connection::execute(const std::string& sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    const std::string text = message != nullptr ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    throw DbError(sqlite_error(rc, text));
  }
}

void Connection::set_busy_timeout_ms(int ms) {
  busy_->timeout_ms = ms;
}

}  // namespace kiv::store
