#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/connection.h"
#include "store/row_image.h"

namespace kiv::store {

// Rows written back as an image shows them, by rowid: what undoes a run's
// changes and a failed line's. The statements are built from the image's
// column names and kept prepared, one per table and set of columns.

// A statement the program builds as it runs (from a table's name or its
// columns), declared once per text: prepared once per connection, however
// often it runs.
const Sql& sql_built(const std::string& text);

// The row at `rowid` takes every column of `image`; false when there is no
// such row.
bool write_row(Connection& db, std::string_view table, std::int64_t rowid, const RowImage& image);
// The row at `rowid` goes.
void delete_row(Connection& db, std::string_view table, std::int64_t rowid);
// A row made again from `image`, under `rowid` when given, else wherever
// the store puts it.
void insert_row(Connection& db, std::string_view table, std::optional<std::int64_t> rowid, const RowImage& image);

}  // namespace kiv::store
