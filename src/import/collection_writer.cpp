#include "import/collection_writer.h"

#include <algorithm>

namespace kiv::import {

namespace {

// Writes `value` into 1-based column `column` of `line`, `width` bytes wide.
void put(std::string& line, std::size_t column, std::size_t width, const std::string& value) {
  std::string field = value.substr(0, std::min(width, value.size()));
  field.resize(width, ' ');
  line.replace(column - 1, width, field);
}

std::string zero_padded(std::int64_t value, std::size_t width) {
  std::string digits = std::to_string(value < 0 ? 0 : value);
  if (digits.size() > width) digits = digits.substr(digits.size() - width);
  return std::string(width - digits.size(), '0') + digits;
}

}  // namespace

std::string format_detail(const DetailFields& f) {
  std::string line(80, ' ');
  put(line, 1, 1, "1");
  put(line, 2, 8, "00000000");
  if (f.roc_date.size() == 6) {
    put(line, 10, 6, f.roc_date);
    put(line, 16, 4, "0000");  // a 6-character date is told by what follows it
  } else {
    put(line, 10, 7, f.roc_date);
  }
  put(line, 20, 14, f.payer_acct);
  put(line, 34, 10, f.payer_id);
  put(line, 44, 9, zero_padded(f.amount / 100, 9));
  put(line, 53, 2, zero_padded(f.amount % 100, 2));
  put(line, 55, 6, "000000");
  put(line, 61, 1, f.comb_flag.empty() ? "0" : f.comb_flag);
  put(line, 62, 3, "000");
  put(line, 65, 5, f.stdid);
  put(line, 70, 2, f.grpid);
  put(line, 72, 7, "0000000");
  put(line, 79, 2, f.fail_code);
  return line;
}

std::string format_trailer(std::int64_t file_cnt, Cents file_amt, std::int64_t posted_cnt, Cents posted_amt) {
  std::string line(80, ' ');
  put(line, 1, 1, "2");
  put(line, 2, 18, std::string(18, '0'));
  put(line, 20, 7, zero_padded(file_cnt, 7));
  put(line, 27, 11, zero_padded(file_amt / 100, 11));
  put(line, 38, 2, zero_padded(file_amt % 100, 2));
  put(line, 56, 7, zero_padded(posted_cnt, 7));
  put(line, 63, 11, zero_padded(posted_amt / 100, 11));
  put(line, 74, 2, zero_padded(posted_amt % 100, 2));
  return line;
}

}  // namespace kiv::import
