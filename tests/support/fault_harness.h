#pragma once

// The parts of a fault sweep that do not depend on the work swept: reading a
// database file as it lies on disk, the clean states a run may leave, the
// plan of which call to fail, and the tally. A sweep is: count the calls of
// one clean run of the work, then run the work once per planned fault, each
// time on a fresh copy of its starting folder, and check what each run left.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fault_vfs.h"

struct sqlite3;

namespace kiv::testing::sweep {

// A database file read straight through SQLCipher with the suite's password,
// past the store, so that what is checked is what lies on disk (opening it
// rolls back a journal left behind, as the next program to open it would).
class DiskDb {
 public:
  explicit DiskDb(const std::string& path);
  DiskDb(const DiskDb&) = delete;
  DiskDb& operator=(const DiskDb&) = delete;
  ~DiskDb();
  sqlite3* handle() const { return db_; }
  // The first column of the first row as text; "" for none. Failures come
  // back as "error: ...".
  std::string scalar(const std::string& sql) const;
  // Runs statements; throws when one fails.
  void exec(const std::string& sql) const;

 private:
  sqlite3* db_ = nullptr;
};

// Every table of the database, the schema included, each row in rowid order
// with its rowid and typed values, as text: two databases hold the same
// data exactly when their dumps are equal.
// Without rowids, the order of the rows still counts but not their numbers
// (a compaction may renumber rows of tables without an INTEGER PRIMARY KEY).
// Without the journal, only the school's own tables: what a run did to the
// school, whatever the runs recorded about themselves.
std::string dump(sqlite3* db, bool with_rowids = true, bool with_journal = true);
std::string dump_file(const std::string& path, bool with_rowids = true, bool with_journal = true);
// The school's tables alone, rows with their rowids.
inline std::string school_dump(const std::string& path) {
  return dump_file(path, true, false);
}
// The detail lines the journal holds, 0 before the journal's tables exist.
std::int64_t journal_lines(const std::string& path);
// "ok", or what PRAGMA integrity_check found.
std::string integrity(const std::string& path);
// The first lines that differ between two dumps, for a failure message.
std::string dump_difference(const std::string& expected, const std::string& actual, int max_lines = 8);

// The states a clean run passes through: the state after each whole line,
// recorded in line order.
class PrefixStates {
 public:
  void record(std::int64_t lines_done, const std::string& state);
  // The counts of whole lines after which a clean run leaves this state
  // (several when lines in between change nothing), or nullopt.
  std::optional<std::pair<std::int64_t, std::int64_t>> find(const std::string& state) const;
  const std::string& last() const { return last_; }
  std::size_t size() const { return recorded_; }

 private:
  std::unordered_map<std::string, std::pair<std::int64_t, std::int64_t>> by_state_;
  std::string last_;
  std::size_t recorded_ = 0;
};

// Faults for a sweep: every call of every kind when the budget allows,
// otherwise `budget` calls spread evenly over the kinds (each kind at least
// a few, the rest in proportion to its calls) and over each kind's calls.
// Variants alternate: once / from then on, and for reads and writes the
// short read and the full disk besides the I/O error.
std::vector<fault::Fault> plan(const fault::Counts& counts, std::size_t budget);

// Budget of a sweep: the environment variable's value when set, else the
// default (a smaller one under the sanitizers, which run ten times slower).
std::size_t budget_from_environment(const char* variable, std::size_t normal, std::size_t sanitized);

std::string describe(const fault::Counts& counts);

// What a sweep did, for its closing lines.
struct Tally {
  std::int64_t runs = 0, injected = 0, ended_cleanly = 0, ended_in_error = 0, problems = 0;
  std::map<std::string, std::int64_t> notes;  // named counts: error codes, checks skipped...
  std::vector<std::string> first_problems;

  void problem(const fault::Fault& f, const std::string& what);
  std::string report(const std::string& title, double seconds) const;
};

// The JSON string array the tool prints as "messages", decoded.
std::vector<std::string> json_strings(const std::string& array);

}  // namespace kiv::testing::sweep
