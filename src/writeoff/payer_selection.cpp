#include "writeoff/payer_selection.h"

#include "core/text.h"
#include "store/statement.h"

namespace kiv::writeoff {

std::vector<PayerRecord> read_payer_selection(store::Connection& db, const LineContext& ctx, const LineKey& key,
                                              bool amounts) {
  // Smallest amount due first, equal amounts by student number; nulls first,
  // as the file store has always ordered them.
  static const store::Sql kSelection{
      sql_of("select stdid,payamt,fee from KIV8_Payment",
             std::string(kPayerCondition) + " order by payamt NULLSFIRST,CI(stdid) NULLSFIRST")};
  store::Statement st(db, kSelection);
  bind_payer(st, ctx, key.day, key.group);
  std::vector<PayerRecord> records;
  while (st.step()) {
    PayerRecord record{trim(st.text(0)), std::nullopt, std::nullopt};
    if (amounts) {
      record.payamt = st.cents(1);
      record.fee = st.cents(2);
    }
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace kiv::writeoff
