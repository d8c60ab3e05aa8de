#include "store/row_capture.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "store/connection.h"
#include "store/journal_schema.h"
#include "store/row_write_back.h"
#include "store/statement.h"

namespace kiv::store {

namespace {

// Shapes and the statements that read rows are the same for every
// connection: kept for the life of the process, one per statement.
struct Registry {
  std::mutex mutex;
  std::unordered_map<std::uint32_t, WatchedWrite> by_id;
  std::unordered_map<std::string, WatchedWrite> by_text;
  std::unordered_map<std::string, std::unique_ptr<Sql>> reads;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

const Sql& read_sql(Registry& r, const std::string& text) {
  auto& kept = r.reads[text];
  if (!kept) kept = std::make_unique<Sql>(text);
  return *kept;
}

// The registry's lock is held.
WatchedWrite watched(Registry& r, WriteShape shape) {
  WatchedWrite write;
  if (shape.kind == WriteKind::none || is_journal_table(shape.table)) return write;
  write.before_read = &read_sql(r, "select rowid,* from " + shape.table + shape.condition);
  write.after_read = &read_sql(r, "select rowid,* from " + shape.table + " where rowid=?1");
  write.shape = std::move(shape);
  return write;
}

std::string read_key(const WriteShape& shape, std::span<const Value> bound) {
  std::string key = shape.table + shape.condition;
  for (const int n : shape.condition_parameters) {
    key += '\x1f';
    key += static_cast<std::size_t>(n) < bound.size() ? encode_value(bound[static_cast<std::size_t>(n)]) : "null";
  }
  return key;
}

}  // namespace

RowCapture::RowCapture(Connection& db) : db_(db) {
  db_.attach_capture(this);
}

RowCapture::~RowCapture() {
  if (db_.capture() == this) db_.attach_capture(nullptr);
}

const WatchedWrite& RowCapture::shape_of(const Sql& sql) {
  Registry& r = registry();
  const std::lock_guard lock(r.mutex);
  if (auto found = r.by_id.find(sql.id()); found != r.by_id.end()) return found->second;
  return r.by_id.emplace(sql.id(), watched(r, write_shape(sql.text()))).first->second;
}

const WatchedWrite& RowCapture::shape_of(std::string_view text) {
  Registry& r = registry();
  const std::lock_guard lock(r.mutex);
  std::string key(text);
  if (auto found = r.by_text.find(key); found != r.by_text.end()) return found->second;
  return r.by_text.emplace(std::move(key), watched(r, write_shape(text))).first->second;
}

const std::vector<std::string>& RowCapture::columns(const Sql& sql, const Statement& st) {
  auto [at, fresh] = columns_.try_emplace(sql.id());
  if (fresh) at->second = image_columns(st, 1);
  return at->second;
}

void RowCapture::begin_line() {
  discard_line();
  in_line_ = true;
}

void RowCapture::discard_line() {
  in_line_ = false;
  touched_.clear();
  read_.clear();
}

// Only the columns the line changed are written back: writing an indexed
// column, even with the value it holds, makes the store rewrite its index
// entries.
void RowCapture::restore_line() {
  in_line_ = false;  // what is written back is not the line's
  for (auto row = touched_.rbegin(); row != touched_.rend(); ++row) {
    const std::string& table = row->write->shape.table;
    if (!row->before) {
      delete_row(db_, table, row->rowid);
      continue;
    }
    std::optional<RowImage> now;
    {
      Statement st(db_, *row->write->after_read);
      st.bind(1, row->rowid);
      if (st.step()) now = read_image(st, 1, columns(*row->write->after_read, st));
    }
    if (!now) {
      insert_row(db_, table, row->rowid, *row->before);  // the line deleted it
    } else if (const RowImage changed = changed_fields(*now, *row->before); !changed.empty()) {
      write_row(db_, table, row->rowid, changed);
    }
  }
  discard_line();
}

void RowCapture::touch(const WatchedWrite& write, std::int64_t rowid, std::optional<RowImage> before) {
  // The first image seen of a row is its image before the line.
  for (const Touched& row : touched_) {
    if (row.rowid == rowid && row.write->shape.table == write.shape.table) return;
  }
  touched_.push_back(Touched{&write, rowid, std::move(before)});
}

void RowCapture::before_write(const WatchedWrite& write, std::span<const Value> bound) {
  const WriteShape& shape = write.shape;
  if (!in_line_ || shape.kind == WriteKind::none || shape.kind == WriteKind::insert) return;
  std::string key = read_key(shape, bound);
  if (std::find(read_.begin(), read_.end(), key) != read_.end()) return;
  read_.push_back(std::move(key));
  Statement st(db_, *write.before_read);
  for (const int n : shape.condition_parameters) {
    if (static_cast<std::size_t>(n) < bound.size()) {
      st.bind(n, bound[static_cast<std::size_t>(n)]);
    } else {
      st.bind_null(n);
    }
  }
  while (st.step()) touch(write, st.integer(0), read_image(st, 1, columns(*write.before_read, st)));
}

void RowCapture::inserted(const WatchedWrite& write, std::int64_t rowid) {
  if (!in_line_ || write.shape.kind != WriteKind::insert) return;
  touch(write, rowid, std::nullopt);
}

std::vector<RowChange> RowCapture::end_line() {
  std::vector<RowChange> changes;
  for (Touched& row : touched_) {
    std::optional<RowImage> after;
    {
      Statement st(db_, *row.write->after_read);
      st.bind(1, row.rowid);
      if (st.step()) after = read_image(st, 1, columns(*row.write->after_read, st));
    }
    if (!row.before && !after) continue;  // made and deleted again
    if (row.before && after && *row.before == *after) continue;
    RowChange change;
    change.table = row.write->shape.table;
    change.rowid = row.rowid;
    change.op = !row.before ? ChangeOp::insert : !after ? ChangeOp::remove : ChangeOp::update;
    if (row.before) change.before = std::move(*row.before);
    if (after) change.after = std::move(*after);
    changes.push_back(std::move(change));
  }
  discard_line();
  return changes;
}

}  // namespace kiv::store
