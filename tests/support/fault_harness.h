#pragma once

// The database as it lies on disk, for the checks of fault sweeps and soaks.

#include <cstdint>
#include <limits>
#include <string>

struct sqlite3;

namespace kiv::testing::sweep {

// A database file opened straight through SQLCipher, past the store, so
// that what is checked is what lies on disk (opening it rolls back a journal
// left behind, as the next program would).
class DiskDb {
 public:
  explicit DiskDb(const std::string& path);
  DiskDb(const DiskDb&) = delete;
  DiskDb& operator=(const DiskDb&) = delete;
  ~DiskDb();
  sqlite3* handle() const { return db_; }
  // The first column of the first row as text, "" for none, "error: ..." on failure.
  std::string scalar(const std::string& sql) const;
  void exec(const std::string& sql) const;  // throws when a statement fails

 private:
  sqlite3* db_ = nullptr;
};

enum class Part {
  all,      // every table and the schema; the runs' times left out
  school,   // the school's own tables: what runs did to the school
  journal,  // the journal's line and change rows (they hold no times) up to a line, without rowids
};
// Rows as text, in rowid order (journal rows in line order), with their
// types: two databases hold the same exactly when their dumps are equal.
// Without rowids only the order of rows counts: a compaction may renumber.
std::string dump(sqlite3* db, Part part = Part::all, bool with_rowids = true,
                 std::int64_t up_to_line = std::numeric_limits<std::int64_t>::max());
std::string dump_file(const std::string& path, Part part = Part::all, bool with_rowids = true,
                      std::int64_t up_to_line = std::numeric_limits<std::int64_t>::max());
inline std::string school_dump(const std::string& path) {
  return dump_file(path, Part::school);
}
// "ok", or what PRAGMA integrity_check found.
std::string integrity(const std::string& path);
// The first lines that differ between two dumps, for a failure message.
std::string dump_difference(const std::string& expected, const std::string& actual, int max_lines = 8);

}  // namespace kiv::testing::sweep
