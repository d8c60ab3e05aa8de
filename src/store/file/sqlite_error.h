#pragma once

#include <string>

#include "core/error.h"

namespace kiv::store::file {

// An Error for a failed SQLite call: the number is SQLite's extended result
// code. A constraint is a failure of the line's values; everything else is a
// failure of the environment.
Error sqlite_error(int extended_code, const std::string& message);

}  // namespace kiv::store::file
