#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv::store {

enum class WriteKind { none, insert, update, remove };

// What a statement of the program's SQL writes, read from its text: the
// program writes rows only as
//   update T set ... [where C]
//   delete from T [where C]
//   insert into T(...) values(...)
// so the table and the condition that selects the rows are there to read.
struct WriteShape {
  WriteKind kind = WriteKind::none;
  std::string table;                      // spelled as the suite's schema spells it, when it is one of its tables
  std::string condition;                  // " where ..." as written, in the common SQL; empty: every row
  std::vector<int> condition_parameters;  // the ?N the condition uses
};

// Throws DbError (a fault of the program) for a statement that writes rows in
// a way these shapes do not cover (insert ... select, replace, several rows),
// so that no write can slip past the journal unseen.
WriteShape write_shape(std::string_view sql);

}  // namespace kiv::store
