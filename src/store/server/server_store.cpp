#include "store/server/server_store.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
#include "store/connection.h"
#include "store/db_error.h"
#include "store/server/pg_session.h"

namespace kiv::store::server {

namespace {

// Type numbers of the server's built-in types that the program reads.
constexpr Oid kBool = 16;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kOid = 26;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kNumeric = 1700;

// Every writing transaction of the suite's programs on one schema takes this
// lock first, held to its end, so that writers follow one another as on the
// file store: a line is never held up halfway by another workstation, and a
// run sees all that the other run committed before it. The key is the suite's
// with the schema's number, so that suites in other schemas of the same
// database do not wait for one another.
constexpr const char* kBeginWrite =
    "BEGIN; SELECT pg_advisory_xact_lock(27002700, "
    "coalesce((SELECT oid::int4 FROM pg_namespace WHERE nspname = current_schema()), 0))";

bool starts_with_word(const std::string& text, std::string_view word) {
  const std::size_t first = text.find_first_not_of(" \t\n");
  if (first == std::string::npos || text.size() - first <= word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[first + i])) != word[i]) return false;
  }
  return std::isspace(static_cast<unsigned char>(text[first + word.size()])) != 0;
}

// The server says which row an insert made only when asked; the file store
// knows it without. Only single statements reach a cursor.
std::string returning_rowid(const std::string& text) {
  return starts_with_word(text, "insert") ? text + " RETURNING rowid" : text;
}

class ServerCursor : public Cursor {
 public:
  // `name` is the prepared statement kept on the connection; without one the
  // statement is sent whole each time it runs.
  ServerCursor(PgSession& session, const RenderedSql& sql, std::optional<std::string> name)
      : session_(session),
        text_(returning_rowid(sql.text)),
        slot_(sql.slot),
        values_(static_cast<std::size_t>(sql.parameter_count)),
        name_(std::move(name)),
        reads_(starts_with_word(text_, "select")) {
    if (name_) session_.prepare(*name_, text_, sql.parameter_count);
  }

  void bind_text(int index, std::string_view text) override {
    if (!valid_utf8(text)) {
      // Every text the server holds is UTF-8, and the program's reads compare
      // their text parameters for equality only: a read given other bytes
      // (a NUL, a student number in another encoding) finds no row, as on
      // the file store. A write of such text is the value's fault; refusing
      // it here keeps the transaction usable.
      if (!reads_) {
        throw DbError(Error{kErrTypeMismatch, "型態不符合: 參數 " + std::to_string(index) + " 不是 UTF-8 文字", false});
      }
      matches_nothing_ = true;
      text = {};
    }
    set(index, std::string(text));
  }
  void bind_int(int index, std::int64_t value) override { set(index, std::to_string(value)); }
  void bind_null(int index) override { set(index, std::nullopt); }

  bool step() override {
    if (matches_nothing_) return false;
    if (!result_) {
      result_ = name_ ? session_.exec_prepared(*name_, values_) : session_.exec_params(text_, values_);
      row_ = 0;
    } else {
      ++row_;
    }
    return result_ && row_ < PQntuples(result_.get());
  }
  void run_later() override {
    if (!name_) {
      while (step()) {
      }
      return;
    }
    session_.send_prepared_later(*name_, values_);
  }
  std::int64_t changes() const override {
    if (!result_) return 0;
    return std::strtoll(PQcmdTuples(result_.get()), nullptr, 10);
  }
  // Every insert a cursor runs returns its rowid for this.
  std::int64_t inserted_rowid() const override {
    if (!result_ || PQntuples(result_.get()) < 1 || PQnfields(result_.get()) < 1) return 0;
    return std::strtoll(PQgetvalue(result_.get(), 0, 0), nullptr, 10);
  }
  void reset() override {
    matches_nothing_ = false;
    result_.reset();
    for (auto& value : values_) value.reset();
  }

  int column_count() const override { return result_ ? PQnfields(result_.get()) : 0; }
  std::string column_name(int column) const override {
    const char* name = result_ ? PQfname(result_.get(), column) : nullptr;
    return name != nullptr ? name : "";
  }
  ValueKind kind(int column) const override {
    if (PQgetisnull(result_.get(), row_, column) != 0) return ValueKind::null;
    switch (PQftype(result_.get(), column)) {
      case kBool:
      case kInt2:
      case kInt4:
      case kInt8:
      case kOid:
        return ValueKind::integer;
      case kFloat4:
      case kFloat8:
        return ValueKind::real;
      case kNumeric:
        return ValueKind::decimal;
      default:
        return ValueKind::text;
    }
  }
  std::string text(int column) const override {
    const char* value = PQgetvalue(result_.get(), row_, column);
    return std::string(value, static_cast<std::size_t>(PQgetlength(result_.get(), row_, column)));
  }
  std::int64_t integer(int column) const override {
    const char* value = PQgetvalue(result_.get(), row_, column);
    if (PQftype(result_.get(), column) == kBool) return value[0] == 't' ? 1 : 0;
    return std::strtoll(value, nullptr, 10);
  }
  double real(int column) const override { return std::strtod(PQgetvalue(result_.get(), row_, column), nullptr); }

 private:
  // Parameters the statement does not use are taken and dropped, as the file
  // store does for a number below its highest; one beyond any it has is an
  // error there and here.
  void set(int index, std::optional<std::string> value) {
    if (index < 1 || static_cast<std::size_t>(index) >= slot_.size()) {
      throw DbError(Error{25, "column index out of range", true});  // SQLITE_RANGE
    }
    const int slot = slot_[static_cast<std::size_t>(index)];
    if (slot >= 0) values_[static_cast<std::size_t>(slot)] = std::move(value);
  }

  PgSession& session_;
  std::string text_;
  std::vector<int> slot_;
  PgSession::Values values_;
  std::optional<std::string> name_;
  bool reads_ = false;
  bool matches_nothing_ = false;
  PgResult result_;
  int row_ = 0;
};

class ServerBackend : public Backend {
 public:
  ServerBackend(const std::string& conninfo, BusyPump pump, const std::string& shown)
      : session_(conninfo, kSuitePassword, shown, std::move(pump)) {}
  ServerBackend(const ServerBackend&) = delete;
  ServerBackend& operator=(const ServerBackend&) = delete;
  ~ServerBackend() override { cache.clear(); }

  Dialect dialect() const override { return Dialect::server; }
  void execute(const std::string& sql) override { session_.exec(sql); }
  void execute_later(const std::string& sql) override { session_.send_later(sql); }
  std::unique_ptr<Cursor> prepare(const RenderedSql& sql, bool kept) override {
    std::optional<std::string> name;
    if (kept) name = "kiv" + std::to_string(++prepared_);
    return std::make_unique<ServerCursor>(session_, sql, std::move(name));
  }

  void begin_write() override {
    try {
      session_.exec(kBeginWrite);
    } catch (const DbError&) {
      // A lock not had leaves the transaction aborted: end it, so that the
      // connection serves the next statement.
      try {
        session_.exec("ROLLBACK");
      } catch (const DbError&) {
      }
      throw;
    }
  }
  void commit() override {
    const PgResult result = session_.exec("COMMIT");
    // A transaction that a failed statement left aborted ends in a rollback
    // on COMMIT without any error: none of it was written.
    if (std::strcmp(PQcmdStatus(result.get()), "COMMIT") != 0) {
      throw DbError(Error{4, "伺服器已撤銷這筆交易,其中的寫入都未保存", true});  // SQLITE_ABORT
    }
  }
  void rollback() override { session_.exec("ROLLBACK"); }
  bool in_transaction() const override { return PQtransactionStatus(session_.get()) != PQTRANS_IDLE; }
  void set_busy_timeout_ms(int ms) override {
    // The server takes 0 as "wait for ever"; the file store as "do not wait".
    const std::string value = std::to_string(ms > 0 ? ms : 1);
    session_.exec_params("SELECT set_config('lock_timeout', $1, false)", {value});
  }

 private:
  PgSession session_;
  int prepared_ = 0;
};

}  // namespace

std::unique_ptr<Backend> open(const std::string& conninfo, Backend::BusyPump pump, const std::string& shown) {
  return std::make_unique<ServerBackend>(conninfo, std::move(pump), shown);
}

}  // namespace kiv::store::server
