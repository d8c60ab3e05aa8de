#pragma once

// The import run as the work of a fault sweep: a school and its collection
// file, what one clean run does with each line, and the checks that a run
// stopped by a failing machine left what a clean run stopped after some
// whole line leaves, and said so.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/money.h"
#include "fault_harness.h"
#include "import/import_run.h"
#include "recording_operator.h"

namespace kiv::testing::sweep {

// A failed line as the error log holds it: the line, then the message line.
using LogEntry = std::pair<std::string, std::string>;

// How a line ended in the clean run.
struct LineFacts {
  enum class End { with_amount, without_amount, failed_transfer, logged };
  std::string raw;
  std::string stdid;
  std::string road;      // the operations it went through, and its log text when logged
  std::string stand_in;  // what a stand-in lookup did on this line, if anything
  End end = End::logged;
  std::string log_message;
  Cents cents = 0;
};

struct Ending {
  import::RunResult result;
  std::vector<RecordingOperator::Message> messages;
  std::vector<std::string> questions;
  bool asked_to_post_again = false;  // and answered No
  std::int64_t reached = 0;          // detail lines started
  std::vector<LogEntry> log;
};

struct CleanRun;

// A school and the collection file it posts; every run works on a fresh
// copy of the school's suite folder.
struct ImportWork {
  std::string school;
  std::string file;
  std::vector<std::string> lines;  // the file's detail lines
  // The operations every run of this work uses.
  std::shared_ptr<import::LineOperations> operations = std::make_shared<import::LineOperations>();

  // A demo school of about `students` lines covering every kind of line
  // that data can reach.
  static ImportWork demo(const std::string& scratch, int students);
  // Sends a few lines, chosen by how a clean run posted them, down the roads
  // data cannot reach, through stand-in lookups: a record that the payment
  // lookup sees and the amount-due lookup misses (written onto, or created
  // by the insert), one the paid-record lookup finds (written onto as paid
  // again), a student lookup that fails. A trigger added to the school makes
  // the database refuse the write-off of a few more.
  void add_detours(const CleanRun& plain);
  // The school's folder copied to `root`.
  void copy_school(const std::string& root) const;
  // A collection file of the first `count` detail lines with a trailer that
  // agrees with them, so that a run posts exactly those lines.
  void write_first_lines(const std::string& path, std::size_t count) const;
};

// A collection file of these detail lines with a trailer that agrees with them.
void write_collection(const std::string& path, const std::vector<std::string>& details);

// One whole run in this process on `root`; asked whether to post a file
// again, it answers `again`.
Ending post(const std::string& root, const std::string& file, import::LineOperations& ops, bool again = false);
Ending post(const std::string& root, const ImportWork& work);

// What a clean run does: each line's road and end, the state after each
// whole line, its messages and its log.
struct CleanRun {
  std::vector<LineFacts> lines;
  PrefixStates states;
  Ending ending;

  static CleanRun learn(const ImportWork& work, const std::string& root);
  // The clean ends of the first `k` lines: ok, failed and cents counted.
  import::RunResult counted(std::int64_t k) const;
};

// The checks; each gives "" when it holds, else what is wrong.
// (a) the database on disk passes integrity_check.
std::string check_sound(const std::string& root);
// (b) the school's tables equal a clean run's after k whole lines, for k in
// `range`, and the journal holds the lines of one such k.
std::string check_clean_prefix(const std::string& root, const CleanRun& clean,
                               std::optional<std::pair<std::int64_t, std::int64_t>>& range);
// (c) an error run said so once, with an error of the machine, after what the
// clean run had shown for the lines before; a completed run is the clean run.
std::string check_ending(const Ending& ending, const CleanRun& clean, const std::string& root);
// (d) every line reached that is not among the first k is in the error log
// (the line being posted when the machine failed may instead be explained by
// the message alone), nothing else is, and the counters are those of k lines.
std::string check_explained(const Ending& ending, const CleanRun& clean, std::int64_t k);
// (e) running the same file again resumes the run and completes it, or finds
// that it completed after all and is refused: the end state is one clean run's.
std::string check_rerun_completes(const std::string& root, const ImportWork& work, const CleanRun& clean);

// Whether an error number is that of a failing machine (I/O, full disk,
// damaged file, busy, or a database that cannot be opened).
bool environmental(long long number);
// The reported error number at the end of a standard message, if any.
std::optional<long long> reported_number(const std::string& message);

}  // namespace kiv::testing::sweep
