#pragma once

#include <string>

#include "core/paths.h"
#include "store/sql.h"

// The one place that decides which store holds a suite folder's database.
// Nothing above the store asks: Connection::open goes through here.
namespace kiv::store {

struct StoreChoice {
  Dialect dialect = Dialect::file;
  std::string location;  // the file's path, or the server's connection string
  std::string shown;     // how messages name the database: never with a password
};

// KIV_DATABASE (a connection URI) when set and not empty; else the server
// named in ROOT/mdb/KIV.pgconn when that file exists; else ROOT/mdb/KIV.mdb.
// Throws DbError with kErrGeneralFailure when KIV.pgconn cannot be used: it
// cannot be read, is not one connection string, or holds a password while
// others than its owner and group may read it.
StoreChoice choose_store(const SuitePaths& paths);

// Whether the suite folder's database is on a server, decided as above but
// without reading anything.
bool uses_server(const SuitePaths& paths);

// ROOT/mdb/KIV.pgconn
std::string pgconn_path(const SuitePaths& paths);

}  // namespace kiv::store
