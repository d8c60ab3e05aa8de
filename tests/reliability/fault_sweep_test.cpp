#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <set>
#include <unordered_map>

#include "fault_harness.h"
#include "fault_vfs.h"
#include "import/collection_file.h"
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
using import::LineOperations;
using writeoff::LookupResult;
using writeoff::OpResult;

// A failed line as the error log holds it: the line, then the message line.
using LogEntry = std::pair<std::string, std::string>;
using Range = std::optional<std::pair<std::int64_t, std::int64_t>>;

// How a line ended in the clean run.
struct LineFacts {
  enum class End { with_amount, without_amount, failed_transfer, logged };
  std::string raw;
  std::string road;  // the operations it went through, and its log text when logged
  int stand_in = 0;  // the stand-in lookup that took this line, if any
  End end = End::logged;
  std::string log_message;
};

struct Ending {
  kiv::import::RunResult result;
  std::vector<std::string> texts, questions;  // the messages' texts
  RecordingOperator::Message last{};          // the last message
  bool asked_to_post_again = false;           // and answered No
  std::int64_t reached = 0;                   // detail lines started
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

// What a clean run does: each line's road and end, the state after each
// whole line, its messages and log; its folder is kept for its journal.
struct CleanRun {
  std::vector<LineFacts> lines;
  PrefixStates states;
  Ending ending;
  std::string root;

  static CleanRun learn(const ImportWork& work, const std::string& root);
  std::vector<import::RunResult> after;  // the counters of the clean ends of the first k lines
  kiv::import::RunResult counted(std::int64_t k) const { return after[std::min<std::size_t>(k, lines.size())]; }
  // The journal's rows of the first `n` lines.
  const std::string& journal(std::int64_t n) const {
    auto [it, added] = journals_.try_emplace(n);
    if (added) it->second = dump_file(SuitePaths{root}.db_path(), Part::journal, false, n);
    return it->second;
  }

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

bool same_counters(const import::RunResult& a, const import::RunResult& b) {
  return a.ok == b.ok && a.failed == b.failed && a.errors == b.errors && a.posted_cents == b.posted_cents;
}

// Notes which operations each line goes through, passing every call on, and
// records the state before each line from inside the run's transaction
// (where the lines before it are posted but not yet committed).
#define KIV_NOTED(type, operation, params, args) \
  type operation params override {               \
    roads.back() += " > " #operation;            \
    return inner_.operation args;                \
  }
class Recorder : public LineOperations {
 public:
  Recorder(LineOperations& inner, PrefixStates& states) : inner_(inner), states_(states) {}

  LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    states_.record(static_cast<std::int64_t>(roads.size()), dump(store::file::handle_of(s.db), Part::school));
    roads.emplace_back("select_KIV8_Payment");
    return inner_.select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  KIV_NOTED(LookupResult, select_KIV7_student, (Session & s, Ctx& c, S a), (s, c, a))
  KIV_NOTED(OpResult, update_kiv10, (Session & s, S a, S b), (s, a, b))
  KIV_NOTED(OpResult, default_kiv8, (Session & s, const Ctx& c, S a, S b, S d), (s, c, a, b, d))
  KIV_NOTED(LookupResult, find_data, (Session & s, Ctx& c, S a, S b, S d), (s, c, a, b, d))
  KIV_NOTED(LookupResult, find_data1, (Session & s, Ctx& c, S a, S b, S d), (s, c, a, b, d))
  KIV_NOTED(OpResult, update_1, (Session & s, const Ctx& c, S a, S b, S d, S e), (s, c, a, b, d, e))
  KIV_NOTED(OpResult, update_2, (Session & s, const Ctx& c, S a, S b, S d), (s, c, a, b, d))
  KIV_NOTED(OpResult, update_3, (Session & s, const Ctx& c, S a, S b, S d, S e), (s, c, a, b, d, e))
  KIV_NOTED(OpResult, update_4, (Session & s, const Ctx& c, S a, S b, S d, S e), (s, c, a, b, d, e))
  LookupResult insert_1(Session& s, Ctx& c, S day, S amt, S stdid, S grpid) override {
    roads.back() += " > insert_1";
    const sqlite3_int64 before = sqlite3_last_insert_rowid(store::file::handle_of(s.db));
    auto r = inner_.insert_1(s, c, day, amt, stdid, grpid);
    if (r.ok() && r.found() && sqlite3_last_insert_rowid(store::file::handle_of(s.db)) != before)
      roads.back() += " (new record)";
    return r;
  }

  std::vector<std::string> roads;

 private:
  LineOperations& inner_;
  PrefixStates& states_;
};

// The lookups of the roads data cannot reach, for the students named.
class Detours : public LineOperations {
 public:
  enum Kind { phantom_record = 1, missed_record = 2, paid_record = 4, student_lookup_fails = 8 };
  std::map<std::string, int> kinds_of;  // by student, the kinds or'ed
  int kinds(S stdid) const { return kinds_of.contains(stdid) ? kinds_of.at(stdid) : 0; }
  bool is(S stdid, Kind kind) const { return (kinds(stdid) & kind) != 0; }

  LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    auto r = LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
    // No record, yet the payment lookup finds one.
    if (r.ok() && r.value == 0 && is(stdid, phantom_record)) {
      r.value = writeoff::kTrue;
      c.pay_state = "0";
    }
    return r;
  }
  LookupResult select_KIV7_student(Session& s, Ctx& c, S stdid) override {
    if (!is(stdid, student_lookup_fails)) return LineOperations::select_KIV7_student(s, c, stdid);
    s.op.show_message("無法讀取學生資料 " + stdid, MessageIcon::none, kAppTitle);
    return LookupResult{0, writeoff::OpStatus::line_failed, Error{kErrTypeMismatch, "", false}};
  }
  // The amount-due lookup misses the record; the paid-record lookup finds it or not.
  LookupResult find_data(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    auto r = LineOperations::find_data(s, c, day, stdid, grpid);
    if (r.ok() && (is(stdid, missed_record) || is(stdid, paid_record))) r.value = writeoff::kFalse;
    return r;
  }
  LookupResult find_data1(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    auto r = LineOperations::find_data1(s, c, day, stdid, grpid);
    if (r.ok() && is(stdid, paid_record)) r.value = writeoff::kTrue;
    return r;
  }
};

// The log text a logged line's message ends with, less the student's label.
std::string log_kind(const std::string& message) {
  namespace t = import::log_text;
  for (const char* text : {t::kNoPaymentRecord, t::kNoStudent, t::kPaidInCash, t::kDuplicate, t::kCombinedNotFound,
                           t::kFailedNotFound, t::kInsertFailed, t::kWriteFailed}) {
    if (message.ends_with(text)) return text;
  }
  return message;
}

// Whether an error number is one of a failing machine rather than of the data.
bool environmental(long long number) {
  static const std::set<long long> kinds = {SQLITE_BUSY,     SQLITE_IOERR,    SQLITE_CORRUPT, SQLITE_FULL,
                                            SQLITE_CANTOPEN, SQLITE_PROTOCOL, SQLITE_NOTADB};
  return number == kErrGeneralFailure || (number > 0 && kinds.contains(number & 0xff));
}

// The number of the standard error message "錯誤:...(N)".
std::optional<long long> reported_number(const std::string& message) {
  const std::size_t open = message.rfind('(');
  if (!message.starts_with("錯誤:") || !message.ends_with(')') || open == std::string::npos) return std::nullopt;
  const std::string number = message.substr(open + 1, message.size() - open - 2);
  const std::size_t sign = number.starts_with('-') ? 1 : 0;
  if (number.size() <= sign || number.size() - sign > 18 ||
      number.find_first_not_of("0123456789", sign) != std::string::npos) {
    return std::nullopt;
  }
  return std::stoll(number);
}

// "" when `texts` are a prefix of what the clean run showed followed by the
// standard message of a failing machine, else what is wrong.
std::string check_error_messages(std::vector<std::string> texts, const std::vector<std::string>& clean_texts) {
  if (texts.empty()) return "ended in error without a message";
  const auto number = reported_number(texts.back());
  if (!number || !environmental(*number)) return "not the standard message of a failing machine: " + texts.back();
  texts.pop_back();
  if (texts.size() > clean_texts.size() || !std::equal(texts.begin(), texts.end(), clean_texts.begin())) {
    return "before the error it showed other messages than the clean run";
  }
  return "";
}

// At most `budget` faults. Over budget, half of it is shared equally, so that
// rare kinds (a truncate, a delete) are all tried; the rest in proportion to
// the calls. A kind's faults spread evenly from its first call to its last
// and, over four, take turns: once, from then on, and both ways of failing.
std::vector<fault::Fault> plan(const fault::Counts& counts, std::int64_t budget) {
  const std::int64_t total = std::accumulate(counts.begin(), counts.end(), std::int64_t{0});
  fault::Counts take = counts;
  if (total > budget) {
    const std::int64_t share = budget / (2 * std::ranges::count_if(counts, [](std::int64_t c) { return c > 0; }));
    std::int64_t left = budget, rest = 0;
    for (std::size_t i = 0; i < take.size(); ++i) {
      take[i] = std::min(counts[i], share);
      left -= take[i], rest += counts[i] - take[i];
    }
    for (std::size_t i = 0; i < take.size(); ++i) take[i] += (counts[i] - take[i]) * left / rest;
  }
  std::vector<fault::Fault> faults;
  for (std::size_t i = 0; i < take.size(); ++i) {
    const auto call = static_cast<fault::Call>(i);
    for (std::int64_t j = 0, previous = 0; j < take[i]; ++j) {
      const std::int64_t nth = take[i] == 1 ? 1 : 1 + (j * (counts[i] - 1) + (take[i] - 1) / 2) / (take[i] - 1);
      if (nth == previous) continue;
      previous = nth;
      fault::Fault f{call, nth, fault::Failure::io_error, j % 2 == 1};
      if ((j / 2 + j) % 2 == 1 && call == fault::Call::read) f.how = fault::Failure::short_read;
      if ((j / 2 + j) % 2 == 1 && call == fault::Call::write) f.how = fault::Failure::disk_full;
      faults.push_back(f);
    }
  }
  return faults;
}

// What one run with a fault did; the problem is "" when every check held.
struct Tried {
  Tried(bool injected, bool failed) : injected(injected), failed(failed) {}
  bool injected, failed;
  std::string problem;
  std::vector<std::string> notes;  // named counts: error numbers, checks that took another way
  // Keeps the first problem found: true once there is one.
  bool found(std::string what) { return !(problem = std::move(what)).empty(); }
};

// How many runs a sweep makes: the variable's value, else the number given,
// fewer under the sanitizers, which are many times slower.
struct Budget {
  const char* variable;
  std::int64_t normal, sanitized;
};

// Runs `one` with each fault planned from the calls of a clean run: every
// check holds, and nearly every planned call is made and failed.
void run_sweep(const char* title, const fault::Counts& counts, Budget runs,
               const std::function<Tried(const fault::Fault&)>& one) {
  const char* value = std::getenv(runs.variable);
#if defined(__SANITIZE_ADDRESS__)
  runs.normal = runs.sanitized;
#endif
  const auto faults = plan(counts, value != nullptr && *value != '\0' ? std::strtoll(value, nullptr, 10) : runs.normal);
  std::int64_t injected = 0, failed = 0;
  std::map<std::string, std::int64_t> notes;
  std::vector<std::string> problems;
  const auto started = std::chrono::steady_clock::now();
  for (const fault::Fault& f : faults) {
    const Tried t = one(f);
    injected += t.injected ? 1 : 0;
    failed += t.failed ? 1 : 0;
    for (const std::string& note : t.notes) ++notes[note];
    if (!t.problem.empty()) problems.push_back(fault::as_text(f) + ": " + t.problem + "\n");
  }
  std::printf("[ sweep ] %s: %zu runs, %lld with a fault injected, %lld ended in error, %.1f s\n", title, faults.size(),
              static_cast<long long>(injected), static_cast<long long>(failed),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  for (const auto& [name, count] : notes)
    std::printf("[ sweep ]   %s: %lld\n", name.c_str(), static_cast<long long>(count));
  const auto shown = problems.begin() + std::min<std::ptrdiff_t>(std::ssize(problems), 12);
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems, the first:\n"
                                << std::accumulate(problems.begin(), shown, std::string());
  EXPECT_GE(injected * 10, static_cast<std::int64_t>(faults.size()) * 9)
      << "nearly every planned call is made and failed";
}

// The strings of a JSON array of strings.
std::vector<std::string> json_strings(const std::string& array) {
  std::vector<std::string> out;
  bool inside = false;
  for (std::size_t i = 0; i < array.size(); ++i) {
    const char c = array[i];
    if (c == '"') {
      if (!inside) out.emplace_back();
      inside = !inside;
    } else if (inside && c == '\\' && i + 1 < array.size()) {
      const char e = array[++i];
      out.back() += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
    } else if (inside) {
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
  std::string refused;
  std::map<std::string, int> seen;
  for (const LineFacts& f : plain.lines) {
    const import::DetailLine d = import::cut_detail(f.raw);
    const int nth = seen[f.road]++;
    const auto last = f.road.substr(f.road.rfind(' ') + 1);
    const auto detour = [&](bool when, Detours::Kind kind) {
      if (when) detours->kinds_of[d.stdid] |= kind;
    };
    bool refuse = false;
    if (d.comb_flag == "1") {
      refuse = last == "update_2" && nth % 4 == 1;
    } else if (last == "update_2") {
      detour(nth % 6 == 1, Detours::missed_record);
      detour(nth % 6 == 4, Detours::paid_record);
    } else if (last == "update_1") {
      refuse = nth % 5 == 2;
    } else if (f.end == LineFacts::End::logged && f.log_message == import::log_text::kNoPaymentRecord) {
      detour(nth % 5 == 0, Detours::phantom_record);
    } else if (f.end == LineFacts::End::logged && log_kind(f.log_message) == import::log_text::kDuplicate) {
      detour(nth % 4 == 0, Detours::student_lookup_fails);
    }
    if (char* quoted = refuse ? sqlite3_mprintf("%Q", d.stdid.c_str()) : nullptr) {
      refused += (refused.empty() ? "" : ",") + std::string(quoted);
      sqlite3_free(quoted);
    }
  }
  const std::string trigger =
      "CREATE TRIGGER kiv_test_refuse AFTER UPDATE ON KIV8_Payment WHEN new.payday IS NOT NULL "
      "AND new.stdid IN (" +
      refused + ") BEGIN SELECT RAISE(ABORT, 'refused by the test'); END";
  DiskDb(SuitePaths{work.school}.db_path()).exec(trigger);
  work.operations = detours;
}

// One whole run in this process on `root`; asked whether to post a file
// again, it answers `again`.
Ending post(const std::string& root, const std::string& file, LineOperations& ops, bool again = false) {
  RecordingOperator op;
  op.post_again = again;
  Ending ending;
  ending.result = import::confirm_run({SuitePaths{root}, false, file}, op, &ops);
  ending.asked_to_post_again = !op.again_questions.empty();
  for (const auto& m : op.messages) ending.texts.push_back(m.text);
  if (!op.messages.empty()) ending.last = op.messages.back();
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
  const auto* detours = dynamic_cast<const Detours*>(work.operations.get());
  clean.after.emplace_back();
  for (std::size_t j = 0; j < work.lines.size(); ++j) {
    LineFacts facts;
    facts.raw = work.lines[j];
    const import::DetailLine detail = import::cut_detail(facts.raw);
    facts.road = (detail.comb_flag == "1" ? "combined: " : "") + recorder.roads[j];
    facts.stand_in = detours != nullptr ? detours->kinds(detail.stdid) : 0;
    if (auto found = logged.find(facts.raw); found != logged.end()) {
      facts.end = LineFacts::End::logged;
      facts.log_message = found->second;
      facts.road += " | logged '" + log_kind(found->second) + "'";
      logged.erase(found);
    } else {
      facts.end = facts.road.ends_with("update_3")   ? LineFacts::End::failed_transfer
                  : facts.road.ends_with("update_4") ? LineFacts::End::without_amount
                                                     : LineFacts::End::with_amount;
    }
    kiv::import::RunResult r = clean.after.back();
    r.posted_cents += facts.end == LineFacts::End::with_amount ? detail.amount_cents : 0;
    r.ok += facts.end == LineFacts::End::with_amount || facts.end == LineFacts::End::without_amount ? 1 : 0;
    r.failed += facts.end == LineFacts::End::failed_transfer ? 1 : 0;
    r.errors += facts.end == LineFacts::End::logged ? 1 : 0;
    clean.after.push_back(r);
    clean.lines.push_back(std::move(facts));
  }
  // What the lines' ends count up to is what the clean run counted.
  if (!same_counters(clean.after.back(), clean.ending.result)) {
    throw std::runtime_error("the ends learnt of the clean run's lines do not add up to its counters");
  }
  return clean;
}

// The checks give "" when they hold, else what is wrong.
// (a) the database on disk passes integrity_check.
std::string check_sound(const std::string& root) {
  const std::string verdict = integrity(SuitePaths{root}.db_path());
  return verdict == "ok" ? "" : "integrity_check: " + verdict;
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
  if (run != (n > 0 ? "1 1" : "0 1")) {
    return "the journal's run row (count, counters agree) is '" + run + "' with " + lines;
  }
  return "";
}

// "" when the school's tables are the clean run's at its end, else `what` and how they differ.
std::string check_clean_end(const std::string& root, const CleanRun& clean, const std::string& what) {
  const std::string state = school_dump(SuitePaths{root}.db_path());
  if (state == clean.states.last) return "";
  return what + " the database is not the clean run's:\n" + dump_difference(clean.states.last, state);
}

// (c) an error run said so once, with an error of the machine, after what the
// clean run had shown for the lines before; a completed run is the clean run.
std::string check_ending(const Ending& ending, const CleanRun& clean, const std::string& root) {
  const auto& r = ending.result;
  if (r.outcome == import::RunOutcome::completed) {
    if (ending.texts != clean.ending.texts) return "completed, but its messages differ from the clean run's";
    if (!same_counters(r, clean.ending.result)) return "completed, but its counters differ from the clean run's";
    if (ending.log != clean.ending.log) return "completed, but its error log differs from the clean run's";
    return check_clean_end(root, clean, "completed, but");
  }
  if (r.outcome != import::RunOutcome::error) return "stopped by a rule";
  if (r.counters_ready) return "an error run offers its counters";
  if (!ending.texts.empty() && (ending.last.icon != MessageIcon::critical || ending.last.title != kAppTitle)) {
    return "the last message is not the standard message box: " + ending.last.text;
  }
  return check_error_messages(ending.texts, clean.ending.texts);
}

// (d) every line reached that is not among the first k is in the error log
// (the line being posted when the machine failed may instead be explained by
// the message alone), nothing else is, and the counters are those of k lines.
std::string check_explained(const Ending& ending, const CleanRun& clean, std::int64_t k) {
  const std::int64_t reached = ending.reached;
  if (k > reached) {
    return "the database holds " + std::to_string(k) + " lines, the run reached " + std::to_string(reached);
  }
  std::multiset<LogEntry> required, may, logged(ending.log.begin(), ending.log.end());
  for (std::int64_t j = 0; j < reached; ++j) {
    const LineFacts& f = clean.lines[static_cast<std::size_t>(j)];
    const bool was_logged = f.end == LineFacts::End::logged;
    if (was_logged || j >= k) {
      (j + 1 < reached ? required : may).emplace(f.raw, was_logged ? f.log_message : import::log_text::kWriteFailed);
    }
  }
  for (const LogEntry& e : required) {
    const auto found = logged.find(e);
    if (found == logged.end()) return "not in the error log: " + e.first + " / " + e.second;
    logged.erase(found);
  }
  for (const LogEntry& e : logged) {
    if (!may.contains(e)) return "the error log holds a line it should not: " + e.first + " / " + e.second;
  }
  kiv::import::RunResult expected = clean.counted(k);
  expected.errors = static_cast<std::int64_t>(ending.log.size());
  if (same_counters(ending.result, expected)) return "";
  return "the counters are not those of the first " + std::to_string(k) + " lines and the log";
}

// (e) running the file again resumes the run and completes it, or finds that
// it completed after all and is refused: the end state is one clean run's.
std::string check_rerun_completes(const std::string& root, const ImportWork& work, const CleanRun& clean) {
  const Ending again = post(root, work);
  if (again.result.outcome != import::RunOutcome::completed && !again.asked_to_post_again) {
    return "the run again did not complete: " + again.last.text;
  }
  return check_clean_end(root, clean, "after the run again");
}

// The school, its file and what a clean run does with it, made once for
// every test here.
struct Prepared {
  TempSuite scratch{false};
  ImportWork work = [this] {
    ImportWork w = ImportWork::demo(scratch.root(), 300);
    add_detours(w, CleanRun::learn(w, scratch.root() + "/plain"));
    return w;
  }();
  CleanRun clean = CleanRun::learn(work, scratch.root() + "/clean");
};

Prepared& prepared() {
  static Prepared p;
  return p;
}

// Syncs skip the disk while a sweep runs, and reach it again after.
struct NoWaitingOnTheDisk {
  NoWaitingOnTheDisk() { fault::install(), fault::sync_to_disk(false); }
  ~NoWaitingOnTheDisk() { fault::sync_to_disk(true); }
};

std::string failing_note(const fault::Fault& f, const std::string& message) {
  const auto number = reported_number(message);
  return std::string(fault::name(f.call)) + " failing, reported (" + (number ? std::to_string(*number) : "none") + ")";
}

// A line posted again by a run of another file finds its records written off
// and changes nothing, except a record that its own insert created: that one
// is there for the next run to write off.
TEST(FaultSweep, PostingALineAgainAfterItWasPostedLeavesItsRecordsAsOnceExceptARecordTheInsertCreated) {
  Prepared& p = prepared();
  std::map<std::string, std::size_t> first;
  for (std::size_t j = 0; j < p.clean.lines.size(); ++j) {
    first.try_emplace(p.clean.lines[j].road + " " + std::to_string(p.clean.lines[j].stand_in), j);
  }
  const std::string root = p.scratch.root() + "/again";
  const std::string prefix = p.scratch.root() + "/prefix.dat", single = p.scratch.root() + "/single.dat";
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
    EXPECT_EQ(once == school_dump(SuitePaths{root}.db_path()), !line.road.ends_with("insert_1 (new record)"));
  }
}

TEST(FaultSweep, ImportRunWithAnyFileCallFailingStopsAfterWholeLinesExplainsTheRestAndCanBeRunAgain) {
  const NoWaitingOnTheDisk quick;
  Prepared& p = prepared();
  const CleanRun& clean = p.clean;
  const std::string root = p.scratch.root() + "/run";
  p.work.copy_school(root);
  fault::arm();
  ASSERT_EQ(post(root, p.work).result.outcome, import::RunOutcome::completed);
  run_sweep("import run", fault::disarm(), {"KIV_FAULT_SWEEP", 500, 60}, [&](const fault::Fault& f) {
    p.work.copy_school(root);
    fault::arm(f);
    const Ending e = post(root, p.work);
    fault::disarm();
    Tried t{fault::injected() > 0, e.result.outcome != import::RunOutcome::completed};
    if (t.failed) t.notes.push_back(failing_note(f, e.last.text));
    if (t.failed && !t.injected) return t.found("ended in error with no call failed"), t;
    Range range;
    if (t.found(check_sound(root)) || t.found(check_clean_prefix(root, clean, range)) ||
        t.found(check_ending(e, clean, root)) || !t.failed) {
      return t;  // a completed run is the clean run; posting its file again is another matter
    }
    const std::int64_t k = std::min(range->second, e.reached);
    if (t.found(check_explained(e, clean, k))) return t;
    const std::string& current = clean.lines[static_cast<std::size_t>(std::max<std::int64_t>(e.reached, 1) - 1)].raw;
    if (e.reached > k && std::ranges::none_of(e.log, [&](const LogEntry& entry) { return entry.first == current; })) {
      t.notes.emplace_back("the line being posted explained by the message alone");
    }
    t.found(check_rerun_completes(root, p.work, clean));
    return t;
  });
}

// kiv2700 itself, unchanged, with the fault layer preloaded: its exit status,
// output and the calls it made.
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
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
  for (const auto& [name, value] : env) {
    const char* old = std::getenv(name);
    saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
  }
  ToolEnd end{run_tool(scratch, args)};
  for (const auto& [name, old] : saved) old ? setenv(name, old->c_str(), 1) : unsetenv(name);
  std::ifstream in(counts_path);  // "KIND COUNT" lines in the order of the kinds, then "injected COUNT"
  std::string kind;
  for (std::int64_t& count : end.counts) in >> kind >> count;
  in >> kind >> end.injected;
  return end;
}

TEST(FaultSweep, ToolWithAFileCallFailingExitsTwoWithOneMessageOrCompletesAsACleanRun) {
  Prepared& p = prepared();
  // The tool has no stand-in lookups: its own clean run is learnt first.
  ImportWork work = p.work;
  work.operations = std::make_shared<LineOperations>();
  const CleanRun clean = CleanRun::learn(work, p.scratch.root() + "/tool-clean");
  // The question about the log names the log's path, which is the run's own.
  const auto question = [](const std::string& text) { return text.substr(0, text.find("是否立刻查看")); };
  std::vector<std::string> clean_texts = clean.ending.texts;
  for (const auto& q : clean.ending.questions) clean_texts.push_back(question(q));
  const std::string root = p.scratch.root() + "/tool";
  const std::vector<std::string> args = {"post", "--root", root, "--json", work.file};
  work.copy_school(root);
  const ToolEnd counting = run_tool_with(p.scratch.root(), args, std::nullopt);
  ASSERT_EQ(counting.run.status, 0) << counting.run.out << counting.run.err;
  run_sweep("kiv2700 post", counting.counts, {"KIV_FAULT_SWEEP_TOOL", 100, 20}, [&](const fault::Fault& f) {
    work.copy_school(root);
    const ToolEnd end = run_tool_with(p.scratch.root(), args, f);
    const std::string &json = end.run.out, outcome = json_field(json, "outcome");
    auto messages = json_strings(json_field(json, "messages"));
    if (!messages.empty() && messages.back().starts_with("共 ")) messages.back() = question(messages.back());
    Tried t{end.injected > 0, end.run.status != 0};
    Range range;
    if (t.found(check_sound(root)) || t.found(check_clean_prefix(root, clean, range))) return t;
    if (end.run.status == 0) {
      if (outcome != "completed" || messages != clean_texts)
        return t.found("exit 0, but not as the clean run: " + json), t;
      if (range->second != static_cast<std::int64_t>(clean.lines.size())) t.found("exit 0 with lines not posted");
      return t;
    }
    if (end.run.status != 2 || outcome != "error") {
      return t.found("exit " + std::to_string(end.run.status) + ", outcome " + outcome + end.run.err), t;
    }
    if (t.found(check_error_messages(messages, clean_texts))) return t;
    const import::RunResult counted = clean.counted(range->first);
    if (json_field(json, "ok") != std::to_string(counted.ok) ||
        json_field(json, "failed") != std::to_string(counted.failed)) {
      t.found("exit 2 with counters that are not the posted lines': " + json);
    }
    return t;
  });
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
  const auto same_rows = [&] { return dump_file(paths.db_path(), Part::all, false) == rows; };
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
  run_sweep("compaction", fault::counts(), {"KIV_FAULT_SWEEP_COMPACT", 100, 25}, [&](const fault::Fault& f) {
    RecordingOperator op, again;
    const bool error = compact(f, op).has_value();
    Tried t{fault::injected() > 0, error};
    if (error) t.notes.push_back(failing_note(f, op.messages.empty() ? "" : op.messages[0].text));
    if (t.found(check_sound(root)) || t.found(same_rows() ? "" : "rows changed")) return t;
    // A leftover may be the only good copy until a compaction has succeeded.
    if (error && !(fs::exists(root + "/mdb/" + store::kCompactedCopyName) &&
                   fs::exists(root + "/mdb/" + store::kBackupCopyName))) {
      return t.found("a leftover went although the compaction failed"), t;
    }
    if (op.messages.size() != (error ? 1U : 0U)) return t.found(std::to_string(op.messages.size()) + " messages"), t;
    if (error && t.found(check_error_messages({op.messages[0].text}, {}))) return t;
    if (store::compress_mdb(paths, again) || !check_sound(root).empty() || !same_rows())
      t.found("compacting again did not end with every row whole");
    return t;
  });
}

TEST(FaultSweep, UndoWithAnyFileCallFailingLeavesTheRunOrUndoesItWholeWithOneError) {
  const NoWaitingOnTheDisk quick;
  Prepared& p = prepared();
  const std::string posted = p.scratch.root() + "/clean", root = p.scratch.root() + "/undo";
  const auto state = [&] { return dump_file(SuitePaths{root}.db_path()); };
  // Opening the database is part of an undo as the tool runs it.
  const auto undo = [&](std::optional<fault::Fault> f, bool fresh = true) -> std::optional<Error> {
    if (fresh) fs::remove_all(root), fs::copy(posted, root, fs::copy_options::recursive);
    fault::arm(f);
    std::optional<Error> error;
    try {
      auto db = store::Connection::open(SuitePaths{root});
      if (journal::undo_run(db, 1, {"tester", "", ""}).status != journal::UndoResult::Status::undone) {
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
  const std::string undone = state();
  ASSERT_EQ(school_dump(SuitePaths{root}.db_path()), school_dump(SuitePaths{p.work.school}.db_path()));
  run_sweep("undo", counts, {"KIV_FAULT_SWEEP_UNDO", 150, 30}, [&](const fault::Fault& f) {
    const auto error = undo(f);
    Tried t{fault::injected() > 0, error.has_value()};
    if (t.found(check_sound(root))) return t;
    const std::string now = state();
    if (error) t.notes.emplace_back(now == before ? "error, the run stands" : "error, yet undone");
    if (now != before && now != undone)
      return t.found("neither as before the undo nor undone:\n" + dump_difference(undone, now)), t;
    if (!error && now != undone) return t.found("ended well, but the run stands"), t;
    // The tool shows the one error it ends with in its standard message.
    if (error && !environmental(error->number)) return t.found("ended with " + error->description), t;
    if (now == before && (undo(std::nullopt, false) || state() != undone))
      t.found("the undo again did not undo the run");
    return t;
  });
}

}  // namespace
}  // namespace kiv::testing
