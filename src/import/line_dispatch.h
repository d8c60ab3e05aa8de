#pragma once

#include <set>
#include <string>
#include <utility>

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

// The agency records of the dates and groups that lines kept in the open
// transaction have marked paid. Marking them again would change nothing: no
// statement of a run sets the flag back or makes an agency record, and no
// other program writes while the transaction is open. A line rolled back
// takes its marks with it; a commit forgets them all, since another program
// may write between transactions.
class AgencyMarks {
 public:
  bool marked(const std::string& day, const std::string& group) const { return kept_.contains({day, group}); }
  void mark(const std::string& day, const std::string& group) { line_.emplace(day, group); }
  void keep_line() {
    kept_.merge(line_);
    line_.clear();
  }
  void drop_line() { line_.clear(); }
  void forget() {
    kept_.clear();
    line_.clear();
  }

 private:
  std::set<std::pair<std::string, std::string>> kept_, line_;
};

// Sends one detail line down its road: payment lookup, duplicate checks,
// agency flag and reset, then the write-off, the write onto a paid record or
// the insert. Runs inside the line's savepoint; the caller rolls it back for
// `logged` and `environment`.
// With `marks`, an agency record already marked in the transaction is not
// marked again.
LineVerdict dispatch_line(writeoff::Session& session, writeoff::LineContext& ctx, const DetailLine& line,
                          LineOperations& ops, AgencyMarks* marks = nullptr);

}  // namespace kiv::import
