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

void fail_student(store::Connection& db, std::string_view head, const std::string& u_fail, std::string_view stdid,
                  const LineKey& key, const std::string& record_day) {
  store::Statement st(db, sql_of(head, kStudentCondition));
  bind_student(st, stdid, record_day, key.group);
  st.bind(kParamFail, u_fail).run();
}

void fail_payer(store::Connection& db, std::string_view head, const std::string& u_fail, const LineContext& ctx,
                const LineKey& key, const std::string& record_day) {
  store::Statement st(db, sql_of(head, kPayerCondition));
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
      fail_student(db, kFailedLineDay, u_fail, u_stdid, key, key.day);
      if (ctx.tran_day2.empty()) return;
      fail_student(db, kFailedSecondDay, u_fail, u_stdid, key, second_day(ctx));
      remove_line_day(db, u_stdid, key);
      return;
    }
    fail_payer(db, kFailedLineDay, u_fail, ctx, key, key.day);
    if (ctx.tran_day2.empty()) return;
    fail_payer(db, kFailedSecondDay, u_fail, ctx, key, second_day(ctx));
    collect_payer_students(db, ctx, key);
    remove_line_day_of_collected(db, key);
  });
}

}  // namespace kiv::writeoff
