#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/paths.h"

namespace kiv::cli {

// A command line as its command's option table reads it.
struct Options {
  std::optional<std::string> root;  // --root DIR
  bool json = false;                // --json
  bool help = false;                // --help, -h
  // Every other declared option by its name: its value, or "" for a flag.
  std::map<std::string, std::string, std::less<>> values;
  std::vector<std::string> positional;
  std::string error;  // set when the arguments make no sense

  bool has(std::string_view name) const { return values.find(name) != values.end(); }
};

// --root, else KIV_ROOT, else the executable's folder less "/exe". The
// executable is found through /proc/self/exe, which names the real file
// behind any symbolic link (/usr/bin/kiv2700 -> /opt/kiv/exe/kiv2700).
SuitePaths suite_paths(const Options& options);

// A whole number from 1 to `max`, written in decimal digits only; nullopt otherwise.
std::optional<long long> positive_number(const std::string& text, long long max);

// Text as a JSON string literal.
std::string json_string(const std::string& text);

}  // namespace kiv::cli
