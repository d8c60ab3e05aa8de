#include "store/file/file_store.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <unordered_map>

#include "store/connection.h"
#include "store/db_error.h"
#include "store/file/sqlite_error.h"

namespace kiv::store::file {

namespace {

[[noreturn]] void throw_cannot_open(const std::string& path, const std::string& reason) {
  throw DbError(Error{kErrGeneralFailure, "無法開啟資料庫 " + path + ": " + reason, true});
}

struct BusyState {
  Backend::BusyPump pump;
  int timeout_ms = 5000;
  std::chrono::steady_clock::time_point started;
};

// Waits for another program to let go of the database: up to the timeout,
// letting the window breathe every 50 ms.
int on_busy(void* state_ptr, int attempt) {
  auto* state = static_cast<BusyState*>(state_ptr);
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) state->started = now;
  if (now - state->started >= std::chrono::milliseconds(state->timeout_ms)) return 0;
  if (state->pump) state->pump();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return 1;
}

// Each connection of the program is used by one thread at a time, and the
// program never asks the library how much memory it holds: without the
// locks and the accounting that would need, every statement step and every
// allocation of the library costs less (about a twentieth of a posting run).
// Set once, before the library's first use; when something initialised it
// first, it keeps its defaults, which are merely slower.
void configure_library_once() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

sqlite3* open_handle(const std::string& path, int flags) {
  configure_library_once();
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

[[noreturn]] void throw_last(sqlite3* db, int rc) {
  const int extended = sqlite3_extended_errcode(db);
  throw DbError(sqlite_error(extended != SQLITE_OK ? extended : rc, sqlite3_errmsg(db)));
}

class FileCursor : public Cursor {
 public:
  FileCursor(sqlite3* db, const std::string& sql) : db_(db) {
    const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(stmt_);
      throw_last(db, rc);
    }
  }
  FileCursor(const FileCursor&) = delete;
  FileCursor& operator=(const FileCursor&) = delete;
  ~FileCursor() override { sqlite3_finalize(stmt_); }

  void bind_text(int index, std::string_view text) override {
    check_bind(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT), index);
  }
  void bind_int(int index, std::int64_t value) override { check_bind(sqlite3_bind_int64(stmt_, index, value), index); }
  void bind_null(int index) override { check_bind(sqlite3_bind_null(stmt_, index), index); }
  void bind_real(int index, double value) override { check_bind(sqlite3_bind_double(stmt_, index, value), index); }
  void bind_blob(int index, std::string_view bytes) override {
    check_bind(sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT), index);
  }

  bool step() override {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    // Leave the statement reusable and report the real cause.
    const int extended = sqlite3_extended_errcode(db_);
    const std::string message = sqlite3_errmsg(db_);
    sqlite3_reset(stmt_);
    throw DbError(sqlite_error(extended != SQLITE_OK ? extended : rc, message));
  }
  std::int64_t changes() const override { return sqlite3_changes(db_); }
  std::int64_t inserted_rowid() const override { return sqlite3_last_insert_rowid(db_); }
  void reset() override {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

  int column_count() const override { return sqlite3_column_count(stmt_); }
  std::string column_name(int column) const override {
    const char* name = sqlite3_column_name(stmt_, column);
    return name != nullptr ? name : "";
  }
  ValueKind kind(int column) const override {
    switch (sqlite3_column_type(stmt_, column)) {
      case SQLITE_NULL:
        return ValueKind::null;
      case SQLITE_INTEGER:
        return ValueKind::integer;
      case SQLITE_FLOAT:
        return ValueKind::real;
      case SQLITE_BLOB:
        return ValueKind::blob;
      default:
        return ValueKind::text;
    }
  }
  std::string text(int column) const override {
    const auto* bytes = sqlite3_column_text(stmt_, column);
    if (bytes == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(bytes),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
  }
  std::int64_t integer(int column) const override { return sqlite3_column_int64(stmt_, column); }
  double real(int column) const override { return sqlite3_column_double(stmt_, column); }
  // One call into the library per value: each call on the statement takes
  // the connection's lock, those on the value do not.
  Value value(int column) const override {
    sqlite3_value* cell = sqlite3_column_value(stmt_, column);
    Value v;
    switch (sqlite3_value_type(cell)) {
      case SQLITE_NULL:
        break;
      case SQLITE_INTEGER:
        v.kind = ValueKind::integer;
        v.integer = sqlite3_value_int64(cell);
        break;
      case SQLITE_FLOAT:
        v.kind = ValueKind::real;
        v.real = sqlite3_value_double(cell);
        break;
      case SQLITE_BLOB: {
        v.kind = ValueKind::blob;
        const void* bytes = sqlite3_value_blob(cell);
        if (bytes != nullptr) v.bytes.assign(static_cast<const char*>(bytes), sqlite3_value_bytes(cell));
        break;
      }
      default: {
        v.kind = ValueKind::text;
        const auto* text = sqlite3_value_text(cell);
        if (text != nullptr) v.bytes.assign(reinterpret_cast<const char*>(text), sqlite3_value_bytes(cell));
        break;
      }
    }
    return v;
  }

 private:
  void check_bind(int rc, int index) {
    if (rc != SQLITE_OK) {
      throw DbError(sqlite_error(rc, "參數 " + std::to_string(index) + ": " + sqlite3_errmsg(db_)));
    }
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class FileBackend : public Backend {
 public:
  FileBackend(sqlite3* db, BusyState busy) : db_(db), busy_(std::move(busy)) {
    sqlite3_busy_handler(db_, &on_busy, &busy_);
  }
  FileBackend(const FileBackend&) = delete;
  FileBackend& operator=(const FileBackend&) = delete;
  ~FileBackend() override {
    cache.clear();  // statements are finalized before the handle closes
    kept_.clear();
    sqlite3_close_v2(db_);
  }

  Dialect dialect() const override { return Dialect::file; }
  void execute(const std::string& sql) override {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      const std::string text = message != nullptr ? message : sqlite3_errstr(rc);
      sqlite3_free(message);
      throw DbError(sqlite_error(rc, text));
    }
  }
  // What comes this way is a line's savepoint commands, three or four to
  // every line of a run: kept prepared, they are not parsed again each time.
  void execute_later(const std::string& sql) override {
    std::unique_ptr<FileCursor>& kept = kept_[sql];
    if (!kept) kept = std::make_unique<FileCursor>(db_, sql);
    kept->run_later();
    kept->reset();
  }
  std::unique_ptr<Cursor> prepare(const RenderedSql& sql, bool /*kept*/) override {
    return std::make_unique<FileCursor>(db_, sql.text);
  }
  // Immediate: another writer is waited for here, by the busy handler.
  void begin_write() override { execute("BEGIN IMMEDIATE"); }
  void commit() override { execute("COMMIT"); }
  // The file lock is let go only once the commit is whole on disk: when that
  // last step fails, the transaction is committed all the same.
  bool committed_despite(const Error& error) const override { return error.number == SQLITE_IOERR_UNLOCK; }
  void rollback() override { execute("ROLLBACK"); }
  bool in_transaction() const override { return sqlite3_get_autocommit(db_) == 0; }
  void set_busy_timeout_ms(int ms) override { busy_.timeout_ms = ms; }
  bool savepoints_are_costly() const override { return true; }
  void hold_changes_in_memory(bool on) override { execute(on ? "PRAGMA cache_spill=OFF" : "PRAGMA cache_spill=ON"); }

  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_;
  BusyState busy_;
  std::unordered_map<std::string, std::unique_ptr<FileCursor>> kept_;
};

}  // namespace

std::unique_ptr<Backend> open(const std::string& path, Backend::BusyPump pump, const std::string& password) {
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
    // busy handler will wait for it at the first real statement.
    db = open_handle(path, SQLITE_OPEN_READWRITE);
    apply_key(db, password);
  }
  auto backend = std::make_unique<FileBackend>(db, BusyState{std::move(pump), 5000, {}});
  backend->execute("PRAGMA foreign_keys = OFF");
  return backend;
}

std::unique_ptr<Backend> create(const std::string& path, const std::string& password) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) throw_cannot_open(path, "檔案已存在");
  sqlite3* db = open_handle(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  apply_key(db, password);
  return std::make_unique<FileBackend>(db, BusyState{});
}

sqlite3* handle_of(Connection& connection) {
  auto* backend = dynamic_cast<FileBackend*>(&connection.backend());
  return backend != nullptr ? backend->handle() : nullptr;
}

}  // namespace kiv::store::file
