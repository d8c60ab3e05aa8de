#include "store/values.h"

#include "core/text.h"
#include "store/db_error.h"

namespace kiv::store {

namespace {

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool is_leap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int days_in_month(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && is_leap(y) ? 29 : kDays[m - 1];
}

int to_int(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

}  // namespace

std::string stored_date(std::string_view text) {
  std::string_view y, m, d;
  if (text.size() == 10 && text[4] == '/' && text[7] == '/') {
    y = text.substr(0, 4), m = text.substr(5, 2), d = text.substr(8, 2);
  } else if (text.size() == 10 && text[2] == '/' && text[5] == '/') {
    m = text.substr(0, 2), d = text.substr(3, 2), y = text.substr(6, 4);
  } else {
    throw_type_mismatch("日期 '" + std::string(text) + "'");
  }
  if (!all_digits(y) || !all_digits(m) || !all_digits(d)) throw_type_mismatch("日期 '" + std::string(text) + "'");
  const int year = to_int(y), month = to_int(m), day = to_int(d);
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) {
    throw_type_mismatch("日期 '" + std::string(text) + "'");
  }
  // The parts are all digits of widths 4, 2 and 2: they are the stored
  // form's parts as they stand (a line's dates are converted several times
  // per line, and formatting them through printf cost 2% of a run).
  std::string stored;
  stored.reserve(10);
  stored.append(y).append(1, '-').append(m).append(1, '-').append(d);
  return stored;
}

std::string mdy_from_stored_date(std::string_view stored) {
  if (stored.size() >= 10 && stored[4] == '-' && stored[7] == '-') {
    return std::string(stored.substr(5, 2)) + "/" + std::string(stored.substr(8, 2)) + "/" +
           std::string(stored.substr(0, 4));
  }
  return std::string(stored);
}

std::int64_t strict_group(std::string_view group_text) {
  const std::string trimmed = trim(group_text);
  if (!all_digits(trimmed) || trimmed.size() > 18) throw_type_mismatch("組別 '" + std::string(group_text) + "'");
  return numeric_value(trimmed);
}

}  // namespace kiv::store
