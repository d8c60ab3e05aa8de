#include "import/line_dispatch.h"

#include "core/operator.h"
#include "import/import_run.h"

namespace kiv::import {

namespace {

using writeoff::kTrue;
using writeoff::LookupResult;
using writeoff::OpResult;
using writeoff::OpStatus;

LineVerdict logged(std::string message) {
  return LineVerdict{LineEnd::logged, std::move(message), {}};
}

LineVerdict environment(const Error& error) {
  return LineVerdict{LineEnd::environment, {}, error};
}

// A write that failed: the machine's fault ends the run; the line's own
// values get the line logged (the operation has shown the message).
template <class Result>
LineVerdict write_failure(const Result& result, const char* message = log_text::kWriteFailed) {
  if (result.status == OpStatus::env_failed) return environment(result.error);
  return logged(message);
}

// A lookup's failure that it left for the caller to show.
LineVerdict lookup_failure(writeoff::Session& session, const LookupResult& result) {
  if (result.amount_unknown) report_error(session.op, result.error);
  return write_failure(result);
}

}  // namespace

LineVerdict dispatch_line(writeoff::Session& session, writeoff::LineContext& ctx, const DetailLine& d,
                          LineOperations& ops, AgencyMarks* marks) {
  const LookupResult payment = ops.select_KIV8_Payment(session, ctx, d.stdid, d.grpid, d.tran_day_mdy);
  if (payment.status == OpStatus::env_failed) return environment(payment.error);
  if (payment.value == 0) return logged(log_text::kNoPaymentRecord);

  if (ctx.pay_state == "1") {
    const LookupResult student = ops.select_KIV7_student(session, ctx, d.stdid);
    if (student.status == OpStatus::env_failed) return environment(student.error);
    if (student.value == 0) return logged(log_text::kNoStudent);
    return logged(ctx.stu_label + (ctx.pay_way == "3" ? log_text::kPaidInCash : log_text::kDuplicate));
  }

  if (marks == nullptr || !marks->marked(d.tran_day, d.grpid)) {
    if (const OpResult r = ops.update_kiv10(session, d.tran_day, d.grpid); !r.ok()) return write_failure(r);
    if (marks != nullptr) marks->mark(d.tran_day, d.grpid);
  }
  if (const OpResult r = ops.default_kiv8(session, ctx, d.tran_day, d.stdid, d.grpid); !r.ok()) {
    return write_failure(r);
  }

  const LookupResult found = ops.find_data(session, ctx, d.tran_day, d.stdid, d.grpid);
  // A failed transfer only records its reason: a record found without
  // amounts is no obstacle to that.
  if (found.value == kTrue && d.transfer_failed() && (found.ok() || found.amount_unknown)) {
    const OpResult r = ops.update_3(session, ctx, d.fail_code, d.tran_day, d.stdid, d.grpid);
    return r.ok() ? LineVerdict{LineEnd::failed_transfer, {}, {}} : write_failure(r);
  }
  if (!found.ok()) return lookup_failure(session, found);
  if (found.value == kTrue) {
    // The amount due is compared exactly, in hundredths. One that is not a
    // number fails this line alone: it is logged and the run goes on.
    const auto due = parse_decimal(ctx.due_amt);
    if (!due) {
      report_error(session.op, Error{kErrTypeMismatch, "型態不符合: 應繳金額 '" + ctx.due_amt + "'", false});
      return logged(log_text::kWriteFailed);
    }
    const OpResult r = *due == d.amount_cents ? ops.update_2(session, ctx, d.tran_day, d.stdid, d.grpid)
                                              : ops.update_1(session, ctx, d.tran_day, d.amount, d.stdid, d.grpid);
    return r.ok() ? LineVerdict{LineEnd::posted_with_amount, {}, {}} : write_failure(r);
  }

  if (d.transfer_failed() || ctx.combined()) {
    return logged(ctx.combined() ? log_text::kCombinedNotFound : log_text::kFailedNotFound);
  }

  const LookupResult paid = ops.find_data1(session, ctx, d.tran_day, d.stdid, d.grpid);
  if (!paid.ok()) return lookup_failure(session, paid);
  if (paid.value != 0) {
    const OpResult r = ops.update_4(session, ctx, d.tran_day, d.stdid, d.grpid, d.fail_code);
    return r.ok() ? LineVerdict{LineEnd::posted, {}, {}} : write_failure(r);
  }

  const LookupResult inserted = ops.insert_1(session, ctx, d.tran_day, d.amount, d.stdid, d.grpid);
  if (!inserted.ok()) return write_failure(inserted, log_text::kInsertFailed);
  if (inserted.value != 0) return LineVerdict{LineEnd::posted_with_amount, {}, {}};
  return logged(log_text::kInsertFailed);
}

}  // namespace kiv::import
