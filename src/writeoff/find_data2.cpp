#include "core/text.h"
#include "store/statement.h"
#include "store/values.h"
#include "writeoff/guard.h"
#include "writeoff/lookups.h"

namespace kiv::writeoff {

LookupResult find_data2(Session& session, const std::string& t_day, const std::string& t_stdid,
                        const std::string& t_grpid) {
  return guarded_lookup(session, [&](std::int16_t& value) {
    static const store::Sql kExists{
        "SELECT stdid FROM KIV8_payment WHERE CI(stdid)=CI(?1) and tranday=?2 and grpid=?3"};
    store::Statement st(session.db, kExists);
    st.bind(1, t_stdid).bind(2, store::stored_date(t_day)).bind(3, numeric_value(t_grpid));
    if (st.step()) value = kTrue;
  });
}

}  // namespace kiv::writeoff
