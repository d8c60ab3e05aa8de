#include "journal/undo.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

#include "journal/history.h"
#include "journal/run_journal.h"
#include "store/db_error.h"
#include "store/row_capture.h"
#include "store/row_write_back.h"
#include "store/statement.h"
#include "store/transaction.h"

namespace kiv::journal {

namespace {

const store::Sql kChanges{
    "select table_name,row_id,op,before_image,after_image from KIV27_Change where run=?1 order by line_no,seq"};
const store::Sql kMarkUndone{"update KIV27_Run set undone_by=?2 where run=?1"};
const store::Sql kUndoDone{"update KIV27_Run set ok=?2,ended=?3 where run=?1"};
constexpr std::int64_t kRowsPerStep = 256;

// A row of the run as a whole: its image before the run's first change to
// it and after its last, kept encoded (a run may have changed a great many
// rows) and read when needed.
struct NetRow {
  std::string table;
  std::int64_t rowid = 0;
  std::optional<std::string> before, after;
  std::int64_t now = 0;  // where it is found now
};

[[noreturn]] void throw_unreadable(const std::string& table, std::int64_t rowid) {
  throw store::DbError(
      Error{kErrTypeMismatch, "日誌的資料列影像無法讀取: " + table + " rowid " + std::to_string(rowid), true});
}

store::RowImage decoded(const std::string& text, const std::string& table, std::int64_t rowid) {
  auto image = store::decode_image(text);
  if (!image) throw_unreadable(table, rowid);
  return std::move(*image);
}

// Whole rows are kept with their column names, or as values alone named
// after the last row of the table with names read before them.
class WholeRows {
 public:
  std::string as_image(std::string text, const std::string& table, std::int64_t rowid) {
    if (!text.starts_with('[')) {
      named_[table] = decoded(text, table, rowid);
      return text;
    }
    const auto named = named_.find(table);
    std::optional<store::RowImage> image;
    if (named != named_.end()) image = store::decode_values(text, named->second);
    if (!image) throw_unreadable(table, rowid);
    return store::encode_image(*image);
  }

 private:
  std::map<std::string, store::RowImage> named_;
};

std::vector<NetRow> net_rows(store::Connection& db, std::int64_t run) {
  std::vector<NetRow> rows;
  std::map<std::pair<std::string, std::int64_t>, std::size_t> index;
  WholeRows whole;
  store::Statement st(db, kChanges);
  st.bind(1, run);
  while (st.step()) {
    const std::string table = st.text(0), op = st.text(2);
    const std::int64_t rowid = st.integer(1);
    std::optional<std::string> before, after;
    if (op != "insert") before = whole.as_image(st.text(3), table, rowid);
    if (op == "insert") after = whole.as_image(st.text(4), table, rowid);
    // An update keeps the columns it changed: the whole row is the one before with them.
    if (op == "update") {
      after = store::encode_image(store::overlay(decoded(*before, table, rowid), decoded(st.text(4), table, rowid)));
    }
    const auto [at, fresh] = index.emplace(std::pair{table, rowid}, rows.size());
    if (fresh) {
      rows.push_back(NetRow{table, rowid, std::move(before), std::move(after), 0});
    } else {
      rows[at->second].after = std::move(after);
    }
  }
  std::erase_if(rows, [](const NetRow& row) { return row.before == row.after; });
  return rows;
}

// The row's columns that `image` names, in its order: what is compared.
store::RowImage projected(const store::RowImage& row, const store::RowImage& image) {
  store::RowImage out;
  for (const store::Field& field : image) {
    const store::Field* now = store::field_named(row, field.name);
    out.push_back(store::Field{field.name, now != nullptr ? now->value : store::Value{}});
    if (now == nullptr) out.back().name += "\x01missing";
  }
  return out;
}

std::optional<store::RowImage> row_at(store::Connection& db, const std::string& table, std::int64_t rowid) {
  store::Statement st(db, store::sql_built("select rowid,* from " + table + " where rowid=?1"));
  st.bind(1, rowid);
  if (!st.step()) return std::nullopt;
  return store::read_image(st, 1);
}

// Finds every row the run left in place, by rowid or else by content; the
// rows that are nowhere as the run left them are conflicts.
std::vector<UndoConflict> locate(store::Connection& db, std::vector<NetRow>& rows) {
  std::map<std::string, std::vector<std::int64_t>> claimed;  // table -> rowids taken
  std::map<std::string, std::unordered_multimap<std::string, NetRow*>> wanted;
  for (NetRow& row : rows) {
    if (!row.after) continue;
    const auto now = row_at(db, row.table, row.rowid);
    const store::RowImage after = decoded(*row.after, row.table, row.rowid);
    if (now && projected(*now, after) == after) {
      row.now = row.rowid;
      claimed[row.table].push_back(row.rowid);
    } else {
      wanted[row.table].emplace(*row.after, &row);
    }
  }
  for (auto& [table, pending] : wanted) {
    auto& taken = claimed[table];
    std::sort(taken.begin(), taken.end());
    const store::RowImage shape = decoded(*pending.begin()->second->after, table, 0);
    store::Statement st(db, store::sql_built("select rowid,* from " + table + " order by rowid"));
    while (!pending.empty() && st.step()) {
      const std::int64_t rowid = st.integer(0);
      if (std::binary_search(taken.begin(), taken.end(), rowid)) continue;
      const auto match = pending.find(store::encode_image(projected(store::read_image(st, 1), shape)));
      if (match == pending.end()) continue;
      match->second->now = rowid;
      pending.erase(match);
    }
  }
  std::vector<UndoConflict> conflicts;
  for (const auto& [table, pending] : wanted) {
    for (const auto& [image, row] : pending) {
      const auto now = row_at(db, row->table, row->rowid);
      conflicts.push_back(UndoConflict{row->table, row->rowid, image, now ? store::encode_image(*now) : "", ""});
    }
  }
  return conflicts;
}

void delete_row(store::Connection& db, const NetRow& row) {
  store::delete_row(db, row.table, row.now);
}

void update_row(store::Connection& db, const NetRow& row) {
  store::write_row(db, row.table, row.now, decoded(*row.before, row.table, row.rowid));
}

// Back with its old rowid when no row holds it now; elsewhere otherwise.
void restore_row(store::Connection& db, const NetRow& row) {
  const bool free = !row_at(db, row.table, row.rowid);
  store::insert_row(db, row.table, free ? std::optional(row.rowid) : std::nullopt,
                    decoded(*row.before, row.table, row.rowid));
}

}  // namespace

UndoResult undo_run(store::Connection& db, std::int64_t run, const RunContext& context) {
  UndoResult result;
  std::optional<RunRecord> target = find_run(db, run);
  if (!target) return result;
  if (target->kind != kPostRun) {
    result.status = UndoResult::Status::not_a_post;
    return result;
  }

  store::Transaction transaction(db);
  // Read again inside the transaction: another undo may have come first.
  target = find_run(db, run);
  if (target->undone_by != 0) {
    result.status = UndoResult::Status::already_undone;
    result.undone_by = target->undone_by;
    return result;
  }
  RunRecord undo;
  undo.kind = kUndoRun;
  undo.started = local_time_text();
  undo.context = context;
  undo.source = target->source;
  undo.size = target->size;
  undo.sha256 = target->sha256;
  undo.undoes = run;

  std::vector<NetRow> rows = net_rows(db, run);
  result.conflicts = locate(db, rows);
  if (!result.conflicts.empty()) {
    result.status = UndoResult::Status::refused;
    return result;  // the transaction rolls back: nothing changed
  }

  undo.outcome = kCompleted;
  result.undo_run = insert_run(db, undo);
  {
    // The undo's own changes are journalled as it goes, a step of rows at a
    // time, so that what it holds in memory stays small however large the run.
    store::RowCapture capture(db);
    std::int64_t step = 0, in_step = 0;
    const auto end_step = [&] {
      insert_changes(db, result.undo_run, ++step, capture.end_line());
      in_step = 0;
    };
    capture.begin_line();
    // Rows the run made go first, so that a row it deleted can come back
    // under a key the run gave to a new one.
    // A row that cannot be put back (a row with its key has come since)
    // ends the undo there: a server gives up the whole transaction anyway.
    for (int pass = 0; pass < 3; ++pass) {
      for (const NetRow& row : rows) {
        const int kind = !row.before ? 0 : row.after ? 1 : 2;
        if (kind != pass) continue;
        try {
          if (kind == 0) {
            delete_row(db, row);
            ++result.deleted;
          } else if (kind == 1) {
            update_row(db, row);
            ++result.updated;
          } else {
            restore_row(db, row);
            ++result.restored;
          }
        } catch (const store::DbError& e) {
          if (e.error().environmental) throw;
          result.conflicts.push_back(UndoConflict{row.table, row.rowid, "", "", e.error().description});
          result.status = UndoResult::Status::refused;
          result.undo_run = 0;
          return result;  // the transaction rolls back: nothing changed
        }
        if (++in_step == kRowsPerStep) {
          end_step();
          capture.begin_line();
        }
      }
    }
    end_step();
  }
  {
    store::Statement done(db, kUndoDone);
    done.bind(1, result.undo_run).bind(2, result.deleted + result.updated + result.restored);
    done.bind(3, local_time_text()).run();
  }
  {
    store::Statement mark(db, kMarkUndone);
    mark.bind(1, run).bind(2, result.undo_run).run();
  }
  transaction.commit();
  result.status = UndoResult::Status::undone;
  return result;
}

}  // namespace kiv::journal
