#include <optional>
#include <string>

#include "core/money.h"
#include "core/text.h"
#include "store/statement.h"
#include "store/values.h"
#include "writeoff/guard.h"
#include "writeoff/lookups.h"
#include "writeoff/write_conditions.h"
#include "writeoff/writeoffs.h"

namespace kiv::writeoff {

namespace {

// Back to unpaid, so the write-off that follows starts from a record without
// payment details. What the record is (amounts, fee, key, payer) and whether
// it was handled before (pay_record) stay.
constexpr std::string_view kReset =
    "update KIV8_Payment set payway='',payday=null,FailFac='',Unequal=0,realamt=null,paystas=0,unusual=''";

// A payment that arrived for a record that exists after all goes onto it as a
// payment of channel 2 with an anomaly; no second record is made.
const store::Sql kWriteOntoExisting{sql_of(
    "update KIV8_Payment set payway='2',payday=?4,realamt=?7,Unequal=1,Unusual='d',pay_record='1'", kStudentCondition)};
// A created record carries the postal channel and the received amount.
const store::Sql kCreate{
    "insert into KIV8_Payment(StdID,TranDay,GrpID,PayWay,PayDay,Unequal,Realamt,Unusual) "
    "values(?1,?2,?3,'1',?2,1,?7,?8)"};
const store::Sql kResetStudent{sql_of(kReset, kStudentCondition)};
const store::Sql kResetPayer{sql_of(kReset, kPayerCondition)};
const store::Sql kDeleteMark{"select delmark from KIV7_Student where CI(stdid)=CI(?1) ORDER BY rowid"};
constexpr int kParamRealamt = kParamOwn;
constexpr int kParamUnusual = kParamOwn + 1;

// The student's delete mark; nullopt when there is no such student.
std::optional<std::string> delete_mark(store::Connection& db, const std::string& stdid) {
  store::Statement st(db, kDeleteMark);
  st.bind(1, stdid);
  if (!st.step()) return std::nullopt;
  return trim(st.yes_no_text(0));
}

}  // namespace

// The reset is always followed by the lookup of the amount due, which goes to
// the store with it and reports a failure of it the same way.
OpResult default_kiv8(Session& session, const LineContext& ctx, const std::string& u_day, const std::string& u_stdid,
                      const std::string& u_grpid) {
  return guarded(session, [&] {
    // The group is compared by its numeric value here: "05" and "5" are one group.
    const std::string day = store::stored_date(u_day);
    const std::int64_t group = numeric_value(u_grpid);
    if (ctx.combined()) {
      store::Statement st(session.db, kResetPayer);
      bind_payer(st, ctx, day, group);
      st.run_later();
    } else {
      store::Statement st(session.db, kResetStudent);
      bind_student(st, u_stdid, day, group);
      st.run_later();
    }
  });
}

LookupResult insert_1(Session& session, LineContext& ctx, const std::string& i_day, const std::string& i_amt,
                      const std::string& i_stdid, const std::string& i_grpid) {
  std::optional<std::string> mark;
  OpResult done = guarded(session, [&] { mark = delete_mark(session.db, i_stdid); });
  if (!done.ok() || !mark) return LookupResult{kFalse, done.status, done.error};
  ctx.stu_delmark = *mark;

  // The existence check reports its own failure; it is not reported twice.
  const LookupResult existing = find_data2(session, i_day, i_stdid, i_grpid);
  if (!existing.ok()) return LookupResult{kFalse, existing.status, existing.error};

  done = guarded(session, [&] {
    const LineKey key = LineKey::strict(i_day, i_grpid);
    const std::string realamt = plain_decimal(line_amount(i_amt));
    if (existing.found()) {
      store::Statement st(session.db, kWriteOntoExisting);
      bind_student(st, i_stdid, key.day, key.group);
      st.bind(kParamPaidDay, key.day).bind(kParamRealamt, realamt).run();
    } else {
      store::Statement st(session.db, kCreate);
      bind_student(st, i_stdid, key.day, key.group);
      st.bind(kParamRealamt, realamt).bind(kParamUnusual, *mark == "False" ? "b" : "d").run();
    }
  });
  if (!done.ok()) return LookupResult{kFalse, done.status, done.error};
  return LookupResult{kTrue, OpStatus::ok, {}};
}

}  // namespace kiv::writeoff
