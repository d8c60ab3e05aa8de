#include "import/posting_pass.h"

#include <ctime>

#include "store/db_error.h"

namespace kiv::import {

namespace {

// A batch's journal rows go into its transaction this many lines at a time,
// so that what the run holds in memory stays small however long a batch is
// open. The run's first batch is also committed after this many lines at
// most: the run's row is then soon on disk, where another workstation
// posting the same file finds it.
constexpr std::size_t kLinesPerJournalWrite = 256;
constexpr std::int64_t kFirstBatchLines = 256;

std::tm local_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

journal::LineOutcome outcome_of(LineEnd end) {
  switch (end) {
    case LineEnd::posted_with_amount:
      return journal::LineOutcome::posted_with_amount;
    case LineEnd::posted:
      return journal::LineOutcome::posted;
    case LineEnd::failed_transfer:
      return journal::LineOutcome::failed_transfer;
    case LineEnd::logged:
    case LineEnd::environment:
      break;
  }
  return journal::LineOutcome::logged;
}

}  // namespace

PostingPass::PostingPass(const RunRequest& request, Operator& op, LineOperations& operations, store::Connection& db,
                         RunResult& result, PassPlan plan)
    : op_(op),
      deferred_(op),
      operations_(operations),
      db_(db),
      result_(result),
      on_line_(request.on_line),
      dry_run_(request.dry_run),
      commit_interval_(request.commit_interval_ms),
      started_(local_now()),
      log_(error_log_path(request.paths.work_dir(), started_)),
      settled_(std::move(plan.settled)) {
  if (plan.journal_run && !dry_run_) {
    plan.journal_run->started = journal::local_time_text(started_);
    journal_.emplace(std::move(*plan.journal_run));
    capture_.emplace(db_);
    by_images_ = db_.backend().savepoints_are_costly();
  }
}

bool PostingPass::run(const std::string& source, std::optional<TrailerLine>& trailer) {
  Error error;
  auto reader = CollectionReader::open(source, error);
  if (!reader) return fail(error);
  std::int64_t i = 0;
  while (auto line = reader->next()) {
    if (record_kind(*line) != RecordKind::detail) {
      trailer = cut_trailer(*line);
      break;
    }
    // The batch so far is committed once the next record is known to be a
    // detail line: the run's last batch is then still open when the run
    // completes, and records its outcome without a transaction of its own.
    if (commit_due()) {
      if (auto failure = commit(journal::kRunning)) return fail(*failure);
      deferred_.release();
    }
    if (pending_.records.size() - journal_written_ >= kLinesPerJournalWrite) {
      if (auto failure = write_journal_rows()) return fail(*failure);
    }
    ++i;
    op_.show_progress(i, result_.lines);
    op_.pump_events();
    if (!post_line(*line, i, reader->line_number())) return false;
  }
  if (reader->failed()) return fail(reader->error());
  // The log is on disk before the run is recorded as completed.
  if (auto failure = log_.sync()) return fail(*failure);
  if (journal_ && !transaction_ && !journal_->started()) {
    // A file without detail lines is a run all the same.
    try {
      begin_batch();
    } catch (const store::DbError& e) {
      return fail(e.error());
    }
  }
  if (auto failure = commit(journal::kCompleted)) return fail(*failure);
  if (dry_run_ && transaction_) transaction_->rollback();
  transaction_.reset();
  deferred_.release();
  if (auto failure = log_.close()) return fail(*failure);
  if (log_.created()) result_.log_path = log_.path();
  if (journal_) result_.run_number = journal_->run_number();
  return true;
}

std::int64_t PostingPass::settled_by(std::int64_t line_no) {
  while (next_settled_ < settled_.size() && settled_[next_settled_].first < line_no) ++next_settled_;
  if (next_settled_ < settled_.size() && settled_[next_settled_].first == line_no)
    return settled_[next_settled_].second;
  return 0;
}

// Takes back a failed line without a savepoint, from the rows' images. The
// transaction must still be open: after some I/O errors SQLite has rolled it
// back on its own, and writing the images then would write them alone.
void PostingPass::restore_line() {
  if (!transaction_ || !transaction_->still_open()) {
    throw store::DbError(Error{kErrGeneralFailure, "交易已被資料庫撤回", true});
  }
  capture_->restore_line();
}

// A transaction for the lines to come.
void PostingPass::begin_batch() {
  if (transaction_) return;
  transaction_.emplace(db_);
  batch_started_ = std::chrono::steady_clock::now();
  if (capture_) capture_->new_transaction();
}

// The journal's tables (on a database's first run) and the run's row are
// made in the first batch's transaction once its lines are done, so the
// journal adds no wait of its own: made before its lines, the tables would
// make SQLite reload its whole schema at every line rolled back to its
// savepoint until the batch commits.
void PostingPass::start_journal() {
  if (journal_) journal_->start(db_);
}

// Posted lines are grouped into one transaction and committed by time, not
// by count: a commit costs a sync of the disk and encrypting every page the
// batch changed, whatever the batch's size, so a crash or a failing machine
// loses at most the request's interval of work (and never half a line). A
// message waiting to be shown is a reason of its own: it is never shown while
// the database is locked.
bool PostingPass::commit_due() const {
  if (pending_.lines == 0) return false;
  if (journal_ && !run_row_on_disk_ && pending_.lines >= kFirstBatchLines) return true;
  return deferred_.holding() || std::chrono::steady_clock::now() - batch_started_ >= commit_interval_;
}

// The journal rows of the lines posted so far in the batch, into its
// transaction; the lines' changes are not kept once written, nor the lines
// themselves unless someone waits to be told of them. A failure loses the
// batch, as a failed commit does.
std::optional<Error> PostingPass::write_journal_rows() {
  if (journal_ && !journal_->started()) return std::nullopt;  // the first batch writes them at its commit
  if (journal_) {
    try {
      journal_->write_lines(db_, pending_.records, journal_written_);
    } catch (const store::DbError& e) {
      transaction_.reset();
      lose_batch();
      return e.error();
    }
  }
  if (on_line_) {
    for (std::size_t i = journal_written_; i < pending_.records.size(); ++i) {
      std::vector<store::RowChange>().swap(pending_.records[i].changes);
    }
    journal_written_ = pending_.records.size();
  } else {
    pending_.records.clear();
    journal_written_ = 0;
  }
  return std::nullopt;
}

// The batch's transaction was rolled back: its lines were not posted, and
// are logged as such when the run ends.
void PostingPass::lose_batch() {
  if (journal_ && !run_row_on_disk_) journal_->start_lost();
  for (std::string& raw : pending_.written) lost_.push_back(std::move(raw));
  pending_ = {};
  journal_written_ = 0;
  marks_.forget();
}

bool PostingPass::post_line(std::string_view raw, std::int64_t line_no, std::int64_t file_line) {
  const DetailLine detail = cut_detail(raw);
  journal::LineRecord record;
  record.line_no = line_no;
  record.file_line = file_line;
  record.amount = detail.amount_cents;
  record.stdid = detail.stdid;
  record.grpid = detail.grpid;
  record.fail_code = detail.fail_code;

  if (const std::int64_t by = settled_by(line_no); by != 0) {
    // Posted by an earlier run that did not complete: left as it is.
    if (journal_) {
      try {
        begin_batch();
      } catch (const store::DbError& e) {
        return fail(e.error());
      }
    }
    record.outcome = journal::LineOutcome::settled;
    record.settled_by = by;
    ++pending_.settled;
    if (record.credited()) pending_.balance.add(record.outcome, record.amount);
    pending_.records.push_back(std::move(record));
    ++pending_.lines;
    return true;
  }

  ctx_.payer_id = detail.payer_id;
  ctx_.payer_acct = detail.payer_acct;
  ctx_.comb_flag = detail.comb_flag;
  ctx_.tran_day2.clear();
  ctx_.pay_way.clear();

  LineVerdict verdict;
  try {
    begin_batch();
    std::optional<store::Savepoint> line;
    if (!by_images_) line.emplace(db_, "kiv_line");
    if (capture_) capture_->begin_line();
    writeoff::Session session{db_, deferred_};
    verdict = dispatch_line(session, ctx_, detail, operations_, &marks_);
    if (verdict.end == LineEnd::environment || verdict.end == LineEnd::logged) {
      marks_.drop_line();
      if (by_images_) {
        restore_line();
      } else if (verdict.end == LineEnd::logged) {
        line->rollback();
      } else {
        // After an I/O error, a full disk or a damaged page SQLite has rolled
        // the whole transaction back and the savepoint is gone with it: the
        // failure to report is the line's, not that of undoing it.
        try {
          line->rollback();
        } catch (const store::DbError&) {
        }
      }
      if (capture_) capture_->discard_line();
    } else {
      // The line's changes are read before its savepoint goes: a failure to
      // read them takes the line back with it.
      if (capture_) record.changes = capture_->end_line();
      if (line) line->release();
      marks_.keep_line();
    }
  } catch (const store::DbError& e) {
    if (by_images_ && transaction_) {
      // Part of the line may be in the batch with nothing to take it back:
      // the batch goes whole, and its lines are logged as not posted.
      transaction_.reset();
      lose_batch();
    }
    if (capture_) capture_->discard_line();
    marks_.drop_line();
    // The failure to report is the line's own when taking it back failed too.
    if (verdict.end != LineEnd::environment) verdict = LineVerdict{LineEnd::environment, {}, e.error()};
  }

  if (verdict.end == LineEnd::environment) return fail(verdict.error);
  if (verdict.end != LineEnd::logged) pending_.written.emplace_back(raw);
  record.outcome = outcome_of(verdict.end);
  switch (verdict.end) {
    case LineEnd::posted_with_amount:
      pending_.cents += detail.amount_cents;
      [[fallthrough]];
    case LineEnd::posted:
      ++pending_.ok;
      break;
    case LineEnd::failed_transfer:
      ++pending_.failed;
      break;
    case LineEnd::logged:
      record.log_text = verdict.log_message;
      if (!dry_run_) {
        if (auto failure = log_.write(raw, verdict.log_message)) return fail(*failure);
      }
      ++result_.errors;
      break;
    case LineEnd::environment:
      break;
  }
  if (record.credited()) pending_.balance.add(record.outcome, record.amount);
  pending_.records.push_back(std::move(record));
  ++pending_.lines;
  return true;
}

journal::RunRecord PostingPass::counters() const {
  journal::RunRecord r;
  r.ok = result_.ok + pending_.ok;
  r.failed = result_.failed + pending_.failed;
  r.errors = result_.errors;
  r.settled = result_.settled + pending_.settled;
  r.posted_cents = result_.posted_cents + pending_.cents;
  r.log = log_.created() ? log_.path() : std::string();
  return r;
}

// Writes the batch's journal rows (and the run's outcome unless it is still
// running) and commits. A dry run keeps its one transaction open to the end.
std::optional<Error> PostingPass::commit(std::string_view outcome) {
  std::optional<Error> failure;
  if (transaction_) {
    try {
      if (!transaction_->still_open()) {
        throw store::DbError(Error{kErrGeneralFailure, "交易已被資料庫撤回", true});
      }
      start_journal();
      if (journal_) {
        journal_->write_lines(db_, pending_.records, journal_written_);
        if (outcome != journal::kRunning) journal_->write_outcome(db_, counters(), outcome);
      }
      if (!dry_run_) {
        transaction_->commit();
        transaction_.reset();
        if (journal_ && journal_->started()) run_row_on_disk_ = true;
        outcome_written_ = outcome != journal::kRunning;
      }
    } catch (const store::DbError& e) {
      const bool committed = transaction_ && transaction_->committed();
      transaction_.reset();  // rolls back what is not committed: those lines were not posted
      if (!committed) {
        lose_batch();
        return e.error();
      }
      // A commit that failed only after it was whole on disk posted its
      // lines: they are counted, never logged as lost.
      if (journal_ && journal_->started()) run_row_on_disk_ = true;
      outcome_written_ = outcome != journal::kRunning;
      failure = e.error();
    }
  }
  marks_.forget();
  result_.ok += pending_.ok;
  result_.failed += pending_.failed;
  result_.settled += pending_.settled;
  result_.posted_cents += pending_.cents;
  result_.balance.with_amount += pending_.balance.with_amount;
  result_.balance.without_amount += pending_.balance.without_amount;
  result_.balance.logged += pending_.balance.logged;
  result_.balance.settled += pending_.balance.settled;
  if (on_line_) {
    for (const journal::LineRecord& record : pending_.records) on_line_(record);
  }
  pending_ = {};
  journal_written_ = 0;
  return failure;
}

// After an error: the run's row says the run did not complete, when it is
// on disk and the last commit could not say so. Best effort, without waiting
// for another program: a row left "running" means the same.
void PostingPass::record_outcome_after_failure() {
  if (!journal_ || !run_row_on_disk_ || outcome_written_) return;
  try {
    db_.set_busy_timeout_ms(0);
    store::Transaction transaction(db_);
    journal_->write_outcome(db_, counters(), journal::kFailed);
    transaction.commit();
  } catch (const store::DbError&) {
  }
}

// Ends the run on an error: what was posted before is kept, the message
// is shown once.
bool PostingPass::fail(const Error& error) {
  // The first failure is the cause to report. A commit failing after it
  // (SQLite may have rolled the batch back already) leaves its lines
  // uncounted, which is all the operator needs to know of it.
  (void)commit(journal::kFailed);
  if (dry_run_ && transaction_) {
    try {
      transaction_->rollback();
    } catch (const store::DbError&) {
    }
  }
  transaction_.reset();
  record_outcome_after_failure();
  deferred_.release();
  for (const auto& raw : lost_) {
    if (log_.write(raw, log_text::kWriteFailed)) break;
    ++result_.errors;
  }
  (void)log_.close();
  if (log_.created()) result_.log_path = log_.path();
  if (journal_ && run_row_on_disk_) result_.run_number = journal_->run_number();
  report_error(op_, error);
  return false;
}

}  // namespace kiv::import
