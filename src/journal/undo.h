#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/error.h"
#include "journal/journal.h"
#include "store/connection.h"

namespace kiv::journal {

// A row the undo cannot put back: it is no longer as the run left it.
struct UndoConflict {
  std::string table;
  std::int64_t rowid = 0;  // as the run recorded it
  std::string expected;    // the run's last image of the row (encoded); empty for a row to restore
  std::string found;       // the row now at that rowid (encoded); empty when there is none
  std::string reason;      // set when putting the row back failed
};

struct UndoResult {
  enum class Status {
    undone,   // every row is back as before the run
    refused,  // rows differ from the run's images: nothing changed
    no_such_run,
    already_undone,  // undone_by tells by which run
    not_a_post,      // an undo is not itself undone; post the file again instead
  };
  Status status = Status::no_such_run;
  std::int64_t undo_run = 0;   // the undo's own run number
  std::int64_t undone_by = 0;  // for already_undone
  std::int64_t deleted = 0, updated = 0, restored = 0;
  std::vector<UndoConflict> conflicts;
};

// Takes `run` back in one transaction: rows it updated return to their
// images before it, rows it inserted are deleted, rows it deleted come back
// (with their old rowid when that is free). Every row must still be as the
// run left it, else nothing is changed and the differing rows are listed.
// A row is found by its rowid, or, when compaction has renumbered the
// table, by its content (identical rows are interchangeable). The undo is
// recorded as a run of its own (its changes under line numbers that count
// its steps of rows), and the run is marked undone.
// Throws DbError when the database fails.
UndoResult undo_run(store::Connection& db, std::int64_t run, const RunContext& context);

}  // namespace kiv::journal
