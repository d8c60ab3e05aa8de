#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/money.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "writeoff/guard.h"
#include "writeoff/line_day_removal.h"
#include "writeoff/payer_selection.h"
#include "writeoff/write_conditions.h"
#include "writeoff/writeoffs.h"

namespace kiv::writeoff {

namespace {

// Every write-off of a differing amount marks the record as settled through
// the postal channel on the line's date, on the second-date record too.
constexpr std::string_view kPaidHead = "update KIV8_Payment set payway='1',payday=?4,pay_record='1'";
constexpr int kParamRealamt = kParamOwn;
constexpr int kParamUnusual = kParamOwn + 1;

// How one record is settled. A record paid in full is marked paid; any other
// takes what it received as realamt and is flagged unequal, and stays unpaid
// on the line date (as the reset left it) while the second-date record is
// written unpaid explicitly.
struct Settlement {
  bool in_full = false;
  bool drop_fee = false;  // the fee of a combined transfer stays on its first record
  std::variant<std::string, std::int64_t> realamt;
};

std::string settle_text(bool in_full, bool second_date, bool drop_fee) {
  std::string sql(kPaidHead);
  if (in_full) {
    sql += ",paystas=1,failfac=''";
  } else {
    sql += ",realamt=?7,Unequal=1";
    if (second_date) sql += ",FailFac='',paystas=0";
  }
  if (drop_fee) sql += ",fee=0";
  if (!in_full) sql += ",Unusual=?8";
  return sql_of(sql, kStudentCondition);
}

// Every way of settling one record, declared once: bit 0 in full, bit 1 the
// second date, bit 2 the fee dropped.
const store::Sql& settle_sql(const Settlement& how, bool second_date) {
  static const std::vector<std::unique_ptr<store::Sql>> kSql = [] {
    std::vector<std::unique_ptr<store::Sql>> all;
    for (int bits = 0; bits < 8; ++bits) {
      all.push_back(std::make_unique<store::Sql>(settle_text((bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0)));
    }
    return all;
  }();
  return *kSql[(how.in_full ? 1 : 0) | (second_date ? 2 : 0) | (how.drop_fee ? 4 : 0)];
}

void settle_on(store::Connection& db, const LineContext& ctx, const Settlement& how, std::string_view stdid,
               const LineKey& key, const std::string& record_day, bool second_date) {
  store::Statement st(db, settle_sql(how, second_date));
  bind_student(st, stdid, record_day, key.group);
  st.bind(kParamPaidDay, key.day);
  if (!how.in_full) {
    std::visit([&](const auto& amount) { st.bind(kParamRealamt, amount); }, how.realamt);
    st.bind(kParamUnusual, anomaly_code(ctx));
  }
  st.run();
}

// The record of the line date; when the found record names a second date, the
// same result goes onto that date's record and the line-date record goes.
void settle(store::Connection& db, const LineContext& ctx, const Settlement& how, std::string_view stdid,
            const LineKey& key) {
  settle_on(db, ctx, how, stdid, key, key.day, false);
  if (ctx.tran_day2.empty()) return;
  settle_on(db, ctx, how, stdid, key, second_day(ctx), true);
  remove_line_day(db, stdid, key);
}

std::int64_t whole(const std::optional<Cents>& amount, const char* column) {
  if (!amount) store::throw_invalid_null(column);
  return round_half_even(*amount);
}

void settle_single(store::Connection& db, const LineContext& ctx, const std::string& u_day, const std::string& u_amt,
                   const std::string& u_stdid, const std::string& u_grpid) {
  const LineKey key = LineKey::strict(u_day, u_grpid);
  Settlement how;
  how.realamt = plain_decimal(line_amount(u_amt));
  settle(db, ctx, how, u_stdid, key);
}

// The received money is spread over the payer's records, smallest amount due
// first: each is paid in full while the money lasts (the fee counted on the
// first), and the record where it runs short takes what is left, as does the
// last record, so that a surplus lands on a record rather than nowhere.
void settle_combined(store::Connection& db, const LineContext& ctx, const std::string& u_day, const std::string& u_amt,
                     const std::string& u_grpid) {
  const LineKey key = LineKey::strict(u_day, u_grpid);
  const std::vector<PayerRecord> records = read_payer_selection(db, ctx, key, true);
  std::int64_t remaining = round_half_even(line_amount(u_amt));
  const std::size_t count = records.size();
  for (std::size_t n = 1; n <= count; ++n) {
    const PayerRecord& record = records[n - 1];
    const std::int64_t due = whole(record.payamt, "payamt");
    const std::int64_t fee = whole(record.fee, "fee");
    Settlement how;
    if (n == 1) {
      // A lone record keeps any surplus as its received amount.
      how.in_full = count == 1 ? remaining == due + fee : remaining >= due + fee;
      if (how.in_full) remaining -= due + fee;
    } else {
      how.drop_fee = true;
      how.in_full = remaining >= due && n < count;
      if (how.in_full) remaining -= due;
    }
    if (!how.in_full) {
      how.realamt = remaining;
      remaining = 0;
    }
    settle(db, ctx, how, record.stdid, key);
  }
}

}  // namespace

OpResult update_1(Session& session, const LineContext& ctx, const std::string& u_day, const std::string& u_amt,
                  const std::string& u_stdid, const std::string& u_grpid) {
  return guarded(session, [&] {
    if (ctx.combined()) {
      settle_combined(session.db, ctx, u_day, u_amt, u_grpid);
    } else {
      settle_single(session.db, ctx, u_day, u_amt, u_stdid, u_grpid);
    }
  });
}

}  // namespace kiv::writeoff
