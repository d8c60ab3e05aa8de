#pragma once

#include <string>

#include "writeoff/line_context.h"
#include "writeoff/session.h"

namespace kiv::writeoff {

// The operations that change payment records for one detail line. They write
// through the run's connection inside the line's transaction and report a
// failure to their caller (OpResult) instead of returning as if done.
// u_day is the line's tran_day "yyyy/MM/dd"; u_grpid the line's group text.

// Write-off of a line whose amount differs from the amount due.
OpResult update_1(Session& session, const LineContext& ctx, const std::string& u_day, const std::string& u_amt,
                  const std::string& u_stdid, const std::string& u_grpid);

// Write-off of a line paid in full.
OpResult update_2(Session& session, const LineContext& ctx, const std::string& u_day, const std::string& u_stdid,
                  const std::string& u_grpid);

// Write-off of a failed transfer.
OpResult update_3(Session& session, const LineContext& ctx, const std::string& u_fail, const std::string& u_day,
                  const std::string& u_stdid, const std::string& u_grpid);

// Write-off onto a record already marked paid.
OpResult update_4(Session& session, const LineContext& ctx, const std::string& u_day, const std::string& u_stdid,
                  const std::string& u_grpid, const std::string& u_lastcol);

// Resets the line's record (or all of the payer's records) to unpaid.
OpResult default_kiv8(Session& session, const LineContext& ctx, const std::string& u_day, const std::string& u_stdid,
                      const std::string& u_grpid);

// Creates a payment record for a known student, or writes the payment onto an
// existing one. -1 when written, 0 otherwise (unknown student, or a failure).
LookupResult insert_1(Session& session, LineContext& ctx, const std::string& i_day, const std::string& i_amt,
                      const std::string& i_stdid, const std::string& i_grpid);

// Marks the agency record of the date and group paid.
OpResult update_kiv10(Session& session, const std::string& u_day, const std::string& u_grpid);

}  // namespace kiv::writeoff
