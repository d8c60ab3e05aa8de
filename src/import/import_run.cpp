#include "import/import_run.h"

#include <chrono>
#include <ctime>
#include <vector>

#include "core/text.h"
#include "import/collection_file.h"
#include "import/deferred_operator.h"
#include "import/error_log.h"
#include "import/line_dispatch.h"
#include "source/folder_probe.h"
#include "source/transfer_source.h"
#include "store/connection.h"
#include "store/db_error.h"
#include "store/transaction.h"

namespace kiv::import {

namespace {

// Posted lines are grouped into one transaction for speed and committed
// often, so that a crash or a failing machine loses at most this much work
// (and never half a line).
constexpr std::int64_t kLinesPerCommit = 256;
constexpr auto kCommitInterval = std::chrono::milliseconds(250);

std::string summary_text(std::int64_t lines, const TrailerLine& trailer) {
  return "此 銷 帳 檔 案 之 總 筆 數 為 " + std::to_string(lines) + "\r\n\r\n" + "入 帳 總 筆 數 為 " +
         std::to_string(trailer.posted_cnt) + "\r\n\r\n" + "總 金 額 為 " + amount_text(trailer.file_amt) + "\r\n\r\n" +
         "入 帳 總 金 額 為 " + amount_text(trailer.posted_amt);
}

std::string question_text(std::int64_t errors, const std::string& log_path) {
  return "共 " + std::string(" ") + std::to_string(errors) + " 筆銷帳異常" + "\r" + "是否立刻查看" + log_path + "檔案";
}

std::tm local_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

// Counts of lines posted inside the open transaction: they become the run's
// counts only once that transaction is committed. The lines themselves are
// kept too, so that if the transaction is lost they can be logged as not
// posted instead of vanishing unexplained.
struct Pending {
  std::int64_t ok = 0;
  std::int64_t failed = 0;
  Cents cents = 0;
  std::int64_t lines = 0;
  std::vector<std::string> written;
};

class PostingPass {
 public:
  PostingPass(const RunRequest& request, Operator& op, LineOperations& operations, store::Connection& db,
              RunResult& result)
      : op_(op),
        deferred_(op),
        operations_(operations),
        db_(db),
        result_(result),
        log_(error_log_path(request.paths.work_dir(), local_now())) {}

  // Posts every detail line up to the first trailer. False when an error
  // ended the run (already reported).
  bool run(const std::string& source, std::optional<TrailerLine>& trailer) {
    Error error;
    auto reader = CollectionReader::open(source, error);
    if (!reader) return fail(error);
    std::int64_t i = 0;
    while (auto line = reader->next()) {
      if (record_kind(*line) != RecordKind::detail) {
        trailer = cut_trailer(*line);
        break;
      }
      ++i;
      op_.show_progress(i, result_.lines);
      op_.pump_events();
      if (!post_line(*line)) return false;
    }
    if (reader->failed()) return fail(reader->error());
    if (auto failure = commit()) return fail(*failure);
    deferred_.release();
    if (auto failure = log_.close()) return fail(*failure);
    if (log_.created()) result_.log_path = log_.path();
    return true;
  }

 private:
  bool post_line(std::string_view raw) {
    const DetailLine detail = cut_detail(raw);
    ctx_.payer_id = detail.payer_id;
    ctx_.payer_acct = detail.payer_acct;
    ctx_.comb_flag = detail.comb_flag;
    ctx_.tran_day2.clear();
    ctx_.pay_way.clear();

    LineVerdict verdict;
    try {
      if (!transaction_) {
        transaction_.emplace(db_);
        batch_started_ = std::chrono::steady_clock::now();
      }
      store::Savepoint line(db_, "kiv_line");
      writeoff::Session session{db_, deferred_};
      verdict = dispatch_line(session, ctx_, detail, operations_);
      if (verdict.end == LineEnd::environment) {
        // After an I/O error, a full disk or a damaged page SQLite has rolled
        // the whole transaction back and the savepoint is gone with it: the
        // failure to report is the line's, not that of undoing it.
        try {
          line.rollback();
        } catch (const store::DbError&) {
        }
      } else if (verdict.end == LineEnd::logged) {
        line.rollback();
      } else {
        line.release();
      }
    } catch (const store::DbError& e) {
      verdict = LineVerdict{LineEnd::environment, {}, e.error()};
    }

    if (verdict.end != LineEnd::logged && verdict.end != LineEnd::environment) pending_.written.emplace_back(raw);
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
        if (auto failure = log_.write(raw, verdict.log_message)) return fail(*failure);
        ++result_.errors;
        break;
      case LineEnd::environment:
        return fail(verdict.error);
    }
    ++pending_.lines;
    if (deferred_.holding() || pending_.lines >= kLinesPerCommit ||
        std::chrono::steady_clock::now() - batch_started_ >= kCommitInterval) {
      if (auto failure = commit()) return fail(*failure);
      deferred_.release();
    }
    return true;
  }

  std::optional<Error> commit() {
    if (!transaction_) return std::nullopt;
    std::optional<Error> failure;
    try {
      transaction_->commit();
    } catch (const store::DbError& e) {
      failure = e.error();
    }
    const bool committed = transaction_->committed();
    transaction_.reset();  // rolls back what is not committed: those lines were not posted
    if (committed) {
      // A commit that failed only after it was whole on disk posted its
      // lines: they are counted, never logged as lost.
      result_.ok += pending_.ok;
      result_.failed += pending_.failed;
      result_.posted_cents += pending_.cents;
    } else {
      lost_ = std::move(pending_.written);
    }
    pending_ = {};
    return failure;
  }

  // Ends the run on an error: what was posted before is kept, the message
  // is shown once.
  bool fail(const Error& error) {
    // The first failure is the cause to report. A commit failing after it
    // (SQLite may have rolled the batch back already) leaves its lines
    // uncounted, which is all the operator needs to know of it.
    (void)commit();
    deferred_.release();
    for (const auto& raw : lost_) {
      if (log_.write(raw, log_text::kWriteFailed)) break;
      ++result_.errors;
    }
    (void)log_.close();
    if (log_.created()) result_.log_path = log_.path();
    report_error(op_, error);
    return false;
  }

  Operator& op_;
  DeferredOperator deferred_;
  LineOperations& operations_;
  store::Connection& db_;
  RunResult& result_;
  ErrorLog log_;
  writeoff::LineContext ctx_;
  std::optional<store::Transaction> transaction_;
  std::chrono::steady_clock::time_point batch_started_;
  Pending pending_;
  std::vector<std::string> lost_;  // lines of a batch whose commit failed
};

}  // namespace

RunResult read_data(const RunRequest& request, Operator& op, LineOperations* operations,
                    const CountersReady& on_counters) {
  LineOperations default_operations;
  LineOperations& ops = operations != nullptr ? *operations : default_operations;
  RunResult result;
  result.read_data_ran = true;

  std::string source;
  if (request.floppy_selected) {
    source = request.paths.staging_file();
  } else if (trim(request.path_text).empty()) {
    inform(op, "請 選 擇 檔 案");
    result.focus_file_button = true;
    return result;
  } else if (!regular_file_exists(request.path_text)) {
    inform(op, "找 不 到 檔 案 ( " + request.path_text + " )");
    return result;
  } else {
    source = request.path_text;
  }

  auto checked = validate_file(source);
  if (auto* error = std::get_if<Error>(&checked)) {
    report_error(op, *error);
    result.outcome = RunOutcome::error;
    return result;
  }
  const Validation& validation = std::get<Validation>(checked);
  if (validation.verdict == Validation::Verdict::malformed) {
    inform(op, kMsgMalformed);
    return result;
  }
  if (validation.verdict == Validation::Verdict::totals_differ) {
    inform(op, kMsgTotalsDiffer);
    return result;
  }
  result.lines = validation.detail_count;
  result.outcome = RunOutcome::error;

  std::optional<store::Connection> db;
  try {
    db.emplace(store::Connection::open(request.paths, [&op] { op.pump_events(); }));
    db->set_busy_timeout_ms(request.busy_timeout_ms);
  } catch (const store::DbError& e) {
    report_error(op, e.error());
    return result;
  }

  std::optional<TrailerLine> trailer;
  PostingPass pass(request, op, ops, *db, result);
  if (!pass.run(source, trailer)) return result;

  if (trailer) {
    result.summary = summary_text(result.lines, *trailer);
    inform(op, result.summary);
  }
  result.counters_ready = true;
  result.outcome = RunOutcome::completed;
  if (on_counters) on_counters(result);
  if (result.errors > 0 && result.log_path) {
    if (op.ask_yes_no(question_text(result.errors, *result.log_path))) {
      const std::string failure = op.open_document(*result.log_path);
      if (!failure.empty()) {
        report_error(op, Error{kErrFileNotFound, failure, true});
        result.outcome = RunOutcome::error;
        return result;
      }
    }
  }
  op.show_progress(0, 0);
  return result;
}

RunResult confirm_run(const RunRequest& request, Operator& op, LineOperations* operations,
                      const CountersReady& on_counters) {
  if (auto error = source::ensure_folder(request.paths.work_dir())) {
    report_error(op, *error);
    RunResult result;
    result.outcome = RunOutcome::error;
    return result;
  }
  if (request.floppy_selected && !source::copy_file(request.paths, op)) return RunResult{};
  return read_data(request, op, operations, on_counters);
}

}  // namespace kiv::import
