#include "journal/run_journal.h"

#include "store/journal_schema.h"
#include "store/statement.h"

namespace kiv::journal {

namespace {

const store::Sql kNextRun{"select coalesce(max(run),0)+1 from KIV27_Run"};
const store::Sql kInsertRun{
    "insert into KIV27_Run(run,kind,started,ended,ctx_arg1,ctx_arg2,ctx_arg3,source,size,sha256,trailer,file_cnt,"
    "file_amt,posted_cnt,posted_amt,lines,ok,failed,errors,settled,posted_cents,outcome,log,resumes,undoes,undone_by) "
    "values(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19,?20,?21,?22,?23,?24,?25,?26)"};
const store::Sql kOutcome{
    "update KIV27_Run set ended=?2,ok=?3,failed=?4,errors=?5,settled=?6,posted_cents=?7,outcome=?8,log=?9 "
    "where run=?1"};
const store::Sql kInsertLine{
    "insert into KIV27_Line(run,line_no,file_line,outcome,amount,stdid,grpid,fail_code,log_text,settled_by) "
    "values(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10)"};
const store::Sql kInsertChange{
    "insert into KIV27_Change(run,line_no,seq,table_name,row_id,op,before_image,after_image) "
    "values(?1,?2,?3,?4,?5,?6,?7,?8)"};

std::string_view op_name(store::ChangeOp op) {
  switch (op) {
    case store::ChangeOp::insert:
      return "insert";
    case store::ChangeOp::remove:
      return "delete";
    case store::ChangeOp::update:
      break;
  }
  return "update";
}

}  // namespace

void create_journal_tables(store::Connection& db) {
  for (const std::string& statement : store::journal_ddl(db.dialect())) db.execute(statement);
}

std::int64_t insert_run(store::Connection& db, RunRecord& run) {
  {
    store::Statement next(db, kNextRun);
    next.step();
    run.run = next.integer(0);
  }
  store::Statement st(db, kInsertRun);
  st.bind(1, run.run).bind(2, run.kind).bind(3, run.started).bind(4, run.ended);
  st.bind(5, run.context.arg1).bind(6, run.context.arg2).bind(7, run.context.arg3);
  st.bind(8, run.source).bind(9, run.size).bind(10, run.sha256).bind(11, run.trailer ? 1 : 0);
  st.bind(12, run.file_cnt).bind(13, run.file_amt).bind(14, run.posted_cnt).bind(15, run.posted_amt);
  st.bind(16, run.lines).bind(17, run.ok).bind(18, run.failed).bind(19, run.errors).bind(20, run.settled);
  st.bind(21, run.posted_cents).bind(22, run.outcome).bind(23, run.log);
  st.bind(24, run.resumes).bind(25, run.undoes).bind(26, run.undone_by);
  st.run();
  return run.run;
}

void insert_changes(store::Connection& db, std::int64_t run, std::int64_t line_no,
                    const std::vector<store::RowChange>& changes) {
  std::int64_t seq = 0;
  for (const store::RowChange& change : changes) {
    store::Statement st(db, kInsertChange);
    st.bind(1, run).bind(2, line_no).bind(3, ++seq).bind(4, change.table).bind(5, change.rowid);
    st.bind(6, op_name(change.op));
    st.bind(7, change.op == store::ChangeOp::insert ? std::string() : store::encode_image(change.before));
    // An update keeps only the columns it changed; the rest are as before.
    switch (change.op) {
      case store::ChangeOp::insert:
        st.bind(8, store::encode_image(change.after));
        break;
      case store::ChangeOp::update:
        st.bind(8, store::encode_image(store::changed_fields(change.before, change.after)));
        break;
      case store::ChangeOp::remove:
        st.bind(8, std::string());
        break;
    }
    st.run();
  }
}

void RunJournal::start(store::Connection& db) {
  if (started_) return;
  create_journal_tables(db);
  if (run_.started.empty()) run_.started = local_time_text();
  run_.outcome = kRunning;
  insert_run(db, run_);
  started_ = true;
}

void RunJournal::write_lines(store::Connection& db, const std::vector<LineRecord>& lines) {
  for (const LineRecord& line : lines) {
    store::Statement st(db, kInsertLine);
    st.bind(1, run_.run).bind(2, line.line_no).bind(3, line.file_line).bind(4, outcome_name(line.outcome));
    st.bind(5, line.amount).bind(6, line.stdid).bind(7, line.grpid).bind(8, line.fail_code);
    st.bind(9, line.log_text).bind(10, line.settled_by);
    st.run();
    insert_changes(db, run_.run, line.line_no, line.changes);
  }
}

void RunJournal::write_outcome(store::Connection& db, const RunRecord& counters, std::string_view outcome) {
  store::Statement st(db, kOutcome);
  st.bind(1, run_.run).bind(2, outcome == kRunning ? std::string() : local_time_text());
  st.bind(3, counters.ok).bind(4, counters.failed).bind(5, counters.errors).bind(6, counters.settled);
  st.bind(7, counters.posted_cents).bind(8, outcome).bind(9, counters.log);
  st.run();
}

}  // namespace kiv::journal
