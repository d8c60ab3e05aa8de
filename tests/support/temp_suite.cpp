#include "temp_suite.h"

#include <sqlite3.h>

#include <fstream>
#include <stdexcept>

#include "store/schema.h"

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
  return store::Connection::open(paths_.db_path());
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
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db.handle()));
  }
  std::string all;
  while (sqlite3_step(st) == SQLITE_ROW) {
    if (!all.empty()) all += " | ";
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
      all += std::string(c > 0 ? " " : "") + (text == nullptr ? "NULL" : *text == '\0' ? "''" : text);
    }
  }
  sqlite3_finalize(st);
  return all;
}

}  // namespace kiv::testing
