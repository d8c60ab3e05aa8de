#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/money.h"
#include "core/paths.h"

// Putting a suite's database on a server: a new one, or the rows of the
// school's database file moved over.
namespace kiv::store {

// Creates the suite folder (exe/, mdb/, medi/), the suite's tables, defaults,
// unique key and indexes in the server's current schema, and writes
// mdb/KIV.pgconn (the connection without its password). Never drops or alters
// a table: a schema that already has any of the suite's tables is refused, and
// so is a folder that already has a database (KIV.mdb or KIV.pgconn).
std::optional<Error> init_server_suite(const SuitePaths& paths, const std::string& conninfo);

struct CopiedTable {
  std::string name;
  std::int64_t rows = 0;
  Cents numbers = 0;  // every number column of every row, in hundredths
};

// Copies every row of the program's tables from mdb/KIV.mdb into the server's
// current schema in one transaction, in the order the rows were inserted, then
// checks each table's row count and the sum of its number columns (money
// among them) against the file's, and writes mdb/KIV.pgconn. The schema must
// have none of the suite's tables (they are created) or all of them empty;
// a target that holds rows is refused. The file is left as it was.
std::optional<Error> copy_to_server(const SuitePaths& paths, const std::string& conninfo,
                                    std::vector<CopiedTable>& copied);

}  // namespace kiv::store
