#include "json_fields.h"

#include <cstdlib>

namespace kiv::testing {

namespace {

std::size_t value_start(const std::string& json, const std::string& key) {
  const std::string needle = "\"" + key + "\":";
  const auto at = json.find(needle);
  return at == std::string::npos ? std::string::npos : at + needle.size();
}

// The end of the JSON string starting at the quote `open`.
std::size_t string_end(const std::string& json, std::size_t open) {
  for (std::size_t i = open + 1; i < json.size(); ++i) {
    if (json[i] == '\\') {
      ++i;
    } else if (json[i] == '"') {
      return i;
    }
  }
  return std::string::npos;
}

}  // namespace

std::optional<std::int64_t> json_int(const std::string& json, const std::string& key) {
  const auto at = value_start(json, key);
  if (at == std::string::npos || at >= json.size() || json[at] < '0' || json[at] > '9') return std::nullopt;
  return std::strtoll(json.c_str() + at, nullptr, 10);
}

std::optional<std::string> json_text(const std::string& json, const std::string& key) {
  const auto at = value_start(json, key);
  if (at == std::string::npos || at >= json.size() || json[at] != '"') return std::nullopt;
  const auto end = string_end(json, at);
  if (end == std::string::npos) return std::nullopt;
  return json.substr(at + 1, end - at - 1);
}

std::vector<std::string> json_messages(const std::string& json) {
  std::vector<std::string> out;
  auto at = value_start(json, "messages");
  if (at == std::string::npos || at >= json.size() || json[at] != '[') return out;
  ++at;
  while (at < json.size() && json[at] == '"') {
    const auto end = string_end(json, at);
    if (end == std::string::npos) break;
    out.push_back(json.substr(at + 1, end - at - 1));
    at = end + 1;
    if (at < json.size() && json[at] == ',') ++at;
  }
  return out;
}

}  // namespace kiv::testing
