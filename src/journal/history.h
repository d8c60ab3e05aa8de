#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "journal/journal.h"
#include "store/connection.h"

namespace kiv::journal {

// Whether the database has the journal yet (the suite's databases start without).
bool journal_present(store::Connection& db);

// Every run, newest first.
std::vector<RunRecord> list_runs(store::Connection& db);
std::optional<RunRecord> find_run(store::Connection& db, std::int64_t run);

// The latest post run of the file with this hash that has not been undone.
std::optional<RunRecord> latest_post_of(store::Connection& db, const std::string& sha256);

// The lines that `run` settled (posted, or itself found settled), by line
// number, with the run that really posted each: what a run resuming it skips.
std::vector<std::pair<std::int64_t, std::int64_t>> settled_lines(store::Connection& db, std::int64_t run);

// The run's lines in file order, without their changes.
void for_each_line(store::Connection& db, std::int64_t run, const std::function<void(const LineRecord&)>& visit);

// A run's balance from its lines. For a run that did not complete, the lines
// it did not record were not reached.
Balance run_balance(store::Connection& db, const RunRecord& run);

}  // namespace kiv::journal
