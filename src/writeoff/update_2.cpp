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
    "update KIV8_Payment set payway=1,payday=?4,pay_record='1',paystas=1,failfac=''";
constexpr std::string_view kPaidSecondDay =
    "update KIV8_Payment set payway=1,payday=?4,pay_record='1',paystas=1,failfac='',Unequal=0,realamt=null,"
    "unusual=''";

void mark_paid(store::Connection& db, std::string_view head, bool drop_fee, std::string_view stdid, const LineKey& key,
               const std::string& record_day) {
  std::string sql(head);
  if (drop_fee) sql += ",fee=0";
  store::Statement st(db, sql_of(sql, kStudentCondition));
  bind_student(st, stdid, record_day, key.group);
  st.bind(kParamPaidDay, key.day);
  st.run();
}

// `drop_fee` for every record of a combined transfer but the first: the
// transfer's fee is charged once.
void pay_in_full(store::Connection& db, const LineContext& ctx, bool drop_fee, std::string_view stdid,
                 const LineKey& key) {
  mark_paid(db, kPaidLineDay, drop_fee, stdid, key, key.day);
  if (ctx.tran_day2.empty()) return;
  mark_paid(db, kPaidSecondDay, drop_fee, stdid, key, second_day(ctx));
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
