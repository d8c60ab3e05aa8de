#include "writeoff/write_conditions.h"

#include <optional>

#include "store/db_error.h"
#include "store/values.h"

namespace kiv::writeoff {

LineKey LineKey::strict(const std::string& u_day, const std::string& u_grpid) {
  return LineKey{store::stored_date(u_day), store::strict_group(u_grpid)};
}

std::string second_day(const LineContext& ctx) {
  return store::stored_date(ctx.tran_day2);
}

void bind_student(store::Statement& st, std::string_view stdid, const std::string& record_day, std::int64_t group) {
  st.bind(kParamStudent, stdid).bind(kParamRecordDay, record_day).bind(kParamGroup, group);
}

void bind_day(store::Statement& st, const std::string& record_day, std::int64_t group) {
  st.bind(kParamRecordDay, record_day).bind(kParamGroup, group);
}

void bind_payer(store::Statement& st, const LineContext& ctx, const std::string& record_day, std::int64_t group) {
  bind_day(st, record_day, group);
  st.bind(kParamPayerId, ctx.payer_id).bind(kParamAcct7, ctx.acct7());
}

Cents line_amount(const std::string& amount_text) {
  const std::optional<Cents> amount = parse_decimal(amount_text);
  if (!amount) store::throw_type_mismatch("金額 '" + amount_text + "'");
  return *amount;
}

std::string_view anomaly_code(const LineContext& ctx) {
  return ctx.stu_delmark == "False" ? "a" : "c";
}

}  // namespace kiv::writeoff
