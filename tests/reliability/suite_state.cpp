#include "suite_state.h"

#include <filesystem>

#include "store/statement.h"
#include "temp_suite.h"

namespace kiv::testing {

namespace {

constexpr const char* kTables[] = {"KIV8_Payment", "KIV9_Payitem", "KIV10_Agency"};

std::vector<std::string> column_names(store::Connection& db, const std::string& table) {
  std::vector<std::string> names;
  store::Statement info(db, "PRAGMA table_info(" + table + ")");
  while (info.step()) names.push_back(info.text(1));
  return names;
}

}  // namespace

std::string state_fingerprint(store::Connection& db) {
  return query_text(db,
                    "SELECT (SELECT count(*) || ',' || total(paystas) || ',' || count(payway) || ',' || count(payday) "
                    "|| ',' || count(pay_record) || ',' || total(Unequal) || ',' || count(realamt) || ',' || "
                    "total(realamt) || ',' || count(unusual) || ',' || count(failfac) || ',' || total(fee) FROM "
                    "KIV8_Payment) || '/' || (SELECT count(*) FROM KIV9_Payitem) || '/' || "
                    "(SELECT count(*) || ',' || total(PayStas) FROM KIV10_Agency)");
}

std::string canonical_dump(store::Connection& db) {
  std::string out;
  for (const std::string table : kTables) {
    const auto columns = column_names(db, table);
    std::string select, order;
    for (const auto& c : columns) {
      // quote() keeps null, text and number apart; binary order keeps rows
      // that differ only in letter case in one fixed order.
      if (!select.empty()) select += " || '|' || ";
      select += "quote(" + c + ")";
      if (!order.empty()) order += ", ";
      order += c + " COLLATE BINARY";
    }
    store::Statement rows(db, "SELECT " + select + " FROM " + table + " ORDER BY " + order);
    out += "== " + table + "\n";
    while (rows.step()) out += rows.text(0) + "\n";
  }
  return out;
}

SuiteState read_state(store::Connection& db) {
  return SuiteState{state_fingerprint(db), canonical_dump(db)};
}

SuiteState read_state(const std::string& db_path) {
  auto db = store::Connection::open(db_path);
  return read_state(db);
}

std::string integrity_check(store::Connection& db) {
  std::string result;
  store::Statement check(db, "PRAGMA integrity_check");
  while (check.step()) {
    if (!result.empty()) result += '\n';
    result += check.text(0);
  }
  return result;
}

void copy_suite(const std::string& from_root, const std::string& to_root) {
  std::filesystem::create_directories(to_root);
  std::filesystem::copy(from_root, to_root,
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
}

}  // namespace kiv::testing
