#include "store/file/sqlite_error.h"

#include <sqlite3.h>

namespace kiv::store::file {

// Only a constraint is the fault of the values a statement was given; every
// other failure of SQLite (busy, disk full, I/O, a missing table or column, a
// statement the database cannot run) lies in the machine or the database and
// would fail every line alike.
Error sqlite_error(int extended_code, const std::string& message) {
  return Error{extended_code, message, (extended_code & 0xff) != SQLITE_CONSTRAINT};
}

}  // namespace kiv::store::file
