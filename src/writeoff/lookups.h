#pragma once

#include <string>

#include "writeoff/line_context.h"
#include "writeoff/session.h"

namespace kiv::writeoff {

// Read-only questions the import run asks for a detail line. Each answers -1
// (found) or 0 and leaves what it read in the line context. Dates are the
// program's date texts: t_day "yyyy/MM/dd", S_trantay "MM/dd/yyyy".

// The record the line pays and its amount due (ordinary, or for a combined
// transfer over all records of the payer). Sets due_amt, stu_delmark and
// tran_day2. A record whose amount due cannot be made (a null fee or payamt)
// gives value -1, status line_failed and amount_unknown: its message is left
// to the caller, since a failed transfer needs no amount.
LookupResult find_data(Session& session, LineContext& ctx, const std::string& t_day, const std::string& t_stdid,
                       const std::string& t_grpid);

// As the ordinary find_data, for a record already marked paid.
LookupResult find_data1(Session& session, LineContext& ctx, const std::string& t_day, const std::string& t_stdid,
                        const std::string& t_grpid);

// Whether a payment record of that student, date and group exists.
LookupResult find_data2(Session& session, const std::string& t_day, const std::string& t_stdid,
                        const std::string& t_grpid);

// Whether a payment record exists, whether it is written off (pay_state) and
// its channel (pay_way). Failures show a plain box with the error text alone.
LookupResult select_KIV8_Payment(Session& session, LineContext& ctx, const std::string& S_STDID,
                                 const std::string& S_GrpID, const std::string& S_trantay);

// The student's class label (stu_label). -1 whenever the statement ran.
LookupResult select_KIV7_student(Session& session, LineContext& ctx, const std::string& S_STDID);

}  // namespace kiv::writeoff
