#pragma once

#include <optional>
#include <string>

#include "core/error.h"
#include "core/paths.h"
#include "store/connection.h"

namespace kiv::store {

// Creates the tables, indexes and the unique key of the payment records.
void create_schema(Connection& connection);

// A new suite folder: exe/, mdb/, medi/ and an empty database with the
// suite's password. Never touches an existing database: that is an error.
std::optional<Error> init_suite(const SuitePaths& paths);

}  // namespace kiv::store
