#pragma once

#include <string>

#include "core/error.h"

namespace kiv::store {

// An Error for a failed SQLite call: the number is SQLite's extended result
// code; busy, full, I/O, read-only, corrupt and out-of-memory are failures of
// the environment, everything else (constraints, mismatches) of the values.
Error sqlite_error(int extended_code, const std::string& message);

}  // namespace kiv::store
