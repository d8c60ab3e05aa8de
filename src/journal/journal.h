#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/money.h"
#include "store/row_capture.h"

namespace kiv::journal {

// Who started a run: the window's context (ctx_arg1..3), or the headless
// tool's own ("kiv2700", the user, the host).
struct RunContext {
  std::string arg1, arg2, arg3;
};

// How a detail line ended, as the journal keeps it. A line of a run that
// did not complete and has no row was not reached.
enum class LineOutcome {
  posted_with_amount,  // written off by amount or inserted
  posted,              // written onto a record already paid: no amount
  failed_transfer,     // the failed transfer recorded on its record
  logged,              // rolled back and written to the error log
  settled,             // left alone: an earlier run that did not complete posted it
};

std::string_view outcome_name(LineOutcome outcome);
std::optional<LineOutcome> outcome_from_name(std::string_view name);

// The outcomes that changed the database: a later run of the same file
// resumes after them instead of posting them again.
bool settles(LineOutcome outcome);

struct LineRecord {
  std::int64_t line_no = 0;    // the detail line's number, 1 for the first
  std::int64_t file_line = 0;  // its line in the file, every line counted
  LineOutcome outcome = LineOutcome::logged;
  Cents amount = 0;
  std::string stdid, grpid, fail_code, log_text;
  std::int64_t settled_by = 0;  // for settled: the run that posted it
  std::vector<store::RowChange> changes;

  // The line counts in the trailer's credited total (no failure code).
  bool credited() const { return fail_code.empty(); }
};

// A run's row. Run outcomes: "running" until it ends (a run that was killed
// keeps it), "completed", "error".
inline constexpr std::string_view kRunning = "running";
inline constexpr std::string_view kCompleted = "completed";
inline constexpr std::string_view kFailed = "error";
inline constexpr std::string_view kPostRun = "post";
inline constexpr std::string_view kUndoRun = "undo";

struct RunRecord {
  std::int64_t run = 0;
  std::string kind{kPostRun};
  std::string started, ended;  // local "YYYY-MM-DD HH:MM:SS"
  RunContext context;
  std::string source;
  std::int64_t size = 0;
  std::string sha256;
  bool trailer = false;
  std::int64_t file_cnt = 0;
  Cents file_amt = 0;
  std::int64_t posted_cnt = 0;
  Cents posted_amt = 0;
  std::int64_t lines = 0, ok = 0, failed = 0, errors = 0, settled = 0;
  Cents posted_cents = 0;
  std::string outcome{kRunning};
  std::string log;
  std::int64_t resumes = 0;    // the run that did not complete and this one finished
  std::int64_t undoes = 0;     // for an undo: the run it took back
  std::int64_t undone_by = 0;  // the undo that took this run back; 0 while it stands

  bool completed() const { return outcome == kCompleted; }
};

// How the trailer's credited total splits over what became of the credited
// lines (those without a failure code). The parts add up to the total; a
// difference is a fault to be shown, never hidden.
struct Balance {
  Cents credited_total = 0;
  Cents with_amount = 0;     // posted, amount counted
  Cents without_amount = 0;  // written onto a record already paid
  Cents logged = 0;          // in the error log
  Cents not_reached = 0;     // the run ended before these lines
  Cents settled = 0;         // posted by an earlier run that did not complete

  void add(LineOutcome outcome, Cents amount);
  Cents parts() const { return with_amount + without_amount + logged + not_reached + settled; }
  Cents difference() const { return credited_total - parts(); }
};

// A local time as the journal writes it; without one, now.
std::string local_time_text(const std::tm& when);
std::string local_time_text();
// "YYYY-MM-DD HH:MM:SS" as "YYYY/MM/DD HH:MM".
std::string minute_text(std::string_view stored);

}  // namespace kiv::journal
