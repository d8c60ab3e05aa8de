#pragma once

#include <string>
#include <string_view>

#include "core/error.h"

// How a failure of the server reads to the rest of the program: with the
// number the file store gives for the same kind of failure, so that messages,
// the run's decisions and the suite's operators see one numbering.
namespace kiv::store::server {

// SQLite's text for its busy failure: both stores show it alike.
inline constexpr const char* kBusyText = "database is locked";
inline constexpr std::int64_t kBusyNumber = 5;

// An Error for a failed statement from its SQLSTATE (empty when the server
// never answered) and the server's message.
Error server_error(std::string_view sqlstate, const std::string& message);

// The connection to the server is gone or could not be made.
Error connection_error(const std::string& message);

}  // namespace kiv::store::server
