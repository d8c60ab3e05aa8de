#include "store/row_capture.h"

#include <memory>
#include <mutex>
#include <unordered_map>

#include "store/connection.h"
#include "store/journal_schema.h"
#include "store/statement.h"

namespace kiv::store {

namespace {

// Shapes and the statements that read rows are the same for every
// connection: kept for the life of the process, one per statement.
struct Registry {
  std::mutex mutex;
  std::unordered_map<std::uint32_t, WriteShape> by_id;
  std::unordered_map<std::string, WriteShape> by_text;
  std::unordered_map<std::string, std::unique_ptr<Sql>> reads;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

const WriteShape& watched(WriteShape&& shape, std::unordered_map<std::string, WriteShape>& map,
                          const std::string& key) {
  if (is_journal_table(shape.table)) shape = WriteShape{};
  return map.emplace(key, std::move(shape)).first->second;
}

const Sql& read_sql(const std::string& text) {
  Registry& r = registry();
  const std::lock_guard lock(r.mutex);
  auto& kept = r.reads[text];
  if (!kept) kept = std::make_unique<Sql>(text);
  return *kept;
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

const WriteShape& RowCapture::shape_of(const Sql& sql) {
  Registry& r = registry();
  const std::lock_guard lock(r.mutex);
  if (auto found = r.by_id.find(sql.id()); found != r.by_id.end()) return found->second;
  WriteShape shape = write_shape(sql.text());
  if (is_journal_table(shape.table)) shape = WriteShape{};
  return r.by_id.emplace(sql.id(), std::move(shape)).first->second;
}

const WriteShape& RowCapture::shape_of(std::string_view text) {
  Registry& r = registry();
  const std::lock_guard lock(r.mutex);
  const std::string key(text);
  if (auto found = r.by_text.find(key); found != r.by_text.end()) return found->second;
  return watched(write_shape(text), r.by_text, key);
}

void RowCapture::begin_line() {
  discard_line();
  in_line_ = true;
}

void RowCapture::discard_line() {
  in_line_ = false;
  touched_.clear();
  index_.clear();
  read_.clear();
}

void RowCapture::touch(const std::string& table, std::int64_t rowid, std::optional<RowImage> before) {
  // The first image seen of a row is its image before the line.
  if (index_.emplace(std::pair{table, rowid}, touched_.size()).second) {
    touched_.push_back(Touched{table, rowid, std::move(before)});
  }
}

void RowCapture::before_write(const WriteShape& shape, std::span<const Value> bound) {
  if (!in_line_ || shape.kind == WriteKind::none || shape.kind == WriteKind::insert) return;
  if (!read_.insert(read_key(shape, bound)).second) return;
  Statement st(db_, read_sql("select rowid,* from " + shape.table + shape.condition));
  for (const int n : shape.condition_parameters) {
    if (static_cast<std::size_t>(n) < bound.size()) {
      st.bind(n, bound[static_cast<std::size_t>(n)]);
    } else {
      st.bind_null(n);
    }
  }
  while (st.step()) touch(shape.table, st.integer(0), read_image(st, 1));
}

void RowCapture::inserted(const WriteShape& shape, std::int64_t rowid) {
  if (!in_line_ || shape.kind != WriteKind::insert) return;
  touch(shape.table, rowid, std::nullopt);
}

std::vector<RowChange> RowCapture::end_line() {
  std::vector<RowChange> changes;
  for (Touched& row : touched_) {
    std::optional<RowImage> after;
    {
      Statement st(db_, read_sql("select rowid,* from " + row.table + " where rowid=?1"));
      st.bind(1, row.rowid);
      if (st.step()) after = read_image(st, 1);
    }
    if (!row.before && !after) continue;  // made and deleted again
    if (row.before && after && *row.before == *after) continue;
    RowChange change;
    change.table = row.table;
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
