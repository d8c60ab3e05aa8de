#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "store/connection.h"
#include "store/row_image.h"
#include "store/statement.h"
#include "store/suite_schema.h"

namespace kiv::testing {

// The suite's tables row by row, every value with its kind, through the
// store's own statements (so it reads any store alike). With `rowids` each
// row carries its rowid and the rows keep their order; without, the rows of
// a table are sorted, for a database whose rowids compaction may have changed.
inline std::string snapshot(store::Connection& db, bool rowids = true) {
  std::string out;
  for (const store::SuiteTable& table : store::suite_tables()) {
    std::vector<std::string> rows;
    store::Statement st(db, "select rowid,* from " + std::string(table.name) + " order by rowid");
    while (st.step()) {
      const std::string row = store::encode_image(store::read_image(st, 1));
      rows.push_back(rowids ? std::to_string(st.integer(0)) + " " + row : row);
    }
    if (!rowids) std::sort(rows.begin(), rows.end());
    out += "== " + std::string(table.name) + "\n";
    for (const std::string& row : rows) out += row + "\n";
  }
  return out;
}

}  // namespace kiv::testing
