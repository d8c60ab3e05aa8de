#pragma once

#include <memory>
#include <string>

#include "store/backend.h"

// The server store: the suite's database in a PostgreSQL server, for offices
// whose workstations share it. Tables live in the connection's current schema.
namespace kiv::store::server {

// Connects; throws DbError with kErrGeneralFailure naming `shown` (the
// connection without its password) when no connection can be made.
std::unique_ptr<Backend> open(const std::string& conninfo, Backend::BusyPump pump, const std::string& shown);

}  // namespace kiv::store::server
