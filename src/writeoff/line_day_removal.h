#pragma once

#include <string_view>

#include "store/connection.h"
#include "writeoff/line_context.h"
#include "writeoff/write_conditions.h"

namespace kiv::writeoff {

// When a found record names a second transfer date, the line is written onto
// that date's record and the line-date record goes: its fee items, the record
// itself, and the agency record of the date and group once no payment record
// of that date and group is left.

// The line-date record of one student.
void remove_line_day(store::Connection& db, std::string_view stdid, const LineKey& key);

// The line-date records of every student the payer's records of the line's
// date name, whoever pays them.
void remove_line_day_of_payer(store::Connection& db, const LineContext& ctx, const LineKey& key);

}  // namespace kiv::writeoff
