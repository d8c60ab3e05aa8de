#pragma once

#include <optional>
#include <string>

#include "core/error.h"

namespace kiv::source {

// Copies `from` over `to` so that `to` is either the old file or a complete
// copy, never a half-written one: the bytes go to a temporary file beside
// `to`, are flushed to disk, and only then take its name. The temporary file
// never outlives a failure. On failure: errno, path and the system's reason.
std::optional<Error> copy_replacing(const std::string& from, const std::string& to);

}  // namespace kiv::source
