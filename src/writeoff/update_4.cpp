#include <string>

#include "store/statement.h"
#include "writeoff/guard.h"
#include "writeoff/line_day_removal.h"
#include "writeoff/write_conditions.h"
#include "writeoff/writeoffs.h"

namespace kiv::writeoff {

namespace {

// A payment for a record already marked paid is recorded on it again, on the
// line's date; the second-date record also drops an earlier differing amount.
const store::Sql kRepaidLineDay{
    sql_of("update KIV8_Payment set payway='1',payday=?4,pay_record='1',paystas=1,failfac=?7", kStudentCondition)};
const store::Sql kRepaidSecondDay{
    sql_of("update KIV8_Payment set payway='1',payday=?4,paystas=1,failfac=?7,Unequal=0,realamt=null,unusual='',"
           "pay_record='1'",
           kStudentCondition)};
constexpr int kParamLastcol = kParamOwn;

void repay(store::Connection& db, const store::Sql& sql, const std::string& u_lastcol, const std::string& stdid,
           const LineKey& key, const std::string& record_day) {
  store::Statement st(db, sql);
  bind_student(st, stdid, record_day, key.group);
  st.bind(kParamPaidDay, key.day).bind(kParamLastcol, u_lastcol).run();
}

}  // namespace

// Only ever a single record: a combined transfer never reaches here.
OpResult update_4(Session& session, const LineContext& ctx, const std::string& u_day, const std::string& u_stdid,
                  const std::string& u_grpid, const std::string& u_lastcol) {
  return guarded(session, [&] {
    const LineKey key = LineKey::strict(u_day, u_grpid);
    repay(session.db, kRepaidLineDay, u_lastcol, u_stdid, key, key.day);
    if (ctx.tran_day2.empty()) return;
    repay(session.db, kRepaidSecondDay, u_lastcol, u_stdid, key, second_day(ctx));
    remove_line_day(session.db, u_stdid, key);
  });
}

}  // namespace kiv::writeoff
