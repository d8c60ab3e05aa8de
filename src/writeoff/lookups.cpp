#include "writeoff/lookups.h"

#include <optional>

#include "core/money.h"
#include "core/text.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "store/values.h"
#include "writeoff/guard.h"

namespace kiv::writeoff {

namespace {

// Columns of every amount-due statement below, in this order.
constexpr int kPayamt = 0;
constexpr int kFee = 1;
constexpr int kDelmark = 2;
constexpr int kTranday2 = 3;

// Only records whose student exists are found: the join on stdid is part of
// the question. The payment record's rowid fixes which row is "first".
const store::Sql kOrdinarySql{
    "SELECT a.payamt,a.fee,b.delmark,a.tranday2 FROM KIV8_payment AS a, KIV7_student AS b "
    "WHERE CI(a.stdid)=CI(?1) and a.tranday=?2 and a.grpid=?3 And CI(a.stdid)=CI(b.stdid) "
    "ORDER BY a.rowid, b.rowid"};

const store::Sql kPaidSql{
    "SELECT a.payamt,a.fee,b.delmark,a.tranday2 FROM KIV8_payment AS a, KIV7_student AS b "
    "WHERE CI(a.stdid)=CI(?1) and a.tranday=?2 and a.grpid=?3 And a.paystas<>0 And CI(a.stdid)=CI(b.stdid) "
    "ORDER BY a.rowid, b.rowid"};

// A combined transfer pays every record of one payer, date and group whose
// account number ends in the line's account digits.
const store::Sql kCombinedSql{
    "SELECT a.payamt,a.fee,b.delmark,a.tranday2 FROM KIV8_payment AS a, KIV7_student AS b "
    "WHERE CI(a.acctid)=CI(?1) and a.tranday=?2 and a.grpid=?3 and CI(RIGHT(a.offno,7))=CI(?4) "
    "And CI(a.stdid)=CI(b.stdid) "
    "ORDER BY a.rowid, b.rowid"};

// Why the amount due of a found record cannot be made, if it cannot.
using AmountProblem = std::optional<Error>;

// An amount is needed as a number: a null there is the line's fault, but only
// for a line that needs the amount.
std::optional<Cents> amount_or_problem(const store::Statement& st, int column, const char* name,
                                       AmountProblem& problem) {
  const std::optional<Cents> amount = st.cents(column);
  if (!amount) problem = store::invalid_null_error(name);
  return amount;
}

std::optional<Cents> checked_sum(Cents a, Cents b, AmountProblem& problem) {
  Cents sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    problem = Error{kErrOverflow, "溢位: 應繳金額過大", false};
    return std::nullopt;
  }
  return sum;
}

void bind_day_and_group(store::Statement& st, const std::string& t_day, const std::string& t_grpid) {
  st.bind(2, store::stored_date(t_day)).bind(3, numeric_value(t_grpid));
}

// First row only. The delete mark and the second date are read before the
// amount, which a failed transfer does not need.
void read_first_record(store::Statement& st, LineContext& ctx, std::int16_t& value, AmountProblem& problem) {
  if (!st.step()) return;
  value = kTrue;
  ctx.stu_delmark = trim(st.yes_no_text(kDelmark));
  ctx.tran_day2 = st.date_mdy(kTranday2);
  const std::optional<Cents> fee = amount_or_problem(st, kFee, "fee", problem);
  if (!fee) return;
  const std::optional<Cents> payamt = amount_or_problem(st, kPayamt, "payamt", problem);
  if (!payamt) return;
  if (const auto due = checked_sum(*fee, *payamt, problem)) ctx.due_amt = plain_decimal(*due);
}

// The first row gives the delete mark, the second date and the fee (counted
// once); every row adds its payment amount. The running total is kept in
// due_amt as it grows, so a failure part-way leaves what had been reached.
void read_combined_records(store::Statement& st, LineContext& ctx, std::int16_t& value, AmountProblem& problem) {
  if (!st.step()) return;
  value = kTrue;
  ctx.stu_delmark = trim(st.yes_no_text(kDelmark));
  ctx.tran_day2 = st.date_mdy(kTranday2);
  std::optional<Cents> due = amount_or_problem(st, kFee, "fee", problem);
  if (!due) return;
  ctx.due_amt = plain_decimal(*due);
  do {
    const std::optional<Cents> payamt = amount_or_problem(st, kPayamt, "payamt", problem);
    if (!payamt) return;
    due = checked_sum(*due, *payamt, problem);
    if (!due) return;
    ctx.due_amt = plain_decimal(*due);
  } while (st.step());
}

// A found record whose amount due could not be made fails the line only for
// a caller that needs the amount; the message is left to that caller.
LookupResult with_amount_problem(LookupResult result, const AmountProblem& problem) {
  if (result.ok() && problem) {
    result.status = OpStatus::line_failed;
    result.error = *problem;
    result.amount_unknown = true;
  }
  return result;
}

}  // namespace

LookupResult find_data(Session& session, LineContext& ctx, const std::string& t_day, const std::string& t_stdid,
                       const std::string& t_grpid) {
  ctx.due_amt.clear();
  ctx.stu_delmark.clear();
  AmountProblem problem;
  LookupResult result = guarded_lookup(session, [&](std::int16_t& value) {
    if (ctx.combined()) {
      store::Statement st(session.db, kCombinedSql);
      st.bind(1, ctx.payer_id).bind(4, ctx.acct7());
      bind_day_and_group(st, t_day, t_grpid);
      read_combined_records(st, ctx, value, problem);
    } else {
      store::Statement st(session.db, kOrdinarySql);
      st.bind(1, t_stdid);
      bind_day_and_group(st, t_day, t_grpid);
      read_first_record(st, ctx, value, problem);
    }
  });
  return with_amount_problem(std::move(result), problem);
}

LookupResult find_data1(Session& session, LineContext& ctx, const std::string& t_day, const std::string& t_stdid,
                        const std::string& t_grpid) {
  ctx.due_amt.clear();
  ctx.stu_delmark.clear();
  AmountProblem problem;
  LookupResult result = guarded_lookup(session, [&](std::int16_t& value) {
    store::Statement st(session.db, kPaidSql);
    st.bind(1, t_stdid);
    bind_day_and_group(st, t_day, t_grpid);
    read_first_record(st, ctx, value, problem);
  });
  return with_amount_problem(std::move(result), problem);
}

}  // namespace kiv::writeoff
