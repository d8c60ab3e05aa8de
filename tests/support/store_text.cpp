#include "store_text.h"

#include "store/statement.h"
#include "store/suite_schema.h"

namespace kiv::testing {

namespace {

const store::SuiteTable& suite_table(std::string_view name) {
  for (const store::SuiteTable& table : store::suite_tables()) {
    if (table.name == name) return table;
  }
  throw std::invalid_argument("not a table of the suite: " + std::string(name));
}

}  // namespace

std::string normalised_number(std::string text) {
  if (text.find('.') != std::string::npos && text.find_first_of("eE") == std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::string table_rows(store::Connection& db, std::string_view name) {
  const store::SuiteTable& table = suite_table(name);
  std::string columns;
  for (const auto& column : table.columns) columns += (columns.empty() ? "" : ",") + std::string(column.name);
  store::Statement st(db, "SELECT " + columns + " FROM " + std::string(name) + " ORDER BY rowid");
  std::string out;
  while (st.step()) {
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      const auto& column = table.columns[c];
      const int i = static_cast<int>(c);
      std::string value = st.is_null(i) ? "NULL" : st.text(i);
      const bool numeric = column.type == store::ColumnType::number || column.type == store::ColumnType::yes_no;
      if (numeric && !st.is_null(i)) value = normalised_number(value);
      out += (c > 0 ? "|" : "") + std::string(column.name) + "=" + value;
    }
    out += "\n";
  }
  return out;
}

std::string all_rows(store::Connection& db) {
  std::string out;
  for (const store::SuiteTable& table : store::suite_tables()) {
    out += "== " + std::string(table.name) + "\n" + table_rows(db, table.name);
  }
  return out;
}

std::int64_t count_rows(store::Connection& db, std::string_view table, const std::string& where) {
  return std::stoll(query_text(db, "SELECT count(*) FROM " + std::string(table) + (where.empty() ? "" : " WHERE " + where)));
}

std::string trigger_sql(StoreKind store, const std::string& name, const std::string& event, const std::string& when,
                        const std::string& action) {
  const bool raise = action.starts_with("RAISE ");
  if (store == StoreKind::file) {
    return "CREATE TRIGGER " + name + " " + event + (when.empty() ? "" : " WHEN " + when) + " BEGIN " +
           (raise ? "SELECT RAISE(ABORT, " + action.substr(6) + ")" : action) + "; END;";
  }
  return "CREATE FUNCTION " + name + "() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN " +
         (raise ? "RAISE EXCEPTION " + action.substr(6) + " USING ERRCODE = 'check_violation'" : action) +
         "; RETURN NEW; END$$; CREATE TRIGGER " + name + " " + event + " FOR EACH ROW" +
         (when.empty() ? "" : " WHEN (" + when + ")") + " EXECUTE FUNCTION " + name + "();";
}

void OnEachStore::SetUp() {
  if (GetParam() == StoreKind::server && test_server_uri().empty()) GTEST_SKIP() << "KIV_TEST_PG is not set";
}

std::string store_name(const ::testing::TestParamInfo<StoreKind>& info) {
  return info.param == StoreKind::file ? "file" : "server";
}

}  // namespace kiv::testing
