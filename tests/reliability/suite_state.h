#pragma once

#include <string>

#include "store/connection.h"

namespace kiv::testing {

// What a run may change in a suite database, in two resolutions: a cheap
// fingerprint (counts and totals of the columns the write-offs touch) to
// narrow the search, and the full canonical dump to decide it.
struct SuiteState {
  std::string fingerprint;
  std::string dump;  // every row of the payment, fee item and agency tables, ordered by all columns

  bool operator==(const SuiteState&) const = default;
};

std::string state_fingerprint(store::Connection& db);
std::string canonical_dump(store::Connection& db);
SuiteState read_state(store::Connection& db);
// Opens the database with the suite's password and reads its state.
SuiteState read_state(const std::string& db_path);

// "ok" for a sound database, else SQLite's list of problems.
std::string integrity_check(store::Connection& db);

// A copy of a whole suite folder (database, work folder, files).
void copy_suite(const std::string& from_root, const std::string& to_root);

}  // namespace kiv::testing
