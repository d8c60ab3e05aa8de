#pragma once

#include <optional>
#include <string>

#include "core/error.h"

namespace kiv::source {

enum class FolderState { present, missing, unavailable };

struct FolderProbe {
  FolderState state = FolderState::missing;
  // errno of the failed probe when `unavailable`.
  int error_number = 0;
};

// Tells a folder that is simply gone from one that cannot be looked at now:
// an unreadable medium, no permission, or a file sitting where the folder
// should be all count as unavailable.
FolderProbe probe_folder(const std::string& path);

// Creates the folder (and its parents) when it is missing; the errno and the
// system's reason when that fails.
std::optional<Error> ensure_folder(const std::string& path);

}  // namespace kiv::source
