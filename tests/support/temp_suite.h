#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/paths.h"
#include "store/connection.h"

namespace kiv::testing {

// Which store a test runs against.
enum class StoreKind { file, server };

// The server for the server half of the tests: KIV_TEST_PG (a connection
// URI), "" when it is not set.
std::string test_server_uri();
// The stores a test that loops over them runs on: the file store, and the
// server when KIV_TEST_PG names one.
std::vector<StoreKind> stores_to_test();

// A suite folder of its own for one test (exe/, mdb/, medi/), removed
// afterwards. With a database: on the file store a fresh mdb/KIV.mdb; on the
// server a fresh schema of KIV_TEST_PG's database, named by the folder's
// mdb/KIV.pgconn and dropped afterwards. Without one: the folder only (on
// the server the empty schema too, for setting a suite up in it).
class TempSuite {
 public:
  TempSuite();
  explicit TempSuite(bool with_database);
  explicit TempSuite(StoreKind store, bool with_database = true);
  ~TempSuite();
  TempSuite(const TempSuite&) = delete;
  TempSuite& operator=(const TempSuite&) = delete;

  StoreKind store() const { return store_; }
  const SuitePaths& paths() const { return paths_; }
  const std::string& root() const { return paths_.root; }
  // The connection URI of this suite's own schema (server only).
  const std::string& server_uri() const { return server_uri_; }
  store::Connection open() const;
  // A connection to the same database without the check that it has the
  // suite's tables: for looking at one that a test has made foreign.
  store::Connection open_unchecked() const;
  // Runs SQL (seed rows) on a fresh connection. It must be SQL both stores
  // take: name the columns of an INSERT, since the server's tables also have
  // their insertion order column.
  void exec(const std::string& sql) const;
  // Every row of a query, as query_rows gives it, on a fresh connection.
  std::string rows(const std::string& sql) const;
  // Writes a file under the root; returns its path.
  std::string write_file(const std::string& relative, const std::string& content) const;

 private:
  StoreKind store_ = StoreKind::file;
  SuitePaths paths_;
  std::string schema_;
  std::string server_uri_;
};

// A scalar query's first column as text ("" for null or no row).
std::string query_text(store::Connection& db, const std::string& sql);
std::int64_t query_int(store::Connection& db, const std::string& sql);

// Every row of a query: its columns as text joined by blanks (a null as NULL,
// an empty text as ''), the rows joined by " | ".
std::string query_rows(store::Connection& db, const std::string& sql);

// A text as an SQL literal, for the tests' own queries: 'it''s'.
inline std::string sql_text(std::string text) {
  for (std::size_t at = 0; (at = text.find('\'', at)) != std::string::npos; at += 2) text.insert(at, "'");
  return "'" + text + "'";
}

}  // namespace kiv::testing
