#include "writeoff/line_day_removal.h"

#include <string>

#include "store/statement.h"

namespace kiv::writeoff {

namespace {

// The students of the payer's records on the line's date, as read: without
// surrounding blanks, a null as an empty number that matches no record. The
// list is a subquery, since a payer may cover more students than a statement
// takes parameters.
const std::string kPayerStudentsCondition =
    " where CI(stdid) in (select CI(coalesce(trim(stdid),'')) from KIV8_Payment" + std::string(kPayerCondition) +
    ") and tranday=?2 and grpid=?3";

struct RemovalSql {
  store::Sql payitems;
  store::Sql payments;
};

const store::Sql kAnyLeft{sql_of("select 1 from KIV8_Payment", std::string(kDayCondition) + " limit 1")};
const store::Sql kAgency{sql_of("delete from Kiv10_agency", kDayCondition)};

// `bind` gives the condition its values.
template <class Bind>
void remove(store::Connection& db, const RemovalSql& sql, const LineKey& key, Bind&& bind) {
  for (const store::Sql* statement : {&sql.payitems, &sql.payments}) {
    store::Statement st(db, *statement);
    bind(st);
    st.run();
  }
  {
    store::Statement left(db, kAnyLeft);
    bind_day(left, key.day, key.group);
    if (left.step()) return;
  }
  store::Statement agency(db, kAgency);
  bind_day(agency, key.day, key.group);
  agency.run();
}

}  // namespace

void remove_line_day(store::Connection& db, std::string_view stdid, const LineKey& key) {
  static const RemovalSql kSql{store::Sql{sql_of("delete from KIV9_Payitem", kStudentCondition)},
                               store::Sql{sql_of("delete from KIV8_Payment", kStudentCondition)}};
  remove(db, kSql, key, [&](store::Statement& st) { bind_student(st, stdid, key.day, key.group); });
}

void remove_line_day_of_payer(store::Connection& db, const LineContext& ctx, const LineKey& key) {
  static const RemovalSql kSql{store::Sql{sql_of("delete from KIV9_Payitem", kPayerStudentsCondition)},
                               store::Sql{sql_of("delete from KIV8_Payment", kPayerStudentsCondition)}};
  remove(db, kSql, key, [&](store::Statement& st) { bind_payer(st, ctx, key.day, key.group); });
}

}  // namespace kiv::writeoff
