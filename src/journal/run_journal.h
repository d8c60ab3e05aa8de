#pragma once

#include <cstdint>
#include <vector>

#include "journal/journal.h"
#include "store/connection.h"

namespace kiv::journal {

// What an import run writes into the journal, always inside the transaction
// that posts the lines it describes, so the journal and the data never
// disagree, after a crash included.
class RunJournal {
 public:
  // `run` holds what is known before posting: source, hash, trailer, lines,
  // context, the run resumed.
  explicit RunJournal(RunRecord run) : run_(std::move(run)) {}

  // In the run's first transaction: makes the journal's tables when they are
  // missing and the run's row, "running". Does nothing once done.
  void start(store::Connection& db);
  bool started() const { return started_; }
  // The transaction that held the start was lost: the next one starts again.
  void start_lost() { started_ = false; }

  // The rows of lines[from..] and their changes, in the open transaction.
  void write_lines(store::Connection& db, const std::vector<LineRecord>& lines, std::size_t from = 0);
  // The run's counters and outcome (and its end time, unless running), in
  // the open transaction.
  void write_outcome(store::Connection& db, const RunRecord& counters, std::string_view outcome);

  std::int64_t run_number() const { return run_.run; }
  const RunRecord& record() const { return run_; }

 private:
  RunRecord run_;
  bool started_ = false;
};

// Inserts a run's row as it stands (numbered anew) and returns its number;
// the journal's tables must exist. For runs written whole at once (an undo).
std::int64_t insert_run(store::Connection& db, RunRecord& run);
void insert_changes(store::Connection& db, std::int64_t run, std::int64_t line_no,
                    const std::vector<store::RowChange>& changes);
// Makes the journal's tables and indexes where they are missing.
void create_journal_tables(store::Connection& db);

}  // namespace kiv::journal
