#include "store/journal_schema.h"

#include <array>

namespace kiv::store {

namespace {

using T = ColumnType;

// Times are local "YYYY-MM-DD HH:MM:SS" text; money is whole hundredths.
constexpr std::array<SuiteColumn, 26> kRun{{
    {"run", T::integer},          {"kind", T::text},          {"started", T::text},       {"ended", T::text},
    {"ctx_arg1", T::text},        {"ctx_arg2", T::text},      {"ctx_arg3", T::text},      {"source", T::text},
    {"size", T::integer},         {"sha256", T::text},        {"trailer", T::yes_no},     {"file_cnt", T::integer},
    {"file_amt", T::integer},     {"posted_cnt", T::integer}, {"posted_amt", T::integer}, {"lines", T::integer},
    {"ok", T::integer},           {"failed", T::integer},     {"errors", T::integer},     {"settled", T::integer},
    {"posted_cents", T::integer}, {"outcome", T::text},       {"log", T::text},           {"resumes", T::integer},
    {"undoes", T::integer},       {"undone_by", T::integer},
}};
constexpr std::array<SuiteColumn, 10> kLine{{
    {"run", T::integer},
    {"line_no", T::integer},
    {"file_line", T::integer},
    {"outcome", T::text},
    {"amount", T::integer},
    {"stdid", T::text},
    {"grpid", T::text},
    {"fail_code", T::text},
    {"log_text", T::text},
    {"settled_by", T::integer},
}};
constexpr std::array<SuiteColumn, 8> kChange{{
    {"run", T::integer},
    {"line_no", T::integer},
    {"seq", T::integer},
    {"table_name", T::text},
    {"row_id", T::integer},
    {"op", T::text},
    {"before_image", T::text},
    {"after_image", T::text},
}};

constexpr std::array<SuiteTable, 3> kTables{{
    {kRunTable, kRun, true},
    {kLineTable, kLine, true},
    {kChangeTable, kChange, true},
}};

constexpr std::array<std::string_view, 1> kByRun{"run"};
constexpr std::array<std::string_view, 1> kByHash{"sha256"};

// A run's lines and changes are found by the run alone: every row a batch
// adds costs an entry in each index, and the run alone is the cheapest key.
// Sorting a run's rows when they are read back costs far less.
constexpr std::array<SuiteIndex, 4> kIndexes{{
    {"KIV27_Run_run", kRunTable, kByRun, true},
    {"KIV27_Run_sha256", kRunTable, kByHash},
    {"KIV27_Line_run", kLineTable, kByRun},
    {"KIV27_Change_run", kChangeTable, kByRun},
}};

}  // namespace

std::span<const SuiteTable> journal_tables() {
  return kTables;
}

std::vector<std::string> journal_ddl(Dialect dialect) {
  std::vector<std::string> ddl;
  ddl.reserve(kTables.size() + kIndexes.size());
  for (const SuiteTable& table : kTables) ddl.push_back(table_ddl(table, dialect, true));
  for (const SuiteIndex& index : kIndexes) ddl.push_back(index_ddl(index, kTables, dialect, true));
  return ddl;
}

bool is_journal_table(std::string_view name) {
  constexpr std::string_view kPrefix = "kiv27_";
  if (name.size() < kPrefix.size()) return false;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kPrefix[i]) return false;
  }
  return true;
}

}  // namespace kiv::store
