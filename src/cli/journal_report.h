#pragma once

#include <string>

#include "journal/journal.h"

namespace kiv::cli {

// How the headless tool shows what the journal holds: as text for the
// operator, as JSON for programs.

// The tool's own context for the runs it records: "kiv2700", the user, the host.
journal::RunContext tool_context();

// Hundredths as "1,515.00".
std::string money_text(Cents cents);

std::string line_text(const journal::LineRecord& line);
std::string line_json(const journal::LineRecord& line);

// The balance statement, after the counters.
std::string balance_text(const journal::Balance& balance);
std::string balance_json(const journal::Balance& balance);

std::string run_line_text(const journal::RunRecord& run);  // one row of the history
std::string run_text(const journal::RunRecord& run);       // one run in full
std::string run_json(const journal::RunRecord& run);

}  // namespace kiv::cli
