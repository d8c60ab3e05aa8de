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
  TempSuite();
  explicit TempSuite(bool with_database);
  ~TempSuite();
  TempSuite(const TempSuite&) = delete;
  TempSuite& operator=(const TempSuite&) = delete;

  const SuitePaths& paths() const { return paths_; }
  const std::string& root() const { return paths_.root; }
  store::Connection open() const;
  // Runs SQL (seed rows) on a fresh connection.
  void exec(const std::string& sql) const;
  // Writes a file under the root; returns its path.
  std::string write_file(const std::string& relative, const std::string& content) const;

 private:
  SuitePaths paths_;
};

// A scalar query's first column as text ("" for null or no row).
std::string query_text(store::Connection& db, const std::string& sql);
std::int64_t query_int(store::Connection& db, const std::string& sql);

}  // namespace kiv::testing
