#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "fault_harness.h"
#include "fault_vfs.h"
#include "import/collection_file.h"
#include "import/collection_writer.h"
#include "import/import_run.h"
#include "import_sweep.h"
#include "journal/undo.h"
#include "recording_operator.h"
#include "store/compaction.h"
#include "store/connection.h"
#include "store/db_error.h"
#include "store/file/file_store.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using namespace sweep;

// A failed line as the error log holds it: the line, then the message line.
using LogEntry = std::pair<std::string, std::string>;
using Range = std::optional<std::pair<std::int64_t, std::int64_t>>;

// How a line ended in the clean run.
struct LineFacts {
  enum class End { with_amount, without_amount, failed_transfer, logged };
  std::string raw, stdid;
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

// The state after each whole line of a clean run, and for each state the
// counts of whole lines after which a clean run leaves it (several when
// lines in between change nothing).
struct PrefixStates {
  std::unordered_map<std::string, std::pair<std::int64_t, std::int64_t>> by_state;
  std::string last;
  void record(std::int64_t lines_done, const std::string& state) {
    by_state.try_emplace(state, lines_done, lines_done).first->second.second = lines_done;
    last = state;
  }
  Range find(const std::string& state) const {
    const auto it = by_state.find(state);
    return it == by_state.end() ? Range{} : Range{it->second};
  }
};

struct Tally {
  std::int64_t runs = 0, injected = 0, ended_cleanly = 0, ended_in_error = 0, problems = 0;
  std::map<std::string, std::int64_t> notes;  // named counts: error codes, checks skipped...
  std::vector<std::string> first_problems;

  void problem(const fault::Fault& f, const std::string& what) {
    ++problems;
    if (first_problems.size() < 12) first_problems.push_back(fault::describe(f) + ": " + what);
  }
};

// What a clean run does: each line's road and end, the state after each
// whole line, its messages and log; its folder is kept for its journal.
struct CleanRun {
  std::vector<LineFacts> lines;
  PrefixStates states;
  Ending ending;
  std::string root;

  static CleanRun learn(const ImportWork& work, const std::string& root);
  // The clean ends of the first `k` lines: ok, failed and cents counted.
  import::RunResult counted(std::int64_t k) const;
  // The journal's rows of the first `n` lines.
  const std::string& journal(std::int64_t n) const;

 private:
  mutable std::map<std::int64_t, std::string> journals_;
};

std::vector<LogEntry> read_log(const std::optional<std::string>& path) {
  std::vector<std::string> lines;
  const std::string text = path ? slurp(*path) : "";
  for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  std::vector<LogEntry> out;
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) out.emplace_back(lines[i], lines[i + 1]);
  if (lines.size() % 2 != 0) out.emplace_back(lines.back(), "(no message line)");
  return out;
}

// Notes which operations each line goes through, passing every call on, and
// records the state before each line from inside the run's transaction
// (where the lines before it are posted but not yet committed).
#define KIV_NOTED(type, operation, params, args) \
  type operation params override {               \
    note(#operation);                            \
    return inner_.operation args;                \
  }
class Recorder : public import::LineOperations {
 public:
  Recorder(import::LineOperations& inner, PrefixStates& states) : inner_(inner), states_(states) {}

  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    states_.record(static_cast<std::int64_t>(roads.size()), dump(store::file::handle_of(s.db), Part::school));
    roads.emplace_back("select_KIV8_Payment");
    last_operation.emplace_back();
    return inner_.select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  KIV_NOTED(writeoff::LookupResult, select_KIV7_student, (Session & s, Ctx& c, S stdid), (s, c, stdid))
  KIV_NOTED(writeoff::OpResult, update_kiv10, (Session & s, S day, S grpid), (s, day, grpid))
  KIV_NOTED(writeoff::OpResult, default_kiv8, (Session & s, const Ctx& c, S day, S stdid, S grpid),
            (s, c, day, stdid, grpid))
  KIV_NOTED(writeoff::LookupResult, find_data, (Session & s, Ctx& c, S day, S stdid, S grpid),
            (s, c, day, stdid, grpid))
  KIV_NOTED(writeoff::LookupResult, find_data1, (Session & s, Ctx& c, S day, S stdid, S grpid),
            (s, c, day, stdid, grpid))
  KIV_NOTED(writeoff::OpResult, update_1, (Session & s, const Ctx& c, S day, S amt, S stdid, S grpid),
            (s, c, day, amt, stdid, grpid))
  KIV_NOTED(writeoff::OpResult, update_2, (Session & s, const Ctx& c, S day, S stdid, S grpid),
            (s, c, day, stdid, grpid))
  KIV_NOTED(writeoff::OpResult, update_3, (Session & s, const Ctx& c, S fail, S day, S stdid, S grpid),
            (s, c, fail, day, stdid, grpid))
  KIV_NOTED(writeoff::OpResult, update_4, (Session & s, const Ctx& c, S day, S stdid, S grpid, S lastcol),
            (s, c, day, stdid, grpid, lastcol))
  writeoff::LookupResult insert_1(Session& s, Ctx& c, S day, S amt, S stdid, S grpid) override {
    note("insert_1");
    const sqlite3_int64 before = sqlite3_last_insert_rowid(store::file::handle_of(s.db));
    auto r = inner_.insert_1(s, c, day, amt, stdid, grpid);
    if (r.ok() && r.found() && sqlite3_last_insert_rowid(store::file::handle_of(s.db)) != before)
      roads.back() += " (new record)";
    return r;
  }

  std::vector<std::string> roads, last_operation;

 private:
  void note(const char* operation) {
    roads.back() += std::string(" > ") + operation;
    last_operation.back() = operation;
  }
  import::LineOperations& inner_;
  PrefixStates& states_;
};

// The lookups of the roads data cannot reach, for the students named.
class Detours : public import::LineOperations {
 public:
  std::set<std::string> phantom_record, missed_record, paid_record, student_lookup_fails;

  std::string label(const std::string& stdid) const {
    if (phantom_record.contains(stdid)) return "no record, yet the payment lookup finds one";
    if (missed_record.contains(stdid)) return "the amount-due lookup misses the record";
    if (paid_record.contains(stdid)) return "the amount-due lookup misses, the paid-record lookup finds";
    if (student_lookup_fails.contains(stdid)) return "the student lookup fails";
    return "";
  }

  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    auto r = LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
    if (r.ok() && r.value == 0 && phantom_record.contains(stdid)) {
      r.value = writeoff::kTrue;
      c.pay_state = "0";
    }
    return r;
  }
  writeoff::LookupResult select_KIV7_student(Session& s, Ctx& c, S stdid) override {
    if (!student_lookup_fails.contains(stdid)) return LineOperations::select_KIV7_student(s, c, stdid);
    s.op.show_message("無法讀取學生資料 " + stdid, MessageIcon::none, kAppTitle);
    return writeoff::LookupResult{0, writeoff::OpStatus::line_failed, Error{kErrTypeMismatch, "", false}};
  }
  writeoff::LookupResult find_data(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    auto r = LineOperations::find_data(s, c, day, stdid, grpid);
    if (r.ok() && (missed_record.contains(stdid) || paid_record.contains(stdid))) r.value = writeoff::kFalse;
    return r;
  }
  writeoff::LookupResult find_data1(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    auto r = LineOperations::find_data1(s, c, day, stdid, grpid);
    if (r.ok() && paid_record.contains(stdid)) r.value = writeoff::kTrue;
    return r;
  }
};

// The log text a logged line's message ends with, less the student's label.
std::string log_kind(const std::string& message) {
  for (const char* text :
       {import::log_text::kNoPaymentRecord, import::log_text::kNoStudent, import::log_text::kPaidInCash,
        import::log_text::kDuplicate, import::log_text::kCombinedNotFound, import::log_text::kFailedNotFound,
        import::log_text::kInsertFailed, import::log_text::kWriteFailed}) {
    if (message.ends_with(text)) return text;
  }
  return message;
}

bool environmental(long long number) {
  if (number == kErrGeneralFailure) return true;  // the database cannot be opened
  switch (number & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_NOTADB:
      return number > 0;
    default:
      return false;
  }
}

std::vector<fault::Fault> plan(const fault::Counts& counts, std::size_t budget) {
  std::int64_t total = 0, kinds = 0;
  for (const std::int64_t c : counts) total += c, kinds += c > 0 ? 1 : 0;
  if (kinds == 0) return {};
  fault::Counts take = counts;
  if (total > static_cast<std::int64_t>(budget)) {
    // Half the budget shared equally, so that rare kinds (a truncate, a
    // delete) are all tried; the other half in proportion to the calls.
    const auto equal_share = static_cast<std::int64_t>(budget) / (2 * kinds);
    std::int64_t left = static_cast<std::int64_t>(budget), rest = 0;
    for (std::size_t i = 0; i < fault::kCallKinds; ++i) {
      take[i] = std::min(counts[i], equal_share);
      left -= take[i];
      rest += counts[i] - take[i];
    }
    for (std::size_t i = 0; i < fault::kCallKinds && rest > 0; ++i) {
      take[i] += std::min(counts[i] - take[i], (counts[i] - take[i]) * left / rest);
    }
  }
  std::vector<fault::Fault> faults;
  for (std::size_t i = 0; i < fault::kCallKinds; ++i) {
    const auto call = static_cast<fault::Call>(i);
    for (std::int64_t j = 0, previous = 0; j < take[i]; ++j) {
      // Evenly from the first call to the last.
      const std::int64_t nth = take[i] == 1 ? 1 : 1 + (j * (counts[i] - 1) + (take[i] - 1) / 2) / (take[i] - 1);
      if (nth == previous) continue;
      previous = nth;
      // Over four faults of a kind: once, from then on, and both ways of failing.
      fault::Fault f{call, nth, fault::Failure::io_error, j % 2 == 1};
      if ((j / 2 + j) % 2 == 1 && call == fault::Call::read) f.how = fault::Failure::short_read;
      if ((j / 2 + j) % 2 == 1 && call == fault::Call::write) f.how = fault::Failure::disk_full;
      faults.push_back(f);
    }
  }
  return faults;
}

std::size_t budget_from_environment(const char* variable, std::size_t normal, std::size_t sanitized) {
  if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
    return static_cast<std::size_t>(std::strtoull(value, nullptr, 10));
  }
#if defined(__SANITIZE_ADDRESS__)
  return (void)normal, sanitized;
#else
  return (void)sanitized, normal;
#endif
}

std::string describe(const fault::Counts& counts) {
  std::string out;
  for (std::size_t i = 0; i < fault::kCallKinds; ++i) {
    out +=
        (i > 0 ? ", " : "") + std::string(fault::name(static_cast<fault::Call>(i))) + " " + std::to_string(counts[i]);
  }
  return out;
}

std::vector<std::string> json_strings(const std::string& array) {
  std::vector<std::string> out;
  bool inside = false;
  for (std::size_t i = 0; i < array.size(); ++i) {
    const char c = array[i];
    if (!inside) {
      if (c == '"') inside = true, out.emplace_back();
    } else if (c == '"') {
      inside = false;
    } else if (c == '\\' && i + 1 < array.size()) {
      const char e = array[++i];
      out.back() += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
    } else {
      out.back() += c;
    }
  }
  return out;
}

// Sends a few lines, chosen by how a clean run posted them, down the roads
// data cannot reach, through stand-in lookups: a record the payment lookup
// sees and the amount-due lookup misses (written onto, or created by the
// insert), one the paid-record lookup finds, a student lookup that fails.
// A trigger makes the database refuse the write-off of a few more.
void add_detours(ImportWork& work, const CleanRun& plain) {
  auto detours = std::make_shared<Detours>();
  std::set<std::string> refused;
  std::map<std::string, int> seen;
  for (const LineFacts& f : plain.lines) {
    const import::DetailLine d = import::cut_detail(f.raw);
    const int nth = seen[f.road]++;
    const auto last = f.road.substr(f.road.rfind(' ') + 1);
    if (d.comb_flag == "1") {
      if (last == "update_2" && nth % 4 == 1) refused.insert(d.stdid);
    } else if (last == "update_2") {
      if (nth % 6 == 1) detours->missed_record.insert(d.stdid);
      if (nth % 6 == 4) detours->paid_record.insert(d.stdid);
    } else if (last == "update_1") {
      if (nth % 5 == 2) refused.insert(d.stdid);
    } else if (f.end == LineFacts::End::logged && f.log_message == import::log_text::kNoPaymentRecord) {
      if (nth % 5 == 0) detours->phantom_record.insert(d.stdid);
    } else if (f.end == LineFacts::End::logged && log_kind(f.log_message) == import::log_text::kDuplicate) {
      if (nth % 4 == 0) detours->student_lookup_fails.insert(d.stdid);
    }
  }
  std::string names;
  for (const std::string& id : refused) {
    char* quoted = sqlite3_mprintf("%Q", id.c_str());
    names += (names.empty() ? "" : ",") + std::string(quoted);
    sqlite3_free(quoted);
  }
  DiskDb db(SuitePaths{work.school}.db_path());
  db.exec("CREATE TRIGGER kiv_test_refuse AFTER UPDATE ON KIV8_Payment WHEN new.payday IS NOT NULL AND new.stdid IN (" +
          names + ") BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
  work.operations = detours;
}

// One whole run in this process on `root`; asked whether to post a file
// again, it answers `again`.
Ending post(const std::string& root, const std::string& file, import::LineOperations& ops, bool again = false) {
  RecordingOperator op;
  op.post_again = again;
  Ending ending;
  ending.result = import::confirm_run({SuitePaths{root}, false, file}, op, &ops);
  ending.asked_to_post_again = !op.again_questions.empty();
  ending.messages = op.messages;
  ending.questions = op.questions;
  for (const auto& [done, total] : op.progress) ending.reached = std::max(ending.reached, done);
  ending.log = read_log(ending.result.log_path);
  return ending;
}

Ending post(const std::string& root, const ImportWork& work) {
  return post(root, work.file, *work.operations);
}

CleanRun CleanRun::learn(const ImportWork& work, const std::string& root) {
  CleanRun clean;
  clean.root = root;
  work.copy_school(root);
  Recorder recorder(*work.operations, clean.states);
  clean.ending = post(root, work.file, recorder);
  clean.states.record(static_cast<std::int64_t>(recorder.roads.size()), school_dump(SuitePaths{root}.db_path()));
  if (clean.ending.result.outcome != import::RunOutcome::completed || recorder.roads.size() != work.lines.size()) {
    throw std::runtime_error("the clean run of " + work.file + " did not post every line");
  }
  std::multimap<std::string, std::string> logged(clean.ending.log.begin(), clean.ending.log.end());
  for (std::size_t j = 0; j < work.lines.size(); ++j) {
    LineFacts facts;
    facts.raw = work.lines[j];
    const import::DetailLine detail = import::cut_detail(facts.raw);
    facts.cents = detail.amount_cents;
    facts.stdid = detail.stdid;
    facts.road = (detail.comb_flag == "1" ? "combined: " : "") + recorder.roads[j];
    if (const auto* detours = dynamic_cast<const Detours*>(work.operations.get())) {
      facts.stand_in = detours->label(detail.stdid);
    }
    const std::string& last = recorder.last_operation[j];
    if (auto found = logged.find(facts.raw); found != logged.end()) {
      facts.end = LineFacts::End::logged;
      facts.log_message = found->second;
      facts.road += " | logged '" + log_kind(found->second) + "'";
      logged.erase(found);
    } else if (last == "update_3") {
      facts.end = LineFacts::End::failed_transfer;
    } else if (last == "update_4") {
      facts.end = LineFacts::End::without_amount;
    } else {
      facts.end = LineFacts::End::with_amount;
    }
    clean.lines.push_back(std::move(facts));
  }
  return clean;
}

kiv::import::RunResult CleanRun::counted(std::int64_t k) const {
  import::RunResult r;
  const std::int64_t end = std::min(k, static_cast<std::int64_t>(lines.size()));
  for (std::int64_t j = 0; j < end; ++j) {
    const LineFacts& f = lines[static_cast<std::size_t>(j)];
    if (f.end == LineFacts::End::with_amount) r.posted_cents += f.cents;
    if (f.end == LineFacts::End::with_amount || f.end == LineFacts::End::without_amount) ++r.ok;
    if (f.end == LineFacts::End::failed_transfer) ++r.failed;
    if (f.end == LineFacts::End::logged) ++r.errors;
  }
  return r;
}

std::optional<long long> reported_number(const std::string& message) {
  const auto open = message.rfind('(');
  if (!message.starts_with("錯誤:") || open == std::string::npos || !message.ends_with(")")) return std::nullopt;
  try {
    return std::stoll(message.substr(open + 1, message.size() - open - 2));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The checks give "" when they hold, else what is wrong.
// (a) the database on disk passes integrity_check.
std::string check_sound(const std::string& root) {
  const std::string verdict = integrity(SuitePaths{root}.db_path());
  return verdict == "ok" ? "" : "integrity_check: " + verdict;
}

const std::string& CleanRun::journal(std::int64_t n) const {
  auto [it, added] = journals_.try_emplace(n);
  if (added) it->second = dump_file(SuitePaths{root}.db_path(), Part::journal, false, n);
  return it->second;
}

// (b) the school's tables equal a clean run's after k whole lines, for k in
// `range`; the journal holds the line and change rows of the clean run's
// first n lines for one such n, and the run's counters of those lines.
std::string check_clean_prefix(const std::string& root, const CleanRun& clean, Range& range) {
  const std::string path = SuitePaths{root}.db_path();
  const std::string state = school_dump(path);
  range = clean.states.find(state);
  if (!range) {
    return "the database is no clean run's after any whole line; against the end of a clean run:\n" +
           dump_difference(clean.states.last, state);
  }
  // The journal's rows go in with the lines they describe.
  DiskDb db(path);
  const bool journalled = db.scalar("SELECT count(*) FROM sqlite_master WHERE name = 'KIV27_Line'") == "1";
  const std::int64_t n = journalled ? std::stoll(db.scalar("SELECT count(*) FROM KIV27_Line")) : 0;
  const std::string lines = std::to_string(n) + " lines";
  if (n < range->first || n > range->second) {
    return "the journal holds " + lines + ", the database " + std::to_string(range->first) + " to " +
           std::to_string(range->second);
  }
  if (const std::string journal = dump(db.handle(), Part::journal, false, n); journal != clean.journal(n)) {
    return "the journal's rows are not those of a clean run's first " + lines + ":\n" +
           dump_difference(clean.journal(n), journal);
  }
  if (!journalled) return "";
  // The run's row went in with its first lines; its counters, once the run
  // has ended, are those of its lines.
  const std::string run = db.scalar(
      "SELECT count(*) || ' ' || coalesce(min(outcome = 'running' OR (ok = (SELECT count(*) FROM KIV27_Line WHERE "
      "outcome IN ('posted', 'posted_amount')) AND failed = (SELECT count(*) FROM KIV27_Line WHERE outcome = "
      "'failed_transfer') AND settled = (SELECT count(*) FROM KIV27_Line WHERE outcome = 'settled') AND "
      "posted_cents = (SELECT coalesce(sum(amount), 0) FROM KIV27_Line WHERE outcome = 'posted_amount'))), 1) "
      "FROM KIV27_Run");
  if (run != (n > 0 ? "1 1" : "0 1"))
    return "the journal's run row (count, counters agree) is '" + run + "' with " + lines;
  return "";
}

// (c) an error run said so once, with an error of the machine, after what the
// clean run had shown for the lines before; a completed run is the clean run.
std::string check_ending(const Ending& ending, const CleanRun& clean, const std::string& root) {
  const auto& r = ending.result;
  const auto& c = clean.ending;
  std::vector<std::string> clean_texts, texts;
  for (const auto& m : c.messages) clean_texts.push_back(m.text);
  for (const auto& m : ending.messages) texts.push_back(m.text);
  if (r.outcome == import::RunOutcome::completed) {
    if (texts != clean_texts) return "completed, but its messages differ from the clean run's";
    if (r.ok != c.result.ok || r.failed != c.result.failed || r.errors != c.result.errors ||
        r.posted_cents != c.result.posted_cents) {
      return "completed, but its counters differ from the clean run's";
    }
    if (ending.log != c.log) return "completed, but its error log differs from the clean run's";
    const std::string state = school_dump(SuitePaths{root}.db_path());
    if (state != clean.states.last) {
      return "completed, but the database is not the clean run's:\n" + dump_difference(clean.states.last, state);
    }
    return "";
  }
  if (r.outcome != import::RunOutcome::error) return "stopped by a rule";
  if (r.counters_ready) return "an error run offers its counters";
  if (ending.messages.empty()) return "ended in error without a message";
  const auto& last = ending.messages.back();
  const auto number = reported_number(last.text);
  if (last.icon != MessageIcon::critical || last.title != kAppTitle || !number || !environmental(*number)) {
    return "the last message is not the standard message of a failing machine: " + last.text;
  }
  texts.pop_back();
  if (texts.size() > clean_texts.size() || !std::equal(texts.begin(), texts.end(), clean_texts.begin())) {
    return "before the error it showed other messages than the clean run: " + (texts.empty() ? "" : texts.back());
  }
  return "";
}

// (d) every line reached that is not among the first k is in the error log
// (the line being posted when the machine failed may instead be explained by
// the message alone), nothing else is, and the counters are those of k lines.
std::string check_explained(const Ending& ending, const CleanRun& clean, std::int64_t k) {
  const std::int64_t reached = ending.reached;
  if (k > reached)
    return "the database holds " + std::to_string(k) + " lines, the run reached " + std::to_string(reached);
  std::multiset<LogEntry> required, may;
  for (std::int64_t j = 0; j < reached; ++j) {
    const LineFacts& f = clean.lines[static_cast<std::size_t>(j)];
    std::optional<LogEntry> entry;
    if (f.end == LineFacts::End::logged) {
      entry = LogEntry{f.raw, f.log_message};
    } else if (j >= k) {
      entry = LogEntry{f.raw, import::log_text::kWriteFailed};
    }
    if (entry) (j + 1 < reached ? required : may).insert(*entry);
  }
  std::multiset<LogEntry> logged(ending.log.begin(), ending.log.end());
  for (const LogEntry& e : required) {
    const auto found = logged.find(e);
    if (found == logged.end()) return "not in the error log: " + e.first + " / " + e.second;
    logged.erase(found);
  }
  for (const LogEntry& e : logged) {
    if (!may.contains(e)) return "the error log holds a line it should not: " + e.first + " / " + e.second;
  }
  const import::RunResult expected = clean.counted(k);
  const auto& r = ending.result;
  if (r.ok != expected.ok || r.failed != expected.failed || r.posted_cents != expected.posted_cents ||
      r.errors != static_cast<std::int64_t>(ending.log.size())) {
    return "the counters are not those of the first " + std::to_string(k) + " lines and the log";
  }
  return "";
}

// (e) running the file again resumes the run and completes it, or finds that
// it completed after all and is refused: the end state is one clean run's.
std::string check_rerun_completes(const std::string& root, const ImportWork& work, const CleanRun& clean) {
  const Ending again = post(root, work);
  if (again.result.outcome != import::RunOutcome::completed && !again.asked_to_post_again) {
    return "the run again did not complete: " + (again.messages.empty() ? "" : again.messages.back().text);
  }
  const std::string state = school_dump(SuitePaths{root}.db_path());
  if (state == clean.states.last) return "";
  return "after the run again the database is not one clean run's:\n" + dump_difference(clean.states.last, state);
}

constexpr int kStudents = 300;

ImportWork work_with_detours(const std::string& scratch) {
  ImportWork work = ImportWork::demo(scratch, kStudents);
  add_detours(work, CleanRun::learn(work, scratch + "/plain"));
  return work;
}

// The school, its file and what a clean run does with it, made once for
// every test here.
struct Prepared {
  TempSuite scratch{false};
  ImportWork work = work_with_detours(scratch.root());
  CleanRun clean = CleanRun::learn(work, scratch.root() + "/clean");
};

Prepared& prepared() {
  static Prepared p;
  return p;
}

// A line posted again by a run of another file finds its records written off
// and changes nothing, except a record that its own insert created: that one
// is there for the next run to write off.
bool posted_twice(const LineFacts& line) {
  return line.road.ends_with("insert_1 (new record)");
}

TEST(FaultSweep, PostingALineAgainAfterItWasPostedLeavesItsRecordsAsOnceExceptARecordTheInsertCreated) {
  Prepared& p = prepared();
  std::map<std::string, std::size_t> first;
  for (std::size_t j = 0; j < p.clean.lines.size(); ++j) {
    first.try_emplace(p.clean.lines[j].road + " " + p.clean.lines[j].stand_in, j);
  }
  const std::string root = p.scratch.root() + "/again";
  const std::string prefix = p.scratch.root() + "/prefix.dat", single = p.scratch.root() + "/single.dat";
  int changed = 0;
  for (const auto& [road, j] : first) {
    SCOPED_TRACE(road);
    const LineFacts& line = p.clean.lines[j];
    p.work.copy_school(root);
    p.work.write_first_lines(prefix, j + 1);
    ASSERT_EQ(post(root, prefix, *p.work.operations).result.outcome, import::RunOutcome::completed);
    const std::string once = school_dump(SuitePaths{root}.db_path());
    const auto k = p.clean.states.find(once);
    ASSERT_TRUE(k && k->first <= static_cast<std::int64_t>(j) + 1 && static_cast<std::int64_t>(j) + 1 <= k->second)
        << "the first lines of the file alone post as in the whole file";
    write_collection(single, {line.raw});
    EXPECT_EQ(post(root, single, *p.work.operations, true).result.outcome, import::RunOutcome::completed);
    const std::string twice = school_dump(SuitePaths{root}.db_path());
    EXPECT_EQ(once == twice, !posted_twice(line));
    if (once != twice) {
      ++changed;
      std::printf("[ again ] posted twice: %s\n%s", road.c_str(), dump_difference(once, twice, 4).c_str());
    }
  }
  std::printf("[ again ] %zu kinds of line, %d written again by a second run\n", first.size(), changed);
}

void expect_no_problems(const Tally& t, const std::string& title, std::chrono::steady_clock::time_point started) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "[ sweep ] %s: %lld runs, %lld with a fault injected, %lld ended cleanly, %lld ended in error, "
      "%lld problems, %.1f s\n",
      title.c_str(), static_cast<long long>(t.runs), static_cast<long long>(t.injected),
      static_cast<long long>(t.ended_cleanly), static_cast<long long>(t.ended_in_error),
      static_cast<long long>(t.problems), seconds);
  for (const auto& [name, count] : t.notes)
    std::printf("[ sweep ]   %s: %lld\n", name.c_str(), static_cast<long long>(count));
  std::string first_problems;
  for (const auto& problem : t.first_problems) first_problems += problem + "\n";
  EXPECT_EQ(t.problems, 0) << first_problems;
  EXPECT_GE(t.injected * 10, t.runs * 9) << "nearly every planned call is made and failed";
}

// Syncs skip the disk while a sweep runs, and reach it again after.
struct NoWaitingOnTheDisk {
  NoWaitingOnTheDisk() {
    fault::install();
    fault::sync_to_disk(false);
  }
  ~NoWaitingOnTheDisk() { fault::sync_to_disk(true); }
};

TEST(FaultSweep, ImportRunWithAnyFileCallFailingStopsAfterWholeLinesExplainsTheRestAndCanBeRunAgain) {
  const NoWaitingOnTheDisk quick;
  Prepared& p = prepared();
  const CleanRun& clean = p.clean;
  const auto all = static_cast<std::int64_t>(clean.lines.size());
  const import::RunResult counted = clean.counted(all);
  ASSERT_EQ(counted.ok, clean.ending.result.ok);
  ASSERT_EQ(counted.failed, clean.ending.result.failed);
  ASSERT_EQ(counted.errors, clean.ending.result.errors);
  ASSERT_EQ(counted.posted_cents, clean.ending.result.posted_cents);

  const std::string root = p.scratch.root() + "/run";
  p.work.copy_school(root);
  fault::arm();
  const Ending counting = post(root, p.work);
  const fault::Counts counts = fault::disarm();
  ASSERT_EQ(counting.result.outcome, import::RunOutcome::completed);
  const auto faults = plan(counts, budget_from_environment("KIV_FAULT_SWEEP", 500, 60));
  std::printf("[ sweep ] calls of one clean run of %lld lines: %s\n", static_cast<long long>(all),
              describe(counts).c_str());

  Tally tally;
  const auto started = std::chrono::steady_clock::now();
  for (const fault::Fault& f : faults) {
    p.work.copy_school(root);
    fault::arm(f);
    const Ending e = post(root, p.work);
    fault::disarm();
    const bool injected = fault::injected() > 0;
    const bool completed = e.result.outcome == import::RunOutcome::completed;
    ++tally.runs;
    tally.injected += injected ? 1 : 0;
    ++(completed ? tally.ended_cleanly : tally.ended_in_error);
    std::string problem;
    if (!completed) {
      const auto number = e.messages.empty() ? std::nullopt : reported_number(e.messages.back().text);
      ++tally.notes[std::string(fault::name(f.call)) + " failing, reported (" +
                    (number ? std::to_string(*number) : "none") + ")"];
      if (!injected) problem = "ended in error with no call failed";
    }
    Range range;
    if (problem.empty()) problem = check_sound(root);
    if (problem.empty()) problem = check_clean_prefix(root, clean, range);
    if (problem.empty()) problem = check_ending(e, clean, root);
    const std::int64_t k = range ? std::min(range->second, e.reached) : 0;
    if (problem.empty() && !completed) {
      problem = check_explained(e, clean, k);
      const std::string& current = clean.lines[static_cast<std::size_t>(std::max<std::int64_t>(e.reached, 1) - 1)].raw;
      const bool logged = std::ranges::any_of(e.log, [&](const LogEntry& entry) { return entry.first == current; });
      if (e.reached > k && !logged) ++tally.notes["the line being posted explained by the message alone"];
    }
    // A run that completed is the clean run (checked above); running its file
    // again would be posting it again, which is another matter.
    if (problem.empty() && !completed) {
      problem = check_rerun_completes(root, p.work, clean);
    }
    if (!problem.empty()) tally.problem(f, problem);
  }
  expect_no_problems(tally, "import run", started);
}

// kiv2700 itself, unchanged, with the fault layer preloaded.
struct ToolEnd {
  ToolRun run;
  fault::Counts counts{};
  std::int64_t injected = 0;
};

ToolEnd run_tool_with(const std::string& scratch, const std::vector<std::string>& args, std::optional<fault::Fault> f) {
  const std::string counts_path = scratch + "/fault_counts.txt";
  fs::remove(counts_path);
  const char* asan = std::getenv("ASAN_OPTIONS");
  // The preloaded object comes before the sanitizer's runtime in the list
  // of libraries, which the sanitizer otherwise refuses.
  const std::pair<const char*, std::string> env[] = {
      {"LD_PRELOAD", KIV_FAULT_PRELOAD},
      {"KIV_FAULT_COUNTS", counts_path},
      {"KIV_FAULT_NO_DISK_SYNC", "1"},
      {"KIV_FAULT", f ? fault::as_text(*f) : ""},
      {"ASAN_OPTIONS", (asan != nullptr ? std::string(asan) + ":" : "") + "verify_asan_link_order=0"}};
  std::vector<std::optional<std::string>> saved;
  for (const auto& [name, value] : env) {
    const char* old = std::getenv(name);
    saved.push_back(old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    if (value.empty())
      unsetenv(name);
    else
      setenv(name, value.c_str(), 1);
  }
  ToolEnd end;
  end.run = run_tool(scratch, args);
  for (std::size_t i = 0; i < saved.size(); ++i) {
    if (saved[i])
      setenv(env[i].first, saved[i]->c_str(), 1);
    else
      unsetenv(env[i].first);
  }
  std::ifstream in(counts_path);
  std::string kind;
  for (std::int64_t n = 0; in >> kind >> n;) {
    if (const auto call = fault::call_named(kind)) end.counts[static_cast<std::size_t>(*call)] = n;
    if (kind == "injected") end.injected = n;
  }
  return end;
}

// What the tool printed and left, against a clean run of the same work.
std::string check_tool_end(const ToolEnd& end, const std::string& root, const CleanRun& clean) {
  const std::string& json = end.run.out;
  const std::string outcome = json_field(json, "outcome");
  auto messages = json_strings(json_field(json, "messages"));
  std::vector<std::string> clean_texts;
  for (const auto& m : clean.ending.messages) clean_texts.push_back(m.text);
  // The question about the log names the log's path, which is the run's own.
  const auto question = [](const std::string& text) { return text.substr(0, text.find("是否立刻查看")); };
  for (const auto& q : clean.ending.questions) clean_texts.push_back(question(q));
  if (!messages.empty() && messages.back().starts_with("共 ")) messages.back() = question(messages.back());
  if (std::string problem = check_sound(root); !problem.empty()) return problem;
  Range range;
  if (std::string problem = check_clean_prefix(root, clean, range); !problem.empty()) return problem;
  if (end.run.status == 0) {
    if (outcome != "completed" || messages != clean_texts) return "exit 0, but not as the clean run: " + json;
    if (range->second != static_cast<std::int64_t>(clean.lines.size())) return "exit 0 with lines not posted";
    return "";
  }
  if (end.run.status != 2 || outcome != "error") {
    return "exit " + std::to_string(end.run.status) + ", outcome " + outcome + end.run.err;
  }
  if (messages.empty()) return "exit 2 without a message";
  const auto number = reported_number(messages.back());
  if (!number || !environmental(*number)) {
    return "exit 2, the last message is not the standard one of a failing machine: " + messages.back();
  }
  if (messages.size() - 1 > clean_texts.size() ||
      !std::equal(messages.begin(), messages.end() - 1, clean_texts.begin())) {
    return "exit 2 after other messages than the clean run showed";
  }
  const import::RunResult counted = clean.counted(range->first);
  if (json_field(json, "ok") != std::to_string(counted.ok) ||
      json_field(json, "failed") != std::to_string(counted.failed)) {
    return "exit 2 with counters that are not the posted lines': " + json;
  }
  return "";
}

TEST(FaultSweep, ToolWithAFileCallFailingExitsTwoWithOneMessageOrCompletesAsACleanRun) {
  Prepared& p = prepared();
  // The tool has no stand-in lookups: its own clean run is learnt first.
  ImportWork work = p.work;
  work.operations = std::make_shared<import::LineOperations>();
  const CleanRun clean = CleanRun::learn(work, p.scratch.root() + "/tool-clean");
  const std::string root = p.scratch.root() + "/tool";
  const std::vector<std::string> args = {"post", "--root", root, "--json", work.file};
  work.copy_school(root);
  const ToolEnd counting = run_tool_with(p.scratch.root(), args, std::nullopt);
  ASSERT_EQ(counting.run.status, 0) << counting.run.out << counting.run.err;
  const auto faults = plan(counting.counts, budget_from_environment("KIV_FAULT_SWEEP_TOOL", 100, 20));
  std::printf("[ sweep ] calls of kiv2700 post: %s\n", describe(counting.counts).c_str());

  Tally tally;
  const auto started = std::chrono::steady_clock::now();
  for (const fault::Fault& f : faults) {
    work.copy_school(root);
    const ToolEnd end = run_tool_with(p.scratch.root(), args, f);
    ++tally.runs;
    tally.injected += end.injected > 0 ? 1 : 0;
    ++(end.run.status == 0 ? tally.ended_cleanly : tally.ended_in_error);
    if (end.run.status == 2) ++tally.notes["exit 2"];
    if (std::string problem = check_tool_end(end, root, clean); !problem.empty()) tally.problem(f, problem);
  }
  expect_no_problems(tally, "kiv2700 post", started);
}

TEST(FaultSweep, CompactionWithAnyFileCallFailingKeepsEveryRowAndSaysSoOnce) {
  const NoWaitingOnTheDisk quick;
  Prepared& p = prepared();
  // The school after a whole run, with an interrupted earlier compaction's
  // leftovers beside it, so that both of its steps are swept.
  const std::string school = p.scratch.root() + "/compact-school", root = p.scratch.root() + "/compact";
  const SuitePaths paths{root};
  fs::copy(p.scratch.root() + "/clean", school, fs::copy_options::recursive);
  for (const char* name : {store::kCompactedCopyName, store::kBackupCopyName}) {
    std::ofstream(school + "/mdb/" + name) << "left behind";
  }
  const std::string rows = dump_file(SuitePaths{school}.db_path(), Part::all, false);
  const auto compact = [&](std::optional<fault::Fault> f, RecordingOperator& op) {
    fs::remove_all(root);
    fs::copy(school, root, fs::copy_options::recursive);
    fault::arm(f);
    auto error = store::compress_mdb(paths, op);
    fault::disarm();
    return error;
  };
  RecordingOperator counting_op;
  ASSERT_FALSE(compact(std::nullopt, counting_op));
  const fault::Counts counts = fault::counts();
  const auto faults = plan(counts, budget_from_environment("KIV_FAULT_SWEEP_COMPACT", 100, 25));
  std::printf("[ sweep ] calls of one compaction: %s\n", describe(counts).c_str());

  Tally tally;
  const auto started = std::chrono::steady_clock::now();
  for (const fault::Fault& f : faults) {
    RecordingOperator op;
    const auto error = compact(f, op);
    ++tally.runs;
    tally.injected += fault::injected() > 0 ? 1 : 0;
    ++(error ? tally.ended_in_error : tally.ended_cleanly);
    std::string problem = check_sound(root);
    if (problem.empty() && dump_file(paths.db_path(), Part::all, false) != rows) problem = "rows changed";
    // A leftover may be the only good copy until a compaction has succeeded.
    if (problem.empty() && error &&
        !(fs::exists(root + "/mdb/" + store::kCompactedCopyName) &&
          fs::exists(root + "/mdb/" + store::kBackupCopyName))) {
      problem = "a leftover went although the compaction failed";
    }
    if (problem.empty() && op.messages.size() != (error ? 1u : 0u)) {
      problem = std::to_string(op.messages.size()) + " messages";
    }
    if (problem.empty() && error) {
      const auto number = reported_number(op.messages[0].text);
      if (!number || !environmental(*number)) problem = "not the message of a failing machine: " + op.messages[0].text;
      ++tally.notes[std::string(fault::name(f.call)) + " failing, reported (" +
                    (number ? std::to_string(*number) : "none") + ")"];
    }
    if (problem.empty()) {
      RecordingOperator again;
      if (store::compress_mdb(paths, again) || check_sound(root) != "" ||
          dump_file(paths.db_path(), Part::all, false) != rows) {
        problem = "compacting again did not end with every row whole";
      }
    }
    if (!problem.empty()) tally.problem(f, problem);
  }
  expect_no_problems(tally, "compaction", started);
}

TEST(FaultSweep, UndoWithAnyFileCallFailingLeavesTheRunOrUndoesItWholeWithOneError) {
  const NoWaitingOnTheDisk quick;
  Prepared& p = prepared();
  const std::string posted = p.scratch.root() + "/clean", root = p.scratch.root() + "/undo";
  const journal::RunContext context{"tester", "", ""};
  // Opening the database is part of an undo as the tool runs it.
  const auto undo = [&](std::optional<fault::Fault> f, bool fresh = true) -> std::optional<Error> {
    if (fresh) fs::remove_all(root), fs::copy(posted, root, fs::copy_options::recursive);
    fault::arm(f);
    std::optional<Error> error;
    try {
      auto db = store::Connection::open(SuitePaths{root});
      if (journal::undo_run(db, 1, context).status != journal::UndoResult::Status::undone) {
        error = Error{0, "not undone", false};
      }
    } catch (const store::DbError& e) {
      error = e.error();
    }
    fault::disarm();
    return error;
  };
  const std::string before = dump_file(SuitePaths{posted}.db_path());
  ASSERT_FALSE(undo(std::nullopt));
  const fault::Counts counts = fault::counts();
  const std::string undone = dump_file(SuitePaths{root}.db_path());
  ASSERT_EQ(school_dump(SuitePaths{root}.db_path()), school_dump(SuitePaths{p.work.school}.db_path()));
  const auto faults = plan(counts, budget_from_environment("KIV_FAULT_SWEEP_UNDO", 150, 30));
  std::printf("[ sweep ] calls of one undo: %s\n", describe(counts).c_str());

  Tally tally;
  const auto started = std::chrono::steady_clock::now();
  for (const fault::Fault& f : faults) {
    const auto error = undo(f);
    ++tally.runs;
    tally.injected += fault::injected() > 0 ? 1 : 0;
    ++(error ? tally.ended_in_error : tally.ended_cleanly);
    std::string problem = check_sound(root);
    const std::string state = problem.empty() ? dump_file(SuitePaths{root}.db_path()) : "";
    if (problem.empty() && state != before && state != undone) {
      problem = "neither as before the undo nor undone:\n" + dump_difference(undone, state);
    }
    if (problem.empty() && !error && state != undone) problem = "ended well, but the run stands";
    // The tool shows the one error it ends with in its standard message.
    if (problem.empty() && error && !environmental(error->number)) problem = "ended with " + error->description;
    if (problem.empty() && state == before &&
        (undo(std::nullopt, false) || dump_file(SuitePaths{root}.db_path()) != undone)) {
      problem = "the undo again did not undo the run";
    }
    if (error) ++tally.notes[state == before ? "error, the run stands" : "error, yet undone"];
    if (!problem.empty()) tally.problem(f, problem);
  }
  expect_no_problems(tally, "undo", started);
}

}  // namespace
}  // namespace kiv::testing
