#include "journal/history.h"

#include "store/db_error.h"
#include "store/statement.h"

namespace kiv::journal {

namespace {

// A table the database does not have fails with this number on both stores.
constexpr std::int64_t kNoSuchTable = 1;

constexpr const char* kRunColumns =
    "run,kind,started,ended,ctx_arg1,ctx_arg2,ctx_arg3,source,size,sha256,trailer,file_cnt,file_amt,posted_cnt,"
    "posted_amt,lines,ok,failed,errors,settled,posted_cents,outcome,log,resumes,undoes,undone_by";

std::string runs_where(const char* condition) {
  return std::string("select ") + kRunColumns + " from KIV27_Run " + condition;
}

const store::Sql kProbe{"select run from KIV27_Run where run=0"};
const store::Sql kAllRuns{runs_where("order by run desc")};
const store::Sql kOneRun{runs_where("where run=?1")};
const store::Sql kLatestPost{runs_where("where sha256=?1 and kind='post' and undone_by=0 order by run desc limit 1")};
const store::Sql kSettled{"select line_no,outcome,settled_by from KIV27_Line where run=?1 order by line_no"};
const store::Sql kLines{
    "select line_no,file_line,outcome,amount,stdid,grpid,fail_code,log_text,settled_by from KIV27_Line "
    "where run=?1 order by line_no"};

RunRecord read_run(const store::Statement& st) {
  RunRecord r;
  int c = 0;
  r.run = st.integer(c++);
  r.kind = st.text(c++);
  r.started = st.text(c++);
  r.ended = st.text(c++);
  r.context.arg1 = st.text(c++);
  r.context.arg2 = st.text(c++);
  r.context.arg3 = st.text(c++);
  r.source = st.text(c++);
  r.size = st.integer(c++);
  r.sha256 = st.text(c++);
  r.trailer = st.integer(c++) != 0;
  r.file_cnt = st.integer(c++);
  r.file_amt = st.integer(c++);
  r.posted_cnt = st.integer(c++);
  r.posted_amt = st.integer(c++);
  r.lines = st.integer(c++);
  r.ok = st.integer(c++);
  r.failed = st.integer(c++);
  r.errors = st.integer(c++);
  r.settled = st.integer(c++);
  r.posted_cents = st.integer(c++);
  r.outcome = st.text(c++);
  r.log = st.text(c++);
  r.resumes = st.integer(c++);
  r.undoes = st.integer(c++);
  r.undone_by = st.integer(c++);
  return r;
}

}  // namespace

bool journal_present(store::Connection& db) {
  try {
    store::Statement probe(db, kProbe);
    probe.step();
    return true;
  } catch (const store::DbError& e) {
    if (e.error().number != kNoSuchTable) throw;
    return false;
  }
}

std::vector<RunRecord> list_runs(store::Connection& db) {
  std::vector<RunRecord> runs;
  if (!journal_present(db)) return runs;
  store::Statement st(db, kAllRuns);
  while (st.step()) runs.push_back(read_run(st));
  return runs;
}

std::optional<RunRecord> find_run(store::Connection& db, std::int64_t run) {
  if (!journal_present(db)) return std::nullopt;
  store::Statement st(db, kOneRun);
  st.bind(1, run);
  if (!st.step()) return std::nullopt;
  return read_run(st);
}

std::optional<RunRecord> latest_post_of(store::Connection& db, const std::string& sha256) {
  if (!journal_present(db)) return std::nullopt;
  store::Statement st(db, kLatestPost);
  st.bind(1, sha256);
  if (!st.step()) return std::nullopt;
  return read_run(st);
}

std::vector<std::pair<std::int64_t, std::int64_t>> settled_lines(store::Connection& db, std::int64_t run) {
  std::vector<std::pair<std::int64_t, std::int64_t>> settled;
  store::Statement st(db, kSettled);
  st.bind(1, run);
  while (st.step()) {
    const auto outcome = outcome_from_name(st.text(1));
    if (!outcome || !settles(*outcome)) continue;
    settled.emplace_back(st.integer(0), *outcome == LineOutcome::settled ? st.integer(2) : run);
  }
  return settled;
}

void for_each_line(store::Connection& db, std::int64_t run, const std::function<void(const LineRecord&)>& visit) {
  store::Statement st(db, kLines);
  st.bind(1, run);
  while (st.step()) {
    LineRecord line;
    line.line_no = st.integer(0);
    line.file_line = st.integer(1);
    line.outcome = outcome_from_name(st.text(2)).value_or(LineOutcome::logged);
    line.amount = st.integer(3);
    line.stdid = st.text(4);
    line.grpid = st.text(5);
    line.fail_code = st.text(6);
    line.log_text = st.text(7);
    line.settled_by = st.integer(8);
    visit(line);
  }
}

Balance run_balance(store::Connection& db, const RunRecord& run) {
  Balance balance;
  balance.credited_total = run.posted_amt;
  for_each_line(db, run.run, [&](const LineRecord& line) {
    if (line.credited()) balance.add(line.outcome, line.amount);
  });
  // What the run did not record, it did not reach; a completed run reached
  // every line, so anything left over there is a difference to show.
  if (!run.completed()) balance.not_reached = balance.credited_total - balance.parts();
  return balance;
}

}  // namespace kiv::journal
