#pragma once

#include <optional>
#include <string>

// Connection strings and URIs as libpq reads them.
namespace kiv::store::server {

// Why libpq cannot read `conninfo`; nothing when it can.
std::optional<std::string> conninfo_problem(const std::string& conninfo);

// True when the text names a password (as password=... or in a URI's user
// part). The text must be readable (see conninfo_problem).
bool names_password(const std::string& conninfo);

// The value the text gives `keyword`, if it gives one.
std::optional<std::string> conninfo_value(const std::string& conninfo, const char* keyword);

// The same connection as keyword=value pairs, without any password: what may
// be written to a file or shown in a message.
std::string without_password(const std::string& conninfo);

}  // namespace kiv::store::server
