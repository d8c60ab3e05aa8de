#include "temp_suite.h"

#include <fstream>
#include <stdexcept>

#include "store/schema.h"
#include "store/statement.h"

namespace kiv::testing {

TempSuite::TempSuite(bool with_database) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kiv-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  paths_.root = pattern;
  if (with_database) {
    if (auto error = store::init_suite(paths_)) throw std::runtime_error(error->description);
  }
}

TempSuite::~TempSuite() {
  std::error_code ec;
  std::filesystem::remove_all(paths_.root, ec);
}

store::Connection TempSuite::open() const {
  return store::Connection::open(paths_);
}

void TempSuite::exec(const std::string& sql) const {
  open().execute(sql);
}

std::string TempSuite::rows(const std::string& sql) const {
  auto db = open();
  return query_rows(db, sql);
}

std::string TempSuite::write_file(const std::string& relative, const std::string& content) const {
  const auto path = std::filesystem::path(paths_.root) / relative;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
  return path.string();
}

std::string query_rows(store::Connection& db, const std::string& sql) {
  store::Statement st(db, sql);
  std::string all;
  while (st.step()) {
    if (!all.empty()) all += " | ";
    for (int c = 0; c < st.column_count(); ++c) {
      const std::string text = st.text(c);
      all += std::string(c > 0 ? " " : "") + (st.is_null(c) ? "NULL" : text.empty() ? "''" : text);
    }
  }
  return all;
}

}  // namespace kiv::testing
