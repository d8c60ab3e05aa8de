#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/sql.h"

namespace kiv::store {

// How a column stores its values; each store spells the type its own way.
enum class ColumnType {
  text,
  key,      // text compared and ordered without regard to ASCII letter case
  number,   // exact decimal: money, group numbers
  date,     // a calendar date ("YYYY-MM-DD" in the file store)
  yes_no,   // an integer tested <>0
  integer,  // a whole number: counts, numbers of runs and lines, hundredths
};

struct SuiteColumn {
  std::string_view name;
  ColumnType type;
  bool defaults_to_zero = false;  // otherwise a new row gets null
};

// The tables and columns of the suite's database that this program reads or
// writes. A database that lacks any of them is not the suite's: it is refused
// when opened, before anything is read or written.
struct SuiteTable {
  std::string_view name;
  std::span<const SuiteColumn> columns;
  // Every column defaults by its type (numbers 0, texts ''), so that a row
  // written by a program that knows fewer columns is still whole.
  bool every_column_defaults = false;
};

struct SuiteIndex {
  std::string_view name;
  std::string_view table;
  std::span<const std::string_view> columns;
  bool unique = false;
};

std::span<const SuiteTable> suite_tables();
std::span<const SuiteIndex> suite_indexes();

// The statements that create the suite's tables and indexes in an empty
// database of the given store. The server keeps every table's insertion order
// in a column named rowid, so that ORDER BY rowid means the same on both.
std::vector<std::string> suite_ddl(Dialect dialect);

// One table or index as the given store creates it. With `if_missing` an
// existing one is left as it is. An index's key columns are looked up in
// `tables`.
std::string table_ddl(const SuiteTable& table, Dialect dialect, bool if_missing = false);
std::string index_ddl(const SuiteIndex& index, std::span<const SuiteTable> tables, Dialect dialect,
                      bool if_missing = false);

}  // namespace kiv::store
