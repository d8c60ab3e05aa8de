#pragma once

#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/paths.h"

namespace kiv::cli {

// Options shared by the commands: --root DIR, --json, and the one FILE;
// plus the switches a command takes of its own.
struct Options {
  std::optional<std::string> root;
  bool json = false;
  std::vector<std::string> positional;
  std::set<std::string, std::less<>> switches;  // those given, of the command's own
  std::string error;                            // set when the arguments make no sense

  bool has(std::string_view name) const { return switches.contains(name); }
};

Options parse_options(const std::vector<std::string>& args, std::initializer_list<std::string_view> own = {});

// --root, else KIV_ROOT, else the executable's folder less "/exe".
SuitePaths suite_paths(const Options& options);

// Text as a JSON string literal.
std::string json_string(const std::string& text);

}  // namespace kiv::cli
