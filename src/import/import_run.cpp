#include "import/import_run.h"

#include <vector>

#include "core/text.h"
#include "import/collection_file.h"
#include "import/posting_pass.h"
#include "journal/history.h"
#include "journal/sha256.h"
#include "source/folder_probe.h"
#include "source/transfer_source.h"
#include "store/connection.h"
#include "store/db_error.h"

namespace kiv::import {

namespace {

std::string summary_text(std::int64_t lines, const TrailerLine& trailer) {
  return "此 銷 帳 檔 案 之 總 筆 數 為 " + std::to_string(lines) + "\r\n\r\n" + "入 帳 總 筆 數 為 " +
         std::to_string(trailer.posted_cnt) + "\r\n\r\n" + "總 金 額 為 " + amount_text(trailer.file_amt) + "\r\n\r\n" +
         "入 帳 總 金 額 為 " + amount_text(trailer.posted_amt);
}

std::string question_text(std::int64_t errors, const std::string& log_path) {
  return "共 " + std::string(" ") + std::to_string(errors) + " 筆銷帳異常" + "\r" + "是否立刻查看" + log_path + "檔案";
}

// The run as the journal will record it, from what the validation pass saw.
journal::RunRecord run_record(const RunRequest& request, const std::string& source, journal::Sha256& hash,
                              const Validation& validation) {
  journal::RunRecord run;
  run.context = request.context;
  run.source = source;
  run.size = static_cast<std::int64_t>(hash.size());
  run.sha256 = hash.hex_digest();
  run.lines = validation.detail_count;
  if (validation.last_trailer) {
    run.trailer = true;
    run.file_cnt = validation.last_trailer->file_cnt;
    run.file_amt = validation.last_trailer->file_amt;
    run.posted_cnt = validation.last_trailer->posted_cnt;
    run.posted_amt = validation.last_trailer->posted_amt;
  }
  return run;
}

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

  journal::Sha256 hash;  // of the bytes as the validation pass reads them
  auto checked = validate_file(source, [&hash](std::string_view bytes) { hash.update(bytes); });
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
  PassPlan plan;
  plan.journal_run = run_record(request, source, hash, validation);
  result.outcome = RunOutcome::error;

  std::optional<store::Connection> db;
  try {
    db.emplace(store::Connection::open(request.paths, [&op] { op.pump_events(); }));
    db->set_busy_timeout_ms(request.busy_timeout_ms);
    if (request.dry_run) db->backend().hold_changes_in_memory(true);
    // The same file again: after a completed run only when the operator
    // says so; after one that did not complete, from where it stopped.
    const auto previous = request.journal ? journal::latest_post_of(*db, plan.journal_run->sha256) : std::nullopt;
    if (previous && previous->completed()) {
      if (!op.confirm_post_again(post_again_text(previous->ended))) {
        result.outcome = RunOutcome::stopped;
        return result;
      }
    } else if (previous) {
      plan.settled = journal::settled_lines(*db, previous->run);
      plan.journal_run->resumes = previous->run;
      result.resumed_run = previous->run;
    }
  } catch (const store::DbError& e) {
    result.lines = validation.detail_count;
    report_error(op, e.error());
    return result;
  }
  result.lines = validation.detail_count;
  if (!request.journal) plan.journal_run.reset();

  std::optional<TrailerLine> trailer;
  PostingPass pass(request, op, ops, *db, result, std::move(plan));
  if (!pass.run(source, trailer)) return result;
  // Every line was reached: a part missing from the total is a difference.
  result.balance.credited_total = validation.credited_total;

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

std::string post_again_text(const std::string& ended) {
  return "此檔案已於 " + journal::minute_text(ended) + " 入帳,是否再次入帳?";
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
