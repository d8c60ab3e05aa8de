#pragma once

#include <optional>
#include <string>

#include "core/error.h"

namespace kiv::cli {

// A file made in a folder that a group shares (setgid, as the installed
// package makes mdb/ for the group kiv) is made readable and writable by that
// group too: else only the clerk who made the database could post to it.
// Elsewhere the file is left as the umask made it.
std::optional<Error> share_with_folder_group(const std::string& path);

}  // namespace kiv::cli
