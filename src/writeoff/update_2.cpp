#include <string>

#include "store/statement.h"
#include "writeoff/guard.h"
#include "writeoff/line_day_removal.h"
#include "writeoff/payer_selection.h"
#include "writeoff/write_conditions.h"
#include "writeoff/writeoffs.h"

namespace kiv::writeoff {

namespace {

// Paid in full through the postal channel on the line's date. On the second
// date the record also drops whatever an earlier differing amount left.
constexpr std::string_view kPaidLineDay =
    "update KIV8_Payment set payway='1',payday=?4,pay_record='1',paystas=1,failfac=''";
constexpr std::string_view kPaidSecondDay =
    "update KIV8_Payment set payway='1',payday=?4,pay_record='1',paystas=1,failfac='',Unequal=0,realamt=null,"
    "unusual=''";

// The four ways of marking a record paid: line date or second date, with
// the fee kept or dropped.
const store::Sql& paid_sql(bool second_date, bool drop_fee) {
  static const store::Sql kSql[2][2] = {
      {store::Sql{sql_of(kPaidLineDay, kStudentCondition)},
       store::Sql{sql_of(std::string(kPaidLineDay) + ",fee=0", kStudentCondition)}},
      {store::Sql{sql_of(kPaidSecondDay, kStudentCondition)},
       store::Sql{sql_of(std::string(kPaidSecondDay) + ",fee=0", kStudentCondition)}},
  };
  return kSql[second_date ? 1 : 0][drop_fee ? 1 : 0];
}

void mark_paid(store::Connection& db, bool second_date, bool drop_fee, std::string_view stdid, const LineKey& key,
               const std::string& record_day) {
  store::Statement st(db, paid_sql(second_date, drop_fee));
  bind_student(st, stdid, record_day, key.group);
  st.bind(kParamPaidDay, key.day);
  st.run();
}

// `drop_fee` for every record of a combined transfer but the first: the
// transfer's fee is charged once.
void pay_in_full(store::Connection& db, const LineContext& ctx, bool drop_fee, std::string_view stdid,
                 const LineKey& key) {
  mark_paid(db, false, drop_fee, stdid, key, key.day);
  if (ctx.tran_day2.empty()) return;
  mark_paid(db, true, drop_fee, stdid, key, second_day(ctx));
  remove_line_day(db, stdid, key);
}

}  // namespace

OpResult update_2(Session& session, const LineContext& ctx, const std::string& u_day, const std::string& u_stdid,
                  const std::string& u_grpid) {
  return guarded(session, [&] {
    const LineKey key = LineKey::strict(u_day, u_grpid);
    if (!ctx.combined()) {
      pay_in_full(session.db, ctx, false, u_stdid, key);
      return;
    }
    const std::vector<PayerRecord> records = read_payer_selection(session.db, ctx, key, false);
    for (std::size_t n = 0; n < records.size(); ++n) pay_in_full(session.db, ctx, n > 0, records[n].stdid, key);
  });
}

}  // namespace kiv::writeoff
