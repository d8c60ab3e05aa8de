#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/paths.h"

namespace kiv::cli {

// Options shared by the commands: --root DIR, --json, and the one FILE.
struct Options {
  std::optional<std::string> root;
  bool json = false;
  std::vector<std::string> positional;
  std::string error;  // set when the arguments make no sense
};

Options parse_options(const std::vector<std::string>& args);

// --root, else KIV_ROOT, else the executable's folder less "/exe".
SuitePaths suite_paths(const Options& options);

// Text as a JSON string literal.
std::string json_string(const std::string& text);

}  // namespace kiv::cli
