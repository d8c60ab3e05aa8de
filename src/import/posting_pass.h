#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "import/collection_file.h"
#include "import/deferred_operator.h"
#include "import/error_log.h"
#include "import/import_run.h"
#include "import/line_dispatch.h"
#include "journal/run_journal.h"
#include "store/connection.h"
#include "store/row_capture.h"
#include "store/transaction.h"

namespace kiv::import {

// What the posting pass knows before it starts, besides the request.
struct PassPlan {
  // The run as the journal records it; none when nothing is recorded.
  std::optional<journal::RunRecord> journal_run;
  // Lines an earlier run of the file settled: line number -> the run that
  // posted it, ascending.
  std::vector<std::pair<std::int64_t, std::int64_t>> settled;
};

// The posting pass over one connection: every detail line up to the first
// trailer, each atomic (in its own savepoint, or taken back from its rows'
// images where savepoints are costly), lines grouped into transactions that
// are committed often and before any message box. The journal's rows of a
// batch go into the batch's own transaction.
class PostingPass {
 public:
  PostingPass(const RunRequest& request, Operator& op, LineOperations& operations, store::Connection& db,
              RunResult& result, PassPlan plan);

  // False when an error ended the run (already reported).
  bool run(const std::string& source, std::optional<TrailerLine>& trailer);

 private:
  // Counts and records of the lines in the open transaction: they become the
  // run's only once it is committed. The raw lines are kept too, so that if
  // the transaction is lost they can be logged as not posted instead of
  // vanishing unexplained.
  struct Pending {
    std::int64_t ok = 0, failed = 0, settled = 0, lines = 0;
    Cents cents = 0;
    journal::Balance balance;
    std::vector<std::string> written;
    std::vector<journal::LineRecord> records;
  };

  bool post_line(std::string_view raw, std::int64_t line_no, std::int64_t file_line);
  std::int64_t settled_by(std::int64_t line_no);
  void begin_batch();
  void restore_line();
  void start_journal();
  bool commit_due() const;
  std::optional<Error> write_journal_rows();
  void lose_batch();
  std::optional<Error> commit(std::string_view outcome);
  journal::RunRecord counters() const;
  void record_outcome_after_failure();
  bool fail(const Error& error);

  Operator& op_;
  DeferredOperator deferred_;
  LineOperations& operations_;
  store::Connection& db_;
  RunResult& result_;
  const LineObserver& on_line_;
  const bool dry_run_;
  const std::chrono::milliseconds commit_interval_;
  // When the run started: the error log's name and the journal's run row.
  const std::tm started_;
  ErrorLog log_;
  writeoff::LineContext ctx_;
  std::optional<journal::RunJournal> journal_;
  std::optional<store::RowCapture> capture_;
  // A failed line is taken back from the capture's images rather than a
  // savepoint: on a store where savepoints are costly.
  bool by_images_ = false;
  std::vector<std::pair<std::int64_t, std::int64_t>> settled_;
  std::size_t next_settled_ = 0;
  AgencyMarks marks_;
  std::optional<store::Transaction> transaction_;
  std::chrono::steady_clock::time_point batch_started_;
  Pending pending_;
  std::size_t journal_written_ = 0;  // pending_.records already in the journal
  bool run_row_on_disk_ = false;
  bool outcome_written_ = false;
  std::vector<std::string> lost_;  // lines of a batch whose commit failed
};

}  // namespace kiv::import
