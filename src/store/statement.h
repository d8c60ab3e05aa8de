#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/money.h"
#include "store/connection.h"
#include "store/sql.h"

namespace kiv::store {

class Cursor;
class RowCapture;
struct Value;
struct WatchedWrite;

// One execution of a statement: bind, then step through its rows or run it.
// A statement declared as Sql is prepared once per connection and reused;
// plain text is prepared for this one use. Every value reaches the store as a
// bound parameter; every failure is thrown as DbError. While a RowCapture
// watches the connection, a statement that writes remembers its values and
// lets the capture see the rows before and after.
class Statement {
 public:
  Statement(Connection& connection, const Sql& sql);
  Statement(Connection& connection, std::string_view sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  // Parameters are numbered from 1.
  Statement& bind(int index, std::string_view text);
  Statement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
  Statement& bind(int index, const std::string& text) { return bind(index, std::string_view(text)); }
  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
  Statement& bind_null(int index);
  // A value as read, written back with its kind.
  Statement& bind(int index, const Value& value);

  // Advances to the next row: true when there is one, false at the end.
  bool step();
  // Runs a statement that yields no rows; returns the number of rows changed.
  std::int64_t run();
  // The same where nobody needs the count and another statement follows on
  // the connection at once: the server store sends this one with it, in one
  // exchange, and a failure of this one is thrown by that one instead.
  void run_later();
  void reset();

  int column_count() const;
  std::string column_name(int column) const;

  // Column readers, columns numbered from 0.
  bool is_null(int column) const;
  // Text of the column; a null gives "".
  std::string text(int column) const;
  // A yes/no column as text: "True", "False", or "" for null. Any non-zero
  // number counts as true (other programs store -1).
  std::string yes_no_text(int column) const;
  // Money in hundredths; nullopt for null. Rounded to the nearest hundredth.
  std::optional<Cents> cents(int column) const;
  std::int64_t integer(int column) const;
  // A date column as "mm/dd/yyyy"; "" for null.
  std::string date_mdy(int column) const;
  // The column's value with its kind, exactly as the store holds it.
  Value value(int column) const;

 private:
  void watch(RowCapture* capture, const WatchedWrite& write);
  void remember(int index, Value value);

  Cursor* cursor_ = nullptr;
  std::unique_ptr<Cursor> own_;
  // Set only while a capture watches a statement that writes.
  RowCapture* capture_ = nullptr;
  const WatchedWrite* write_ = nullptr;
  std::vector<Value> bound_;
  bool started_ = false;
};

}  // namespace kiv::store
