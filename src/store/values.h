#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv::store {

// The date texts of the program ("yyyy/MM/dd" as a line's tran_day,
// "MM/dd/yyyy" as tran_day_mdy and tran_day2) become the stored form
// "YYYY-MM-DD". A text that is not a real calendar date throws DbError 13.
std::string stored_date(std::string_view program_date);

// A stored date "YYYY-MM-DD" (a time after it is ignored) as "mm/dd/yyyy".
// Other texts are returned unchanged.
std::string mdy_from_stored_date(std::string_view stored);

// A group text where the rules splice it bare: digits only (after trimming
// blanks), else DbError 13. An empty text is not a group.
std::int64_t strict_group(std::string_view group_text);

}  // namespace kiv::store
