#include "core/money.h"

#include <cstdlib>

namespace kiv {

namespace {

std::string two_digits(std::int64_t v) {
  std::string s = std::to_string(v);
  return v < 10 ? "0" + s : s;
}

}  // namespace

std::string amount_text(Cents cents) {
  const bool negative = cents < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
  const std::uint64_t whole = magnitude / 100;
  const std::uint64_t hundredths = magnitude % 100;
  std::string text = (negative ? "-" : "") + std::to_string(whole) + ".";
  text += hundredths == 0 ? std::string("0") : two_digits(static_cast<std::int64_t>(hundredths));
  return text;
}

std::string plain_decimal(Cents cents) {
  const bool negative = cents < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 100);
  if (magnitude % 100 != 0) {
    text += "." + two_digits(static_cast<std::int64_t>(magnitude % 100));
  }
  return text;
}

std::optional<Cents> parse_decimal(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  const std::size_t digits_start = i;
  std::uint64_t whole = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    whole = whole * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (whole > 90'000'000'000'000'000ULL / 100) return std::nullopt;
    ++i;
  }
  const bool has_whole = i > digits_start;
  std::uint64_t hundredths = 0;
  bool has_fraction = false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    int places = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (places == 2) {
        if (text[i] != '0') return std::nullopt;  // finer than a hundredth
      } else {
        hundredths = hundredths * 10 + static_cast<std::uint64_t>(text[i] - '0');
        ++places;
      }
      has_fraction = true;
      ++i;
    }
    if (places == 1) hundredths *= 10;
  }
  if (i != text.size() || (!has_whole && !has_fraction)) return std::nullopt;
  const auto value = static_cast<Cents>(whole * 100 + hundredths);
  return negative ? -value : value;
}

std::int64_t round_half_even(Cents cents) {
  std::int64_t whole = cents / 100;
  std::int64_t rest = cents % 100;  // same sign as cents
  if (rest < 0) {
    rest += 100;
    whole -= 1;
  }
  if (rest > 50 || (rest == 50 && (whole % 2 != 0))) whole += 1;
  return whole;
}

std::string group_digits(std::int64_t value) {
  const bool negative = value < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string out;
  const std::size_t first = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
  out += digits.substr(0, first);
  for (std::size_t i = first; i < digits.size(); i += 3) {
    out += ",";
    out += digits.substr(i, 3);
  }
  return negative ? "-" + out : out;
}

}  // namespace kiv
