#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "store/sql.h"

// What each store implements beneath Connection and Statement. Nothing above
// the store sees these classes.
namespace kiv::store {

// How a column's value arrived, so that the readers can convert it the same
// way on both stores.
enum class ValueKind { null, integer, real, decimal, text, blob };

// One value as the store holds it, kind included, so that it can be written
// back exactly: a number stays a number, a text stays a text byte for byte.
struct Value {
  ValueKind kind = ValueKind::null;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;  // the text, the decimal's digits or the blob's bytes

  static Value of_integer(std::int64_t v) { return Value{ValueKind::integer, v, 0, {}}; }
  static Value of_text(std::string_view v) { return Value{ValueKind::text, 0, 0, std::string(v)}; }
  bool operator==(const Value& other) const;
};

// One prepared statement of a store, reused for every execution: bind, step
// through the rows (or run it), reset.
class Cursor {
 public:
  virtual ~Cursor() = default;

  // Parameters are numbered from 1 as the program wrote them.
  virtual void bind_text(int index, std::string_view text) = 0;
  virtual void bind_int(int index, std::int64_t value) = 0;
  virtual void bind_null(int index) = 0;
  // A floating-point value as it was read. A store without a binary form of
  // its own takes the shortest text that reads back as the same double.
  virtual void bind_real(int index, double value);
  // Bytes that are not text. Only the file store keeps such values.
  virtual void bind_blob(int index, std::string_view bytes);

  // The next row: true when there is one. Executes on the first call.
  virtual bool step() = 0;
  // Runs a statement without rows whose outcome can wait for the next
  // statement of the connection: a store that talks to a server sends both in
  // one exchange, and the next one reports a failure of this one.
  virtual void run_later() {
    while (step()) {
    }
  }
  // Rows changed by the statement just run to its end.
  virtual std::int64_t changes() const = 0;
  // The rowid of the row the insert just run to its end created: the file
  // store asks SQLite for it; the server must have the insert return it
  // (render "insert ... RETURNING rowid" and keep the value when stepping),
  // since the journal records every created row by it.
  virtual std::int64_t inserted_rowid() const = 0;
  // Ready to run again, every parameter unbound.
  virtual void reset() = 0;

  // The columns of the rows; on some stores known only once step() was called.
  virtual int column_count() const = 0;
  virtual std::string column_name(int column) const = 0;

  virtual ValueKind kind(int column) const = 0;
  // The column's text; "" for null.
  virtual std::string text(int column) const = 0;
  virtual std::int64_t integer(int column) const = 0;
  virtual double real(int column) const = 0;
  // The column's value with its kind, read in one go where the store can.
  virtual Value value(int column) const;

  bool in_use = false;  // held by a Statement now
};

class Backend {
 public:
  using BusyPump = std::function<void()>;

  virtual ~Backend() = default;

  virtual Dialect dialect() const = 0;
  // Statements without parameters or rows (DDL, savepoints), already rendered.
  virtual void execute(const std::string& rendered_sql) = 0;
  // The same for a statement whose outcome can wait for the next one: a
  // store that talks to a server sends both in one exchange, and a failure
  // of this one is reported by the next.
  virtual void execute_later(const std::string& rendered_sql) { execute(rendered_sql); }
  // `kept`: the statement stays in `cache` and runs many times, so a store
  // that can keep it prepared does; otherwise it runs once or a few times.
  virtual std::unique_ptr<Cursor> prepare(const RenderedSql& sql, bool kept) = 0;

  // A transaction that writes: it starts by waiting for any other writer,
  // so that a line is never held up halfway.
  virtual void begin_write() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  // Whether a commit that failed with `error` is on disk all the same.
  virtual bool committed_despite(const Error& /*error*/) const { return false; }
  // Whether a transaction is open. SQLite rolls one back on its own after
  // some I/O errors; a statement after that would commit alone.
  virtual bool in_transaction() const = 0;

  // How long a statement waits for another program's lock before it fails
  // as busy; the pump is called about every 50 ms meanwhile.
  virtual void set_busy_timeout_ms(int ms) = 0;

  // While on, what a transaction changes stays in memory until it commits
  // (or is rolled back, leaving the database's files untouched). The file
  // store would otherwise write changed pages into the file early when its
  // cache fills, and SQLCipher encrypts every page written with a fresh IV,
  // so even a rolled-back transaction would change the file's bytes. The
  // server writes nothing visible before a commit and needs nothing here.
  virtual void hold_changes_in_memory(bool on) { (void)on; }

  // Whether a savepoint costs about as much as the writes it covers: the
  // file store keeps, encrypted, every page a savepoint's writes touch. A
  // run there takes a failed line back from the rows' images instead.
  virtual bool savepoints_are_costly() const { return false; }

  // Prepared statements of the program's Sql, kept by Sql::id.
  std::vector<std::unique_ptr<Cursor>> cache;
};

}  // namespace kiv::store
