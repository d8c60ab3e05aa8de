#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "store/row_image.h"
#include "store/sql.h"
#include "store/statement.h"
#include "store/write_shape.h"

namespace kiv::store {

class Connection;

enum class ChangeOp { insert, update, remove };

// A write the capture watches: its shape and the statements that read the
// rows it selects (before) and a row it touched by rowid (after).
struct WatchedWrite {
  WriteShape shape;
  const Sql* before_read = nullptr;
  const Sql* after_read = nullptr;
};

// One row a line changed: its image before the line (none for a row the
// line created) and after it (none for a row it deleted).
struct RowChange {
  std::string table;
  std::int64_t rowid = 0;
  ChangeOp op = ChangeOp::update;
  RowImage before;
  RowImage after;
};

// Watches the writes made through one connection, a line at a time, and
// tells what they did to each row. It works in the statement layer, so it is
// the same for every store and every write the program makes: before a
// statement that updates or deletes runs, the rows its condition selects are
// read (with the statement's own condition and values); a row an insert makes
// is known by its rowid; at the end of the line every row touched is read
// again by its rowid. Attached to the connection for its lifetime.
class RowCapture {
 public:
  explicit RowCapture(Connection& db);
  RowCapture(const RowCapture&) = delete;
  RowCapture& operator=(const RowCapture&) = delete;
  ~RowCapture();

  // A transaction begins: the database's tables may have changed since the
  // last (another program may have written between transactions).
  void new_transaction() { columns_.clear(); }
  // Starts watching the writes of one line.
  void begin_line();
  // The line's changes, in the order the rows were first touched; an update
  // that left a row as it was is no change. Reads the after-images, so it
  // runs before the line's savepoint is let go, and its failure fails the line.
  std::vector<RowChange> end_line();
  // Forgets the line (rolled back).
  void discard_line();
  // Puts every row the line touched back as it was before the line, the
  // last touched first, and forgets the line: a line taken back without a
  // savepoint. Throws DbError when a row cannot be put back; the line is
  // then partly undone.
  void restore_line();
  bool in_line() const { return in_line_; }

  // For Statement: what `sql` writes (kind none when it writes nothing that
  // is watched), known once per statement the program declares.
  const WatchedWrite& shape_of(const Sql& sql);
  const WatchedWrite& shape_of(std::string_view text);
  // Before the write runs; `bound` holds its values by parameter number.
  void before_write(const WatchedWrite& write, std::span<const Value> bound);
  // After an insert made the row `rowid`.
  void inserted(const WatchedWrite& write, std::int64_t rowid);

 private:
  struct Touched {
    const WatchedWrite* write = nullptr;
    std::int64_t rowid = 0;
    std::optional<RowImage> before;  // none: made by this line
  };
  void touch(const WatchedWrite& write, std::int64_t rowid, std::optional<RowImage> before);
  // The columns of a reading statement's rows, read once per transaction.
  const std::vector<std::string>& columns(const Sql& sql, const Statement& st);

  Connection& db_;
  bool in_line_ = false;
  // A line touches a few rows and reads a few conditions: looked through in
  // order, they cost less than a tree's nodes made and freed for every line.
  std::vector<Touched> touched_;
  // Conditions with their values already read in this line. Reading one again
  // would add nothing: a row that has come to match it since was changed by a
  // write of this line, which has already read it.
  std::vector<std::string> read_;
  std::unordered_map<std::uint32_t, std::vector<std::string>> columns_;
};

}  // namespace kiv::store
