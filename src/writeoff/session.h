#pragma once

#include <cstdint>

#include "core/error.h"
#include "core/operator.h"
#include "store/connection.h"

namespace kiv::writeoff {

// What an operation works with: the import run's connection (inside the
// run's transaction) and the operator to report to.
struct Session {
  store::Connection& db;
  Operator& op;
};

// How an operation ended.
//  - ok: done.
//  - line_failed: the line's own values made it fail; the standard message
//    (or the lookup's own message) has been shown; the caller rolls the line
//    back and logs it.
//  - env_failed: the machine failed (busy, disk full, I/O...). Nothing has
//    been shown: the import run shows `error` once and ends.
enum class OpStatus { ok, line_failed, env_failed };

struct OpResult {
  OpStatus status = OpStatus::ok;
  Error error;

  bool ok() const { return status == OpStatus::ok; }
};

// Lookups and insert_1 also answer -1 (true, found/written) or 0 (false).
struct LookupResult {
  std::int16_t value = 0;
  OpStatus status = OpStatus::ok;
  Error error;
  // A line_failed whose message is still to be shown: the record was found
  // but its amount due could not be made (a null amount, an overflow), which
  // only matters to a caller that needs the amount.
  bool amount_unknown = false;

  bool ok() const { return status == OpStatus::ok; }
  bool found() const { return value != 0; }
};

inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

}  // namespace kiv::writeoff
