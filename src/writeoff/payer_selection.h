#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/money.h"
#include "store/connection.h"
#include "writeoff/line_context.h"
#include "writeoff/write_conditions.h"

namespace kiv::writeoff {

// One payment record of a combined transfer as the walk over the payer's
// records sees it. A null amount is kept as such: only a walk that needs the
// number fails on it, when it reaches that record.
struct PayerRecord {
  std::string stdid;  // without surrounding blanks; a null reads as ""
  std::optional<Cents> payamt;
  std::optional<Cents> fee;
};

// The payer's records on the line's date and group, smallest amount due
// first, equal amounts by student number. Read whole before anything is
// written: each record's statements touch that record alone, so the walk
// sees the same rows either way.
// Without `amounts` the amounts are left unread (and empty), for a walk that
// does not weigh them.
std::vector<PayerRecord> read_payer_selection(store::Connection& db, const LineContext& ctx, const LineKey& key,
                                              bool amounts);

}  // namespace kiv::writeoff
