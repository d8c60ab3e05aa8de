#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/sql.h"
#include "store/suite_schema.h"

namespace kiv::store {

// The posting journal's own tables: every import run (KIV27_Run), every
// detail line it handled (KIV27_Line) and every row a line inserted, updated
// or deleted, with its images (KIV27_Change). They belong to this program
// alone, are made by the first run that needs them and never alter another
// table. A database without them is still the suite's.
inline constexpr std::string_view kRunTable = "KIV27_Run";
inline constexpr std::string_view kLineTable = "KIV27_Line";
inline constexpr std::string_view kChangeTable = "KIV27_Change";

std::span<const SuiteTable> journal_tables();

// Creates whichever of the journal's tables and indexes are missing.
std::vector<std::string> journal_ddl(Dialect dialect);

// A table of the journal's own, whose writes are never journalled themselves.
bool is_journal_table(std::string_view name);

}  // namespace kiv::store
