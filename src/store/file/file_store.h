#pragma once

#include <memory>
#include <string>

#include "store/backend.h"

struct sqlite3;

namespace kiv::store {
class Connection;
}

// The file store: the suite's database as an SQLCipher file, mdb/KIV.mdb.
namespace kiv::store::file {

// Opens an existing database file with the password; never creates one.
// Throws DbError with kErrGeneralFailure when the file is missing, is not a
// database or has another password.
std::unique_ptr<Backend> open(const std::string& path, Backend::BusyPump pump, const std::string& password);
// Creates a new database file (the file must not exist) keyed with the password.
std::unique_ptr<Backend> create(const std::string& path, const std::string& password);

// The SQLite handle under a connection of the file store; nullptr on the server.
sqlite3* handle_of(Connection& connection);

}  // namespace kiv::store::file
