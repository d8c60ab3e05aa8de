#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// Money is counted in hundredths, never in binary floating point.
using Cents = std::int64_t;

// The collection file's text form: whole units without leading zeros, a point,
// then "0" for no hundredths or two digits ("1500.0", "12.05", "12.50").
std::string amount_text(Cents cents);

// Plain decimal text that reads back to the same value ("1515", "1515.05", "-3.5").
std::string plain_decimal(Cents cents);

// Strict parse of a plain decimal text with at most two decimals (an optional
// leading "-"); nullopt for anything else, an empty text included.
std::optional<Cents> parse_decimal(std::string_view text);

// Whole number, a half to the even neighbour (100.5 -> 100, 101.5 -> 102).
std::int64_t round_half_even(Cents cents);

// Digit grouping with a comma every three digits ("###,##0"): 1234567 -> "1,234,567".
std::string group_digits(std::int64_t value);

}  // namespace kiv
