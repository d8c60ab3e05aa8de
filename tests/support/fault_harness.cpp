#include "fault_harness.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "store/connection.h"

namespace kiv::testing::sweep {

namespace {

// SQLCipher derives a file's key from the password and the file's salt (its
// first 16 bytes) with 64,000 rounds of PBKDF2, tens of milliseconds each
// time. A sweep opens copies of one school again and again, all with one
// salt: the key is derived once and given raw, which SQLCipher takes as it is.
std::string key_for(const std::string& path) {
  static std::map<std::string, std::string> by_salt;
  std::string salt(16, '\0');
  if (!std::ifstream(path, std::ios::binary).read(salt.data(), 16)) return store::kSuitePassword;
  auto [it, added] = by_salt.try_emplace(salt, "x'");
  if (!added) return it->second;
  const std::string password = store::kSuitePassword;
  unsigned char key[32];
  PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                         reinterpret_cast<const unsigned char*>(salt.data()), 16, 64000, sizeof key, key);
  char hex[3];
  for (const unsigned char byte : key) std::snprintf(hex, sizeof hex, "%02X", byte), it->second += hex;
  it->second += "'";
  // Should this SQLCipher derive its keys otherwise, the password it is.
  sqlite3* db = nullptr;
  const bool reads = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
                     sqlite3_key(db, it->second.data(), static_cast<int>(it->second.size())) == SQLITE_OK &&
                     sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  if (!reads) it->second = store::kSuitePassword;
  return it->second;
}

// Runs a query, handing each row to `row`; "" or the SQLite error text.
template <class Row>
std::string each_row(sqlite3* db, const std::string& sql, Row&& row, std::optional<std::int64_t> bound = {}) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
  if (bound) sqlite3_bind_int64(st, 1, *bound);
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) row(st);
  sqlite3_finalize(st);
  return rc == SQLITE_DONE ? "" : sqlite3_errmsg(db);
}

std::string column_text(sqlite3_stmt* st, int column) {
  const unsigned char* text = sqlite3_column_text(st, column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

// A value as SQL writes it, so that values of different types differ.
void append_value(std::string& out, sqlite3_stmt* st, int column) {
  char buffer[40];
  const int type = sqlite3_column_type(st, column);
  if (type == SQLITE_NULL) return void(out += "NULL");
  if (type == SQLITE_INTEGER) return void(out += std::to_string(sqlite3_column_int64(st, column)));
  if (type == SQLITE_TEXT) return void(out += "'" + column_text(st, column) + "'");
  if (type == SQLITE_FLOAT) {
    std::snprintf(buffer, sizeof buffer, "%.17g", sqlite3_column_double(st, column));
    return void(out += buffer);
  }
  out += "x'";
  const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(st, column));
  for (int i = 0; i < sqlite3_column_bytes(st, column); ++i) std::snprintf(buffer, 3, "%02x", bytes[i]), out += buffer;
  out += '\'';
}

}  // namespace

DiskDb::DiskDb(const std::string& path) {
  const std::string key = key_for(path);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_key(db_, key.data(), static_cast<int>(key.size())) != SQLITE_OK) {
    const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw std::runtime_error("cannot open " + path + ": " + why);
  }
}

DiskDb::~DiskDb() {
  sqlite3_close(db_);
}

std::string DiskDb::scalar(const std::string& sql) const {
  std::string out;
  bool first = true;
  const std::string failure = each_row(db_, sql, [&](sqlite3_stmt* st) {
    if (first) out = column_text(st, 0);
    first = false;
  });
  return failure.empty() ? out : "error: " + failure;
}

void DiskDb::exec(const std::string& sql) const {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw std::runtime_error(why + " in " + sql);
  }
}

std::string dump(sqlite3* db, Part part, bool with_rowids, std::int64_t up_to_line) {
  std::string out, failure;
  const auto add_row = [&](sqlite3_stmt* st) {
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      const std::string name = sqlite3_column_name(st, c);
      if (name == "started" || name == "ended") continue;  // a run's times differ from run to run
      if (c > 0) out += '|';
      append_value(out, st, c);
    }
    out += '\n';
  };
  if (part == Part::journal) {
    for (const std::string table : {"KIV27_Line", "KIV27_Change"}) {
      out += "== " + table + "\n";
      // Before the run's first batch is on disk there are no tables.
      if (failure.empty() && sqlite3_table_column_metadata(db, "main", table.c_str(), nullptr, nullptr, nullptr,
                                                           nullptr, nullptr, nullptr) == SQLITE_OK) {
        failure = each_row(db, "SELECT * FROM " + table + " WHERE line_no <= ?1 ORDER BY run, line_no, rowid", add_row,
                           up_to_line);
      }
    }
  } else {
    std::vector<std::string> tables;
    const std::string which = part == Part::school ? " WHERE tbl_name NOT LIKE 'KIV27!_%' ESCAPE '!'" : "";
    failure = each_row(db, "SELECT type, name, tbl_name, sql FROM sqlite_master" + which + " ORDER BY name",
                       [&](sqlite3_stmt* st) {
                         out += "schema ";
                         add_row(st);
                         if (column_text(st, 0) == "table") tables.push_back(column_text(st, 1));
                       });
    for (std::size_t i = 0; i < tables.size() && failure.empty(); ++i) {
      out += "== " + tables[i] + "\n";
      failure = each_row(
          db, std::string("SELECT ") + (with_rowids ? "rowid, *" : "*") + " FROM \"" + tables[i] + "\" ORDER BY rowid",
          add_row);
    }
  }
  if (!failure.empty()) out += "!! cannot be read: " + failure + "\n";
  return out;
}

std::string dump_file(const std::string& path, Part part, bool with_rowids, std::int64_t up_to_line) {
  DiskDb db(path);
  return dump(db.handle(), part, with_rowids, up_to_line);
}

std::string integrity(const std::string& path) {
  DiskDb db(path);
  std::string verdict;
  const std::string failure = each_row(db.handle(), "PRAGMA integrity_check", [&](sqlite3_stmt* st) {
    verdict += (verdict.empty() ? "" : "; ") + column_text(st, 0);
  });
  return failure.empty() ? verdict : "cannot be checked: " + failure;
}

std::string dump_difference(const std::string& expected, const std::string& actual, int max_lines) {
  std::istringstream a(expected), b(actual);
  std::string left, right, out;
  for (int line = 1, shown = 0; shown < max_lines; ++line) {
    const bool more_a = static_cast<bool>(std::getline(a, left)), more_b = static_cast<bool>(std::getline(b, right));
    if (!more_a && !more_b) break;
    if (more_a && more_b && left == right) continue;
    out += "  line " + std::to_string(line) + "\n    clean: " + (more_a ? left : "(none)") +
           "\n    here:  " + (more_b ? right : "(none)") + "\n";
    ++shown;
  }
  return out;
}

}  // namespace kiv::testing::sweep
