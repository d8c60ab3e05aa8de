#pragma once

// Builders of fixed-width collection-file lines from named fields, so tests
// say which field they set instead of counting columns.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/money.h"

namespace kiv::testing {

// Writes `value` into `line` from 1-based `column`, growing the line if needed.
inline void put(std::string& line, std::size_t column, std::string_view value) {
  if (line.size() < column - 1 + value.size()) line.resize(column - 1 + value.size(), ' ');
  line.replace(column - 1, value.size(), value);
}

// Zero-padded digits of `value`, `width` wide.
inline std::string digits(std::int64_t value, int width) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*lld", width, static_cast<long long>(value));
  return buffer;
}

struct DetailFields {
  // Seven bytes (yyyMMdd) leave columns 17..19 blank; six bytes (yyMMdd) get
  // "9999" in columns 16..19 as the postal service's files carry something there.
  std::string date = "0931015";
  std::string payer_acct = "00012345678901";
  std::string payer_id = "A123456789";
  std::string amt_int = "000001500";
  std::string amt_dec = "00";
  std::string comb_flag = " ";
  std::string stdid = "12345";
  std::string grpid = "01";
  std::string fail_code = "  ";

  DetailFields& cents(Cents value) {
    amt_int = digits(value / 100, 9);
    amt_dec = digits(value % 100, 2);
    return *this;
  }
};

// An 80-byte detail line.
inline std::string detail_line(const DetailFields& f = {}) {
  std::string line(80, ' ');
  put(line, 1, "1");
  put(line, 2, "00000000");
  if (f.date.size() == 6) put(line, 16, "9999");
  put(line, 10, f.date);
  put(line, 20, f.payer_acct);
  put(line, 34, f.payer_id);
  put(line, 44, f.amt_int);
  put(line, 53, f.amt_dec);
  put(line, 55, "000000");
  put(line, 61, f.comb_flag);
  put(line, 62, "000");
  put(line, 65, f.stdid);
  put(line, 70, f.grpid);
  put(line, 72, "0000000");
  put(line, 79, f.fail_code);
  return line;
}

inline std::string detail_line(Cents amount) {
  return detail_line(DetailFields().cents(amount));
}

struct TrailerFields {
  std::int64_t file_cnt = 0;
  Cents file_amt = 0;
  std::int64_t posted_cnt = 0;
  Cents posted_amt = 0;
};

// An 80-byte trailer line.
inline std::string trailer_line(const TrailerFields& f) {
  std::string line(80, ' ');
  put(line, 1, "2");
  put(line, 20, digits(f.file_cnt, 7));
  put(line, 27, digits(f.file_amt / 100, 11));
  put(line, 38, digits(f.file_amt % 100, 2));
  put(line, 56, digits(f.posted_cnt, 7));
  put(line, 63, digits(f.posted_amt / 100, 11));
  put(line, 74, digits(f.posted_amt % 100, 2));
  return line;
}

// A trailer whose file and credited figures are both `count` lines of `amount` in total.
inline std::string trailer_line(std::int64_t count, Cents amount) {
  return trailer_line(TrailerFields{count, amount, count, amount});
}

}  // namespace kiv::testing
