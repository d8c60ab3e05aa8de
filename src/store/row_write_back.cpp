#include "store/row_write_back.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "store/statement.h"

namespace kiv::store {

namespace {

// Column names come from the database itself; quoted, they are only names.
std::string quoted(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

}  // namespace

const Sql& sql_built(const std::string& text) {
  static std::mutex mutex;
  static std::unordered_map<std::string, std::unique_ptr<Sql>> kept;
  const std::lock_guard lock(mutex);
  auto& sql = kept[text];
  if (!sql) sql = std::make_unique<Sql>(text);
  return *sql;
}

bool write_row(Connection& db, std::string_view table, std::int64_t rowid, const RowImage& image) {
  std::string text = "update " + std::string(table) + " set ";
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (i > 0) text += ",";
    text += quoted(image[i].name) + "=?" + std::to_string(i + 1);
  }
  text += " where rowid=?" + std::to_string(image.size() + 1);
  Statement st(db, sql_built(text));
  for (std::size_t i = 0; i < image.size(); ++i) st.bind(static_cast<int>(i + 1), image[i].value);
  return st.bind(static_cast<int>(image.size() + 1), rowid).run() > 0;
}

void delete_row(Connection& db, std::string_view table, std::int64_t rowid) {
  Statement st(db, sql_built("delete from " + std::string(table) + " where rowid=?1"));
  st.bind(1, rowid).run();
}

void insert_row(Connection& db, std::string_view table, std::optional<std::int64_t> rowid, const RowImage& image) {
  std::string names = rowid ? "rowid" : "", values = rowid ? "?1" : "";
  const int first = rowid ? 2 : 1;
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (!names.empty()) names += ",";
    if (!values.empty()) values += ",";
    names += quoted(image[i].name);
    values += '?';
    values += std::to_string(first + static_cast<int>(i));
  }
  Statement st(db, sql_built("insert into " + std::string(table) + "(" + names + ") values(" + values + ")"));
  if (rowid) st.bind(1, *rowid);
  for (std::size_t i = 0; i < image.size(); ++i) st.bind(first + static_cast<int>(i), image[i].value);
  st.run();
}

}  // namespace kiv::store
