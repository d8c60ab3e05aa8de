#include "store/sqlite_error.h"

#include <sqlite3.h>

namespace kiv::store {

Error sqlite_error(int extended_code, const std::string& message) {
  switch (extended_code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_NOMEM:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_INTERRUPT:
    case SQLITE_ABORT:
      return Error{extended_code, message, true};
    default:
      return Error{extended_code, message, false};
  }
}

}  // namespace kiv::store
