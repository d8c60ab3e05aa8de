#include <string>

#include "store/statement.h"
#include "writeoff/guard.h"
#include "writeoff/line_day_removal.h"
#include "writeoff/write_conditions.h"
#include "writeoff/writeoffs.h"

namespace kiv::writeoff {

namespace {

// A failed transfer records its reason on the line-date record and leaves the
// payment columns alone; the second-date record is reset to unpaid with it.
constexpr std::string_view kFailedLineDay = "update KIV8_Payment set failfac=?7,pay_record='1',payway='1'";
constexpr std::string_view kFailedSecondDay =
    "update KIV8_Payment set failfac=?7,payway='1',payday=null,Unequal=0,realamt=null,paystas=0,unusual='',"
    "pay_record='1'";
constexpr int kParamFail = kParamOwn;

const store::Sql kStudentLineDay{sql_of(kFailedLineDay, kStudentCondition)};
const store::Sql kStudentSecondDay{sql_of(kFailedSecondDay, kStudentCondition)};
const store::Sql kPayerLineDay{sql_of(kFailedLineDay, kPayerCondition)};
const store::Sql kPayerSecondDay{sql_of(kFailedSecondDay, kPayerCondition)};

void fail_student(store::Connection& db, const store::Sql& sql, const std::string& u_fail, std::string_view stdid,
                  const LineKey& key, const std::string& record_day) {
  store::Statement st(db, sql);
  bind_student(st, stdid, record_day, key.group);
  st.bind(kParamFail, u_fail).run();
}

void fail_payer(store::Connection& db, const store::Sql& sql, const std::string& u_fail, const LineContext& ctx,
                const LineKey& key, const std::string& record_day) {
  store::Statement st(db, sql);
  bind_payer(st, ctx, record_day, key.group);
  st.bind(kParamFail, u_fail).run();
}

}  // namespace

OpResult update_3(Session& session, const LineContext& ctx, const std::string& u_fail, const std::string& u_day,
                  const std::string& u_stdid, const std::string& u_grpid) {
  return guarded(session, [&] {
    store::Connection& db = session.db;
    const LineKey key = LineKey::strict(u_day, u_grpid);
    if (!ctx.combined()) {
      fail_student(db, kStudentLineDay, u_fail, u_stdid, key, key.day);
      if (ctx.tran_day2.empty()) return;
      fail_student(db, kStudentSecondDay, u_fail, u_stdid, key, second_day(ctx));
      remove_line_day(db, u_stdid, key);
      return;
    }
    fail_payer(db, kPayerLineDay, u_fail, ctx, key, key.day);
    if (ctx.tran_day2.empty()) return;
    fail_payer(db, kPayerSecondDay, u_fail, ctx, key, second_day(ctx));
    remove_line_day_of_payer(db, ctx, key);
  });
}

}  // namespace kiv::writeoff
