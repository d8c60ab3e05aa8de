#include "import_sweep.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "import/collection_file.h"
#include "import/collection_writer.h"
#include "store/connection.h"
#include "store/file/file_store.h"
#include "tool_run.h"

namespace kiv::testing::sweep {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> split_crlf(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
    out.push_back(text.substr(start, pos - start));
  }
  return out;
}

std::vector<LogEntry> read_log(const std::optional<std::string>& path) {
  std::vector<LogEntry> out;
  if (!path) return out;
  const auto lines = split_crlf(slurp(*path));
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) out.emplace_back(lines[i], lines[i + 1]);
  if (lines.size() % 2 != 0) out.emplace_back(lines.back(), "(no message line)");
  return out;
}

// Notes which operations each line goes through, passing every call on, and
// records the state before each line from inside the run's transaction
// (where the lines before it are posted but not yet committed).
class Recorder : public import::LineOperations {
 public:
  Recorder(import::LineOperations& inner, PrefixStates& states) : inner_(inner), states_(states) {}

  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    states_.record(static_cast<std::int64_t>(roads.size()), dump(store::file::handle_of(s.db), true, false));
    roads.emplace_back("select_KIV8_Payment");
    last_operation.emplace_back();
    return inner_.select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  writeoff::LookupResult select_KIV7_student(Session& s, Ctx& c, S stdid) override {
    note("select_KIV7_student");
    return inner_.select_KIV7_student(s, c, stdid);
  }
  writeoff::OpResult update_kiv10(Session& s, S day, S grpid) override {
    note("update_kiv10");
    return inner_.update_kiv10(s, day, grpid);
  }
  writeoff::OpResult default_kiv8(Session& s, const Ctx& c, S day, S stdid, S grpid) override {
    note("default_kiv8");
    return inner_.default_kiv8(s, c, day, stdid, grpid);
  }
  writeoff::LookupResult find_data(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    note("find_data");
    return inner_.find_data(s, c, day, stdid, grpid);
  }
  writeoff::LookupResult find_data1(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    note("find_data1");
    return inner_.find_data1(s, c, day, stdid, grpid);
  }
  writeoff::OpResult update_1(Session& s, const Ctx& c, S day, S amt, S stdid, S grpid) override {
    note("update_1");
    return inner_.update_1(s, c, day, amt, stdid, grpid);
  }
  writeoff::OpResult update_2(Session& s, const Ctx& c, S day, S stdid, S grpid) override {
    note("update_2");
    return inner_.update_2(s, c, day, stdid, grpid);
  }
  writeoff::OpResult update_3(Session& s, const Ctx& c, S fail, S day, S stdid, S grpid) override {
    note("update_3");
    return inner_.update_3(s, c, fail, day, stdid, grpid);
  }
  writeoff::OpResult update_4(Session& s, const Ctx& c, S day, S stdid, S grpid, S lastcol) override {
    note("update_4");
    return inner_.update_4(s, c, day, stdid, grpid, lastcol);
  }
  writeoff::LookupResult insert_1(Session& s, Ctx& c, S day, S amt, S stdid, S grpid) override {
    note("insert_1");
    const sqlite3_int64 before = sqlite3_last_insert_rowid(store::file::handle_of(s.db));
    auto r = inner_.insert_1(s, c, day, amt, stdid, grpid);
    if (r.ok() && r.found() && sqlite3_last_insert_rowid(store::file::handle_of(s.db)) != before)
      roads.back() += " (new record)";
    return r;
  }

  std::vector<std::string> roads;
  std::vector<std::string> last_operation;

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

}  // namespace

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

ImportWork ImportWork::demo(const std::string& scratch, int students) {
  ImportWork work;
  work.school = scratch + "/school";
  const std::string n = std::to_string(students);
  // The school that reaches every kind of line is asked for by name where the
  // plain demo is a realistic one.
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"--every-case", "--students", n}, std::vector<std::string>{"--every-case"},
        std::vector<std::string>{"--students", n}}) {
    fs::remove_all(work.school);
    std::vector<std::string> args = {"demo", "--root", work.school};
    args.insert(args.end(), extra.begin(), extra.end());
    if (run_tool(scratch, args).status == 0) break;
  }
  work.file = SuitePaths{work.school}.staging_file();
  std::ifstream in(work.file, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > import::kShortLine && import::record_kind(line) == import::RecordKind::detail) {
      work.lines.push_back(line);
    }
  }
  if (work.lines.empty()) throw std::runtime_error("kiv2700 demo made no collection file in " + work.school);
  return work;
}

void ImportWork::add_detours(const CleanRun& plain) {
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
  DiskDb db(SuitePaths{school}.db_path());
  db.exec("CREATE TRIGGER kiv_test_refuse AFTER UPDATE ON KIV8_Payment WHEN new.payday IS NOT NULL AND new.stdid IN (" +
          names + ") BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
  operations = detours;
}

void ImportWork::copy_school(const std::string& root) const {
  fs::remove_all(root);
  fs::copy(school, root, fs::copy_options::recursive);
}

void ImportWork::write_first_lines(const std::string& path, std::size_t count) const {
  write_collection(path, std::vector<std::string>(lines.begin(), lines.begin() + std::min(count, lines.size())));
}

void write_collection(const std::string& path, const std::vector<std::string>& details) {
  std::string content;
  Cents file_amt = 0, posted_amt = 0;
  std::int64_t posted_cnt = 0;
  for (const std::string& line : details) {
    content += line + "\r\n";
    const Cents cents = import::detail_amount(line);
    file_amt += cents;
    if (!import::detail_transfer_failed(line)) {
      ++posted_cnt;
      posted_amt += cents;
    }
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      << content << import::format_trailer(static_cast<std::int64_t>(details.size()), file_amt, posted_cnt, posted_amt)
      << "\r\n";
}

Ending post(const std::string& root, const ImportWork& work) {
  return post(root, work.file, *work.operations);
}

Ending post(const std::string& root, const std::string& file, import::LineOperations& ops, bool again) {
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

CleanRun CleanRun::learn(const ImportWork& work, const std::string& root) {
  CleanRun clean;
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

std::string check_sound(const std::string& root) {
  const std::string verdict = integrity(SuitePaths{root}.db_path());
  return verdict == "ok" ? "" : "integrity_check: " + verdict;
}

std::string check_clean_prefix(const std::string& root, const CleanRun& clean,
                               std::optional<std::pair<std::int64_t, std::int64_t>>& range) {
  const std::string state = school_dump(SuitePaths{root}.db_path());
  range = clean.states.find(state);
  if (range) {
    // The journal's lines went in with the lines they describe.
    const std::int64_t journalled = journal_lines(SuitePaths{root}.db_path());
    if (range->first <= journalled && journalled <= range->second) return "";
    return "the journal holds " + std::to_string(journalled) + " lines, the database " + std::to_string(range->first) +
           " to " + std::to_string(range->second);
  }
  return "the database is no clean run's after any whole line; against the end of a clean run:\n" +
         dump_difference(clean.states.last(), state);
}

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
    if (state != clean.states.last()) {
      return "completed, but the database is not the clean run's:\n" + dump_difference(clean.states.last(), state);
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
    return "counters ok " + std::to_string(r.ok) + " failed " + std::to_string(r.failed) + " cents " +
           std::to_string(r.posted_cents) + " errors " + std::to_string(r.errors) + ", the first " + std::to_string(k) +
           " lines give ok " + std::to_string(expected.ok) + " failed " + std::to_string(expected.failed) + " cents " +
           std::to_string(expected.posted_cents) + " and the log " + std::to_string(ending.log.size());
  }
  return "";
}

std::string check_rerun_completes(const std::string& root, const ImportWork& work, const CleanRun& clean) {
  const Ending again = post(root, work);
  if (again.result.outcome != import::RunOutcome::completed && !again.asked_to_post_again) {
    return "the run again did not complete: " + (again.messages.empty() ? "" : again.messages.back().text);
  }
  const std::string state = school_dump(SuitePaths{root}.db_path());
  if (state == clean.states.last()) return "";
  return "after the run again the database is not one clean run's:\n" + dump_difference(clean.states.last(), state);
}

}  // namespace kiv::testing::sweep
