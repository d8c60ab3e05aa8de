#include "journal/run_journal.h"

#include <algorithm>
#include <memory>

#include "core/text.h"
#include "store/journal_schema.h"
#include "store/statement.h"

namespace kiv::journal {

namespace {

// Runs are numbered inside the writing transaction, which waits for any
// other writer first (on the server too), so no two runs take one number;
// the unique index would refuse the second if they did.
const store::Sql kNextRun{"select coalesce(max(run),0)+1 from KIV27_Run"};
const store::Sql kInsertRun{
    "insert into KIV27_Run(run,kind,started,ended,ctx_arg1,ctx_arg2,ctx_arg3,source,size,sha256,trailer,file_cnt,"
    "file_amt,posted_cnt,posted_amt,lines,ok,failed,errors,settled,posted_cents,outcome,log,resumes,undoes,undone_by) "
    "values(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19,?20,?21,?22,?23,?24,?25,?26)"};
const store::Sql kOutcome{
    "update KIV27_Run set ended=?2,ok=?3,failed=?4,errors=?5,settled=?6,posted_cents=?7,outcome=?8,log=?9 "
    "where run=?1"};
// Rows go in several to a statement: what running a statement costs beyond
// its rows is paid once for all of them.
constexpr std::size_t kRowsPerInsert = 16;

class RowsInsert {
 public:
  RowsInsert(std::string head, int columns) : head_(std::move(head)), columns_(columns) {}
  int columns() const { return columns_; }
  // The statement for `rows` rows (1..kRowsPerInsert), declared once.
  const store::Sql& sql(std::size_t rows) {
    auto& kept = by_rows_[rows - 1];
    if (!kept) {
      std::string text = head_;
      int parameter = 0;
      for (std::size_t row = 0; row < rows; ++row) {
        text += row == 0 ? "(" : ",(";
        for (int column = 0; column < columns_; ++column) {
          if (column > 0) text += ',';
          text += '?';
          text += std::to_string(++parameter);
        }
        text += ')';
      }
      kept = std::make_unique<store::Sql>(text);
    }
    return *kept;
  }

 private:
  std::string head_;
  int columns_;
  std::unique_ptr<store::Sql> by_rows_[kRowsPerInsert];
};

RowsInsert& line_insert() {
  static RowsInsert kInsert{
      "insert into KIV27_Line(run,line_no,file_line,outcome,amount,stdid,grpid,fail_code,log_text,settled_by) values",
      10};
  return kInsert;
}

RowsInsert& change_insert() {
  static RowsInsert kInsert{
      "insert into KIV27_Change(run,line_no,seq,table_name,row_id,op,before_image,after_image) values", 8};
  return kInsert;
}

// Inserts `count` rows; `bind(st, i, first)` binds row i from parameter first on.
template <class Bind>
void insert_rows(store::Connection& db, RowsInsert& insert, std::size_t count, Bind&& bind) {
  for (std::size_t done = 0; done < count;) {
    const std::size_t rows = std::min(kRowsPerInsert, count - done);
    store::Statement st(db, insert.sql(rows));
    for (std::size_t row = 0; row < rows; ++row) {
      bind(st, done + row, static_cast<int>(row) * insert.columns() + 1);
    }
    st.run();
    done += rows;
  }
}

// A change as the journal keeps it, images encoded.
struct ChangeRow {
  std::int64_t line_no = 0, seq = 0;
  const store::RowChange* change = nullptr;
  std::string before, after;
};

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
  st.bind(5, escape_non_utf8(run.context.arg1)).bind(6, escape_non_utf8(run.context.arg2));
  st.bind(7, escape_non_utf8(run.context.arg3));
  st.bind(8, escape_non_utf8(run.source)).bind(9, run.size).bind(10, run.sha256).bind(11, run.trailer ? 1 : 0);
  st.bind(12, run.file_cnt).bind(13, run.file_amt).bind(14, run.posted_cnt).bind(15, run.posted_amt);
  st.bind(16, run.lines).bind(17, run.ok).bind(18, run.failed).bind(19, run.errors).bind(20, run.settled);
  st.bind(21, run.posted_cents).bind(22, run.outcome).bind(23, run.log);
  st.bind(24, run.resumes).bind(25, run.undoes).bind(26, run.undone_by);
  st.run();
  return run.run;
}

namespace {

// The tables of which a whole row with its column names is among the rows
// being written, in one transaction. Their later whole rows are kept as values
// alone, which a reader names after the last such row of the table it read
// before them (rows are read in the order they were written).
using NamedTables = std::vector<std::string>;

std::string whole_row(const std::string& table, const store::RowImage& image, NamedTables& named) {
  if (std::find(named.begin(), named.end(), table) != named.end()) return store::encode_values(image);
  named.push_back(table);
  return store::encode_image(image);
}

ChangeRow change_row(std::int64_t line_no, std::int64_t seq, const store::RowChange& change, NamedTables& named) {
  ChangeRow row{line_no, seq, &change, {}, {}};
  if (change.op != store::ChangeOp::insert) row.before = whole_row(change.table, change.before, named);
  // An update keeps only the columns it changed; the rest are as before.
  if (change.op == store::ChangeOp::insert) row.after = whole_row(change.table, change.after, named);
  if (change.op == store::ChangeOp::update) {
    row.after = store::encode_image(store::changed_fields(change.before, change.after));
  }
  return row;
}

void insert_change_rows(store::Connection& db, std::int64_t run, const std::vector<ChangeRow>& rows) {
  insert_rows(db, change_insert(), rows.size(), [&](store::Statement& st, std::size_t i, int p) {
    const ChangeRow& row = rows[i];
    st.bind(p, run).bind(p + 1, row.line_no).bind(p + 2, row.seq).bind(p + 3, row.change->table);
    st.bind(p + 4, row.change->rowid).bind(p + 5, op_name(row.change->op));
    st.bind(p + 6, row.before).bind(p + 7, row.after);
  });
}

}  // namespace

void insert_changes(store::Connection& db, std::int64_t run, std::int64_t line_no,
                    const std::vector<store::RowChange>& changes) {
  std::vector<ChangeRow> rows;
  rows.reserve(changes.size());
  NamedTables named;
  for (const store::RowChange& change : changes) {
    rows.push_back(change_row(line_no, static_cast<std::int64_t>(rows.size()) + 1, change, named));
  }
  insert_change_rows(db, run, rows);
}

void RunJournal::start(store::Connection& db) {
  if (started_) return;
  create_journal_tables(db);
  if (run_.started.empty()) run_.started = local_time_text();
  run_.outcome = kRunning;
  insert_run(db, run_);
  started_ = true;
}

void RunJournal::write_lines(store::Connection& db, const std::vector<LineRecord>& lines, std::size_t from) {
  if (from >= lines.size()) return;
  insert_rows(db, line_insert(), lines.size() - from, [&](store::Statement& st, std::size_t i, int p) {
    const LineRecord& line = lines[from + i];
    st.bind(p, run_.run).bind(p + 1, line.line_no).bind(p + 2, line.file_line).bind(p + 3, outcome_name(line.outcome));
    // A line's fields are the file's bytes; the journal keeps them as text
    // that every store accepts.
    st.bind(p + 4, line.amount).bind(p + 5, escape_non_utf8(line.stdid)).bind(p + 6, escape_non_utf8(line.grpid));
    st.bind(p + 7, escape_non_utf8(line.fail_code)).bind(p + 8, line.log_text).bind(p + 9, line.settled_by);
  });
  std::vector<ChangeRow> rows;
  NamedTables named;
  for (std::size_t i = from; i < lines.size(); ++i) {
    const LineRecord& line = lines[i];
    std::int64_t seq = 0;
    for (const store::RowChange& change : line.changes) rows.push_back(change_row(line.line_no, ++seq, change, named));
  }
  insert_change_rows(db, run_.run, rows);
}

void RunJournal::write_outcome(store::Connection& db, const RunRecord& counters, std::string_view outcome) {
  store::Statement st(db, kOutcome);
  st.bind(1, run_.run).bind(2, outcome == kRunning ? std::string() : local_time_text());
  st.bind(3, counters.ok).bind(4, counters.failed).bind(5, counters.errors).bind(6, counters.settled);
  st.bind(7, counters.posted_cents).bind(8, outcome).bind(9, escape_non_utf8(counters.log));
  st.run();
}

}  // namespace kiv::journal
