#pragma once

#include <string>

#include "core/error.h"
#include "import/collection_file.h"
#include "import/line_operations.h"

namespace kiv::import {

// How one detail line ended.
enum class LineEnd {
  posted_with_amount,  // written off by amount or inserted: counts, adds its amount
  posted,              // written onto a record already paid: counts, adds nothing
  failed_transfer,     // failed transfer recorded on its record
  logged,              // not posted: rolled back and written to the error log
  environment,         // the machine failed: the run ends
};

struct LineVerdict {
  LineEnd end = LineEnd::logged;
  std::string log_message;  // for `logged`
  Error error;              // for `environment`
};

// Sends one detail line down its road: payment lookup, duplicate checks,
// agency flag and reset, then the write-off, the write onto a paid record or
// the insert. Runs inside the line's savepoint; the caller rolls it back for
// `logged` and `environment`.
LineVerdict dispatch_line(writeoff::Session& session, writeoff::LineContext& ctx, const DetailLine& line,
                          LineOperations& ops);

}  // namespace kiv::import
