#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/money.h"
#include "core/operator.h"
#include "core/paths.h"
#include "import/line_operations.h"
#include "journal/journal.h"

namespace kiv::import {

// Told each detail line's outcome once it is final (its transaction
// committed), in file order; the line's changes are not included.
using LineObserver = std::function<void(const journal::LineRecord&)>;

// What the window (or the headless tool) hands to a run.
struct RunRequest {
  SuitePaths paths;
  bool floppy_selected = false;  // Opt1; otherwise the path in path_text
  std::string path_text;         // txt_path
  int busy_timeout_ms = 5000;    // how long a statement waits for another program
  // How long a batch of lines stays open at most before it is committed:
  // what a crash can lose of the run's work. A measurement under an
  // instruction counter, which slows the run many times over, lengthens it so
  // that the batches are as large as in a real run.
  int commit_interval_ms = 250;
  journal::RunContext context{};  // who runs it, kept with the run in the journal
  // The whole run in one transaction rolled back at its end: the same
  // counters, messages and balance, but no error log, no journal and the
  // database as it was (the file store's file byte for byte).
  bool dry_run = false;
  // Recording the run in the journal; off only to measure what it costs.
  bool journal = true;
  LineObserver on_line{};
};

struct RunResult;
// Told the counters of a completed run as soon as they are known, before the
// question about the error log, so the window shows them while it asks.
using CountersReady = std::function<void(const RunResult&)>;

enum class RunOutcome {
  completed,  // the posting pass reached the end; counters are valid
  stopped,    // a rule stopped the run before posting (no file, malformed, totals)
  error,      // an error ended the run
};

struct RunResult {
  RunOutcome outcome = RunOutcome::stopped;
  bool counters_ready = false;     // the four counters may be shown
  bool focus_file_button = false;  // the path box was blank: move the focus to "..."
  bool read_data_ran = false;      // false when the run stopped before reading (floppy copy refused)
  std::int64_t lines = 0;          // n: detail lines of the file
  std::int64_t ok = 0;             // lines written off or inserted
  std::int64_t failed = 0;         // failed transfers whose record was found
  std::int64_t errors = 0;         // lines written to the error log
  Cents posted_cents = 0;          // sum of the amounts posted, exact
  std::optional<std::string> log_path;
  std::string summary;  // the summary message, when the file has a trailer
  // Resuming a run of the same file that did not complete: the lines it
  // had settled were left alone and are counted here, not in ok or failed.
  std::int64_t settled = 0;
  std::int64_t resumed_run = 0;  // that run's number
  std::int64_t run_number = 0;   // this run's number in the journal; 0 when none was recorded
  journal::Balance balance;      // valid with the counters

  // The amount counter: the exact sum rounded once, a half to even.
  std::int64_t posted_total() const { return round_half_even(posted_cents); }
};

// The confirm run without the window's own part: work folder, the floppy
// staging copy when the floppy is chosen, then read_data. The window clears
// and fills its labels, disables and enables its controls and selects the
// floppy again afterwards.
RunResult confirm_run(const RunRequest& request, Operator& op, LineOperations* operations = nullptr,
                      const CountersReady& on_counters = {});

// The import run: validation pass, then the posting pass over one connection,
// each detail line posted whole or not at all.
RunResult read_data(const RunRequest& request, Operator& op, LineOperations* operations = nullptr,
                    const CountersReady& on_counters = {});

// The question before posting a file that a completed run posted already.
std::string post_again_text(const std::string& ended);

// Log texts of the lines the run could not post.
namespace log_text {
inline constexpr const char* kNoPaymentRecord = ",查無繳費記錄檔";
inline constexpr const char* kNoStudent = ",查無學生資料";
inline constexpr const char* kPaidInCash = ",已有現金繳費,不能重複銷帳";
inline constexpr const char* kDuplicate = " 重複銷帳 ";
inline constexpr const char* kCombinedNotFound = " 合併轉帳寫入失敗,查無繳費記錄 ";
inline constexpr const char* kFailedNotFound = " ,查無繳費記錄 ";
inline constexpr const char* kInsertFailed = " ,新增繳費記錄失敗 ";
inline constexpr const char* kWriteFailed = " ,銷帳寫入失敗 ";
}  // namespace log_text

}  // namespace kiv::import
