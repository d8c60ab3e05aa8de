#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/money.h"
#include "store/connection.h"

struct sqlite3_stmt;

namespace kiv::store {

// A prepared statement: prepared by the constructor, finalized by the
// destructor. Every value reaches it as a bound parameter; every failure is
// thrown as DbError.
class Statement {
 public:
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

  // Advances to the next row: true when there is one, false at the end.
  bool step();
  // Runs a statement that yields no rows; returns the number of rows changed.
  std::int64_t run();
  void reset();

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

 private:
  void check_bind(int rc, int index);
  Connection& connection_;
  std::string sql_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace kiv::store
