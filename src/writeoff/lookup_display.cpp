// The two lookups that decide how a line is logged: whether its payment
// record exists and was already written off, and the student's class label.

#include "core/text.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "store/values.h"
#include "writeoff/guard.h"
#include "writeoff/lookups.h"

namespace kiv::writeoff {

namespace {

// The outer join keeps records whose group is not (or no longer) listed.
const store::Sql kPaymentByStudentSql{
    "select payway,pay_record from KIV8_Payment A left outer join KIV6_Group B on A.GrpID = B.GrpID "
    "WHERE CI(A.STDID)=CI(?1) and A.GrpID=?2 and A.tranday=?3 "
    "ORDER BY A.rowid, B.rowid"};

const store::Sql kPaymentByPayerSql{
    "select payway,pay_record from KIV8_Payment A left outer join KIV6_Group B on A.GrpID = B.GrpID "
    "WHERE CI(A.acctid)=CI(?1) and CI(RIGHT(A.offno,7))=CI(?4) and A.GrpID=?2 and A.tranday=?3 "
    "ORDER BY A.rowid, B.rowid"};

constexpr int kPayway = 0;
constexpr int kPayRecord = 1;

const store::Sql kStudentSql{"select grade,clsid,seatno from KIV7_student WHERE CI(STDID)=CI(?1) ORDER BY rowid"};

}  // namespace

LookupResult select_KIV8_Payment(Session& session, LineContext& ctx, const std::string& S_STDID,
                                 const std::string& S_GrpID, const std::string& S_trantay) {
  ctx.pay_state.clear();
  return guarded_lookup(
      session,
      [&](std::int16_t& value) {
        const bool combined = ctx.combined();
        store::Statement st(session.db, combined ? kPaymentByPayerSql : kPaymentByStudentSql);
        if (combined) {
          st.bind(1, ctx.payer_id).bind(4, ctx.acct7());
        } else {
          st.bind(1, S_STDID);
        }
        st.bind(2, numeric_value(S_GrpID)).bind(3, store::stored_date(S_trantay));
        const bool has_row = st.step();
        ctx.pay_way.clear();
        if (!has_row) return;

        if (!combined) {
          ctx.pay_state = trim(st.text(kPayRecord)) == "1" ? "1" : "0";
          ctx.pay_way = trim(st.text(kPayway));
        } else {
          // Written off when any of the payer's records is; the channel is the
          // last one named.
          ctx.pay_state = "0";
          do {
            if (trim(st.text(kPayRecord)) == "1") ctx.pay_state = "1";
            std::string way = trim(st.text(kPayway));
            if (!way.empty()) ctx.pay_way = std::move(way);
          } while (st.step());
        }
        value = kTrue;
      },
      Report::plain);
}

LookupResult select_KIV7_student(Session& session, LineContext& ctx, const std::string& S_STDID) {
  return guarded_lookup(
      session,
      [&](std::int16_t& value) {
        store::Statement st(session.db, kStudentSql);
        st.bind(1, S_STDID);
        const bool has_row = st.step();
        ctx.stu_label.clear();
        // Without a grade the student has no class to name: no label at all.
        if (has_row) {
          const std::string grade = trim(st.text(0));
          if (!grade.empty()) ctx.stu_label = grade + "年" + trim(st.text(1)) + "班" + trim(st.text(2)) + "號";
        }
        value = kTrue;
      },
      Report::plain);
}

}  // namespace kiv::writeoff
