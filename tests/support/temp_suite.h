#pragma once

#include <filesystem>
#include <string>

#include "core/paths.h"
#include "store/connection.h"

namespace kiv::testing {

// A suite folder of its own for one test (exe/, mdb/ with a fresh database,
// medi/), removed afterwards.
class TempSuite {
 public:
  explicit TempSuite(bool with_database = true);
  ~TempSuite();
  TempSuite(const TempSuite&) = delete;
  TempSuite& operator=(const TempSuite&) = delete;

  const SuitePaths& paths() const { return paths_; }
  const std::string& root() const { return paths_.root; }
  store::Connection open() const;
  // Runs SQL (seed rows) on a fresh connection.
  void exec(const std::string& sql) const;
  // Every row of a query, as query_rows gives it, on a fresh connection.
  std::string rows(const std::string& sql) const;
  // Writes a file under the root; returns its path.
  std::string write_file(const std::string& relative, const std::string& content) const;

 private:
  SuitePaths paths_;
};

// Every row of a query: its columns as text joined by blanks (a null as NULL,
// an empty text as ''), the rows joined by " | ".
std::string query_rows(store::Connection& db, const std::string& sql);

// A text as an SQL literal, for the tests' own queries: 'it''s'.
inline std::string sql_text(std::string text) {
  for (std::size_t at = 0; (at = text.find('\'', at)) != std::string::npos; at += 2) text.insert(at, "'");
  return "'" + text + "'";
}

}  // namespace kiv::testing
