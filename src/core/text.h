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

// The length of the UTF-8 character at `i` (1 for any ASCII byte, NUL
// included), 0 when the bytes there are not one.
std::size_t utf8_length_at(std::string_view text, std::size_t i);

// Whether `text` is UTF-8 without a NUL byte: what a server stores as text.
bool valid_utf8(std::string_view text);

// `text` with each NUL byte and each byte that is not part of a UTF-8
// character written as \xNN, so that it can be stored as text anywhere and
// still shows which bytes the file held.
std::string escape_non_utf8(std::string_view text);

}  // namespace kiv
