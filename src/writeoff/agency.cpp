#include <string>

#include "store/statement.h"
#include "writeoff/guard.h"
#include "writeoff/write_conditions.h"
#include "writeoff/writeoffs.h"

namespace kiv::writeoff {

// Every line about to be posted marks the agency record of its date and group
// paid; a date and group without one is left as it is.
OpResult update_kiv10(Session& session, const std::string& u_day, const std::string& u_grpid) {
  return guarded(session, [&] {
    const LineKey key = LineKey::strict(u_day, u_grpid);
    static const store::Sql kMarkPaid{sql_of("update KIV10_Agency set PayStas=1", kDayCondition)};
    store::Statement st(session.db, kMarkPaid);
    bind_day(st, key.day, key.group);
    // Nothing waits for it: the line's next statement goes with it.
    st.run_later();
  });
}

}  // namespace kiv::writeoff
