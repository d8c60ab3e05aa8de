#include "temp_suite.h"

#include <fstream>
#include <stdexcept>

#include "store/schema.h"
#include "store/statement.h"

namespace kiv::testing {

TempSuite::TempSuite() : TempSuite(true) {}

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
  return store::Connection::open_file(paths_.db_path());
}

void TempSuite::exec(const std::string& sql) const {
  auto db = open();
  db.execute(sql);
}

std::string TempSuite::write_file(const std::string& relative, const std::string& content) const {
  const auto path = std::filesystem::path(paths_.root) / relative;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
  return path.string();
}

std::string query_text(store::Connection& db, const std::string& sql) {
  store::Statement st(db, sql);
  return st.step() ? st.text(0) : std::string();
}

std::int64_t query_int(store::Connection& db, const std::string& sql) {
  store::Statement st(db, sql);
  return st.step() ? st.integer(0) : 0;
}

}  // namespace kiv::testing
