#include "writeoff/line_day_removal.h"

#include <string>

#include "store/statement.h"

namespace kiv::writeoff {

namespace {

// The students are kept as read, without surrounding blanks; a null counts
// as an empty number, which matches no record.
constexpr const char* kCreateCollected =
    "CREATE TEMP TABLE IF NOT EXISTS kiv_line_students (stdid TEXT COLLATE NOCASE)";
constexpr const char* kClearCollected = "DELETE FROM temp.kiv_line_students";
constexpr std::string_view kCollectedCondition =
    " where stdid in (select stdid from temp.kiv_line_students) and tranday=?2 and grpid=?3";

// `bind` gives the condition its values.
template <class Bind>
void remove(store::Connection& db, std::string_view condition, const LineKey& key, Bind&& bind) {
  for (std::string_view table : {"delete from KIV9_Payitem", "delete from KIV8_Payment"}) {
    store::Statement st(db, sql_of(table, condition));
    bind(st);
    st.run();
  }
  store::Statement left(db, sql_of("select exists (select 1 from KIV8_Payment", std::string(kDayCondition) + ")"));
  bind_day(left, key.day, key.group);
  if (left.step() && left.integer(0) != 0) return;
  store::Statement agency(db, sql_of("delete from Kiv10_agency", kDayCondition));
  bind_day(agency, key.day, key.group);
  agency.run();
}

}  // namespace

void remove_line_day(store::Connection& db, std::string_view stdid, const LineKey& key) {
  remove(db, kStudentCondition, key, [&](store::Statement& st) { bind_student(st, stdid, key.day, key.group); });
}

void collect_payer_students(store::Connection& db, const LineContext& ctx, const LineKey& key) {
  db.execute(kCreateCollected);
  db.execute(kClearCollected);
  store::Statement st(db, sql_of("insert into temp.kiv_line_students (stdid) select ifnull(trim(stdid),'') "
                                 "from KIV8_Payment",
                                 kPayerCondition));
  bind_payer(st, ctx, key.day, key.group);
  st.run();
}

void remove_line_day_of_collected(store::Connection& db, const LineKey& key) {
  remove(db, kCollectedCondition, key, [&](store::Statement& st) { bind_day(st, key.day, key.group); });
}

}  // namespace kiv::writeoff
