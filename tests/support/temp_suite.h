#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/paths.h"
#include "store/connection.h"

namespace kiv::testing {

enum class StoreKind { file, server };

// A scalar query's first column as text ("" for null or no row).
std::string query_text(store::Connection& db, const std::string& sql);
// Every row of a query: its columns as text joined by blanks (a null as NULL,
// an empty text as ''), the rows joined by " | ".
std::string query_rows(store::Connection& db, const std::string& sql);

// KIV_TEST_PG (a connection URI), "" when it is not set.
std::string test_server_uri();
// The file store, and the server when KIV_TEST_PG names one.
std::vector<StoreKind> stores_to_test();

// A suite folder of its own for one test (exe/, mdb/, medi/), removed
// afterwards. With a database: on the file store a fresh mdb/KIV.mdb; on the
// server a fresh schema of KIV_TEST_PG's database, named by the folder's
// mdb/KIV.pgconn and dropped afterwards. Without one: the folder only (on
// the server the empty schema too, for setting a suite up in it).
class TempSuite {
 public:
  explicit TempSuite(bool with_database = true) : TempSuite(StoreKind::file, with_database) {}
  explicit TempSuite(StoreKind store, bool with_database = true);
  ~TempSuite();
  TempSuite(const TempSuite&) = delete;
  TempSuite& operator=(const TempSuite&) = delete;

  StoreKind store() const { return store_; }
  const SuitePaths& paths() const { return paths_; }
  const std::string& root() const { return paths_.root; }
  // The connection URI of this suite's own schema (server only).
  const std::string& server_uri() const { return server_uri_; }
  store::Connection open() const { return store::Connection::open(paths_); }
  // Without the check for the suite's tables: for a database a test made foreign.
  store::Connection open_unchecked() const;
  // Seeds rows on a fresh connection. INSERTs name their columns, since the
  // server's tables also have their insertion order column.
  void exec(const std::string& sql) const { open().execute(sql); }
  std::string rows(const std::string& sql) const {  // as query_rows gives them
    auto db = open();
    return query_rows(db, sql);
  }
  // The tool's `command` on a suite at `root` in this one's store, then `more`.
  std::vector<std::string> tool_args(const std::string& command, const std::string& root,
                                     std::vector<std::string> more = {}) const;
  // Writes a file under the root; returns its path.
  std::string write_file(const std::string& relative, const std::string& content) const;

 private:
  StoreKind store_ = StoreKind::file;
  SuitePaths paths_;
  std::string schema_;
  std::string server_uri_;
};

// `program` installed as BASE/suite/exe/NAME and reached through the link
// BASE/bin/NAME -> ../suite/exe/NAME, as a package installs it; returns the link.
std::filesystem::path install_behind_link(const std::filesystem::path& base, const std::string& program,
                                          const std::string& name);

// A text as an SQL literal, for the tests' own queries: 'it''s'.
inline std::string sql_text(std::string text) {
  for (std::size_t at = 0; (at = text.find('\'', at)) != std::string::npos; at += 2) text.insert(at, "'");
  return "'" + text + "'";
}

}  // namespace kiv::testing
