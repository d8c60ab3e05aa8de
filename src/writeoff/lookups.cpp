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
constexpr const char* kOrdinarySql =
    "SELECT a.payamt,a.fee,b.delmark,a.tranday2 FROM KIV8_payment AS a, KIV7_student AS b "
    "WHERE a.stdid=?1 and a.tranday=?2 and a.grpid=?3 And a.stdid=b.stdid "
    "ORDER BY a.rowid, b.rowid";

constexpr const char* kPaidSql =
    "SELECT a.payamt,a.fee,b.delmark,a.tranday2 FROM KIV8_payment AS a, KIV7_student AS b "
    "WHERE a.stdid=?1 and a.tranday=?2 and a.grpid=?3 And a.paystas<>0 And a.stdid=b.stdid "
    "ORDER BY a.rowid, b.rowid";

// A combined transfer pays every record of one payer, date and group whose
// account number ends in the line's account digits.
constexpr const char* kCombinedSql =
    "SELECT a.payamt,a.fee,b.delmark,a.tranday2 FROM KIV8_payment AS a, KIV7_student AS b "
    "WHERE a.acctid=?1 and a.tranday=?2 and a.grpid=?3 and substr(a.offno,-7)=?4 COLLATE NOCASE "
    "And a.stdid=b.stdid "
    "ORDER BY a.rowid, b.rowid";

// An amount is needed as a number: a null there is the line's fault.
Cents required_amount(const store::Statement& st, int column, const char* name) {
  const std::optional<Cents> amount = st.cents(column);
  if (!amount) store::throw_invalid_null(name);
  return *amount;
}

Cents checked_sum(Cents a, Cents b) {
  Cents sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    throw store::DbError(Error{kErrOverflow, "溢位: 應繳金額過大", false});
  }
  return sum;
}

void bind_day_and_group(store::Statement& st, const std::string& t_day, const std::string& t_grpid) {
  st.bind(2, store::stored_date(t_day)).bind(3, numeric_value(t_grpid));
}

// First row only. The amount due comes first, so a null amount leaves the
// delete mark and the second date as they were.
void read_first_record(store::Statement& st, LineContext& ctx, std::int16_t& value) {
  if (!st.step()) return;
  value = kTrue;
  const Cents due = checked_sum(required_amount(st, kFee, "fee"), required_amount(st, kPayamt, "payamt"));
  ctx.due_amt = plain_decimal(due);
  ctx.stu_delmark = trim(st.yes_no_text(kDelmark));
  ctx.tran_day2 = st.date_mdy(kTranday2);
}

// The first row gives the delete mark, the second date and the fee (counted
// once); every row adds its payment amount. The running total is kept in
// due_amt as it grows, so a failure part-way leaves what had been reached.
void read_combined_records(store::Statement& st, LineContext& ctx, std::int16_t& value) {
  if (!st.step()) return;
  value = kTrue;
  ctx.stu_delmark = trim(st.yes_no_text(kDelmark));
  ctx.tran_day2 = st.date_mdy(kTranday2);
  Cents due = required_amount(st, kFee, "fee");
  ctx.due_amt = plain_decimal(due);
  do {
    due = checked_sum(due, required_amount(st, kPayamt, "payamt"));
    ctx.due_amt = plain_decimal(due);
  } while (st.step());
}

}  // namespace

LookupResult find_data(Session& session, LineContext& ctx, const std::string& t_day, const std::string& t_stdid,
                       const std::string& t_grpid) {
  ctx.due_amt.clear();
  ctx.stu_delmark.clear();
  return guarded_lookup(session, [&](std::int16_t& value) {
    if (ctx.combined()) {
      store::Statement st(session.db, kCombinedSql);
      st.bind(1, ctx.payer_id).bind(4, ctx.acct7());
      bind_day_and_group(st, t_day, t_grpid);
      read_combined_records(st, ctx, value);
    } else {
      store::Statement st(session.db, kOrdinarySql);
      st.bind(1, t_stdid);
      bind_day_and_group(st, t_day, t_grpid);
      read_first_record(st, ctx, value);
    }
  });
}

LookupResult find_data1(Session& session, LineContext& ctx, const std::string& t_day, const std::string& t_stdid,
                        const std::string& t_grpid) {
  ctx.due_amt.clear();
  ctx.stu_delmark.clear();
  return guarded_lookup(session, [&](std::int16_t& value) {
    store::Statement st(session.db, kPaidSql);
    st.bind(1, t_stdid);
    bind_day_and_group(st, t_day, t_grpid);
    read_first_record(st, ctx, value);
  });
}

}  // namespace kiv::writeoff
