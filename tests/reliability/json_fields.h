#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv::testing {

// Fields of the one-line JSON object `kiv2700 post --json` and `check --json`
// print. Enough for the tool's own output: flat keys, strings without
// escaped quotes in the fields read here.
std::optional<std::int64_t> json_int(const std::string& json, const std::string& key);
std::optional<std::string> json_text(const std::string& json, const std::string& key);
// The strings of the "messages" array, escapes left as they are.
std::vector<std::string> json_messages(const std::string& json);

}  // namespace kiv::testing
