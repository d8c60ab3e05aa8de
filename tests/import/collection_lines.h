#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "import/collection_writer.h"

namespace kiv::testing {

inline std::string detail(Cents amount, const std::string& fail_code = "", const std::string& roc_date = "0931015") {
  return import::format_detail({roc_date, "00012345678901", "A123456789", amount, "", "12345", "01", fail_code});
}

inline std::string trailer(std::int64_t count, Cents amount) {
  return import::format_trailer(count, amount, count, amount);
}

inline std::string put(std::string line, std::size_t column, std::string_view bytes) {
  return line.replace(column - 1, bytes.size(), bytes);
}

inline std::string crlf_file(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

}  // namespace kiv::testing
