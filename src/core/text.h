#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv {

// Without leading and trailing blanks (spaces only, as the suite trims).
std::string trim(std::string_view text);

// Numeric value of a text: leading blanks skipped, then the leading ASCII
// digits (no sign, no point); 0 when there are none. Saturates instead of
// overflowing on absurdly long digit runs.
std::int64_t numeric_value(std::string_view text);

// The characters of `text` from 1-based `position`, at most `length` of them;
// fewer (or none) when the text is shorter.
std::string_view cut(std::string_view text, std::size_t position, std::size_t length);

}  // namespace kiv
