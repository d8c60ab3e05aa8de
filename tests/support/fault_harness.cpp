#include "fault_harness.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "store/connection.h"

namespace kiv::testing::sweep {

namespace {

// SQLCipher derives a file's key from the password and the file's salt (its
// first 16 bytes) with 64,000 rounds of PBKDF2-HMAC-SHA1, a few tens of
// milliseconds each time. The checks open copies of one school again and
// again, all with the same salt: the derived key is kept and given as a raw
// key, which SQLCipher takes as it is.
std::string key_for(const std::string& path) {
  static std::map<std::string, std::string> by_salt;
  std::string salt(16, '\0');
  std::ifstream in(path, std::ios::binary);
  if (!in.read(salt.data(), static_cast<std::streamsize>(salt.size()))) return store::kSuitePassword;
  auto [it, added] = by_salt.try_emplace(salt);
  if (added) {
    const std::string password = store::kSuitePassword;
    unsigned char key[32];
    PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                           reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()), 64000,
                           sizeof key, key);
    it->second = "x'";
    char hex[3];
    for (const unsigned char byte : key) {
      std::snprintf(hex, sizeof hex, "%02X", byte);
      it->second += hex;
    }
    it->second += "'";
    // Should this SQLCipher derive its keys otherwise, the password it is.
    sqlite3* db = nullptr;
    const bool reads = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
                       sqlite3_key(db, it->second.data(), static_cast<int>(it->second.size())) == SQLITE_OK &&
                       sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (!reads) it->second = store::kSuitePassword;
  }
  return it->second;
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
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    return std::string("error: ") + sqlite3_errmsg(db_);
  }
  std::string out;
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(st, 0);
    out = text != nullptr ? reinterpret_cast<const char*>(text) : "";
  } else if (rc != SQLITE_DONE) {
    out = std::string("error: ") + sqlite3_errmsg(db_);
  }
  sqlite3_finalize(st);
  return out;
}

void DiskDb::exec(const std::string& sql) const {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw std::runtime_error(why + " in " + sql);
  }
}

namespace {

// Runs a query, handing each row to `row`; the SQLite error text on failure.
template <class Row>
std::string each_row(sqlite3* db, const std::string& sql, Row&& row) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) row(st);
  sqlite3_finalize(st);
  return rc == SQLITE_DONE ? "" : sqlite3_errmsg(db);
}

void append_value(std::string& out, sqlite3_stmt* st, int column) {
  switch (sqlite3_column_type(st, column)) {
    case SQLITE_NULL:
      out += "NULL";
      break;
    case SQLITE_INTEGER:
      out += std::to_string(sqlite3_column_int64(st, column));
      break;
    case SQLITE_FLOAT: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.17g", sqlite3_column_double(st, column));
      out += buffer;
      break;
    }
    case SQLITE_TEXT:
      out += '\'';
      out += reinterpret_cast<const char*>(sqlite3_column_text(st, column));
      out += '\'';
      break;
    default: {
      out += "x'";
      const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(st, column));
      char hex[3];
      for (int i = 0; i < sqlite3_column_bytes(st, column); ++i) {
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        out += hex;
      }
      out += '\'';
    }
  }
}

}  // namespace

std::string dump(sqlite3* db, bool with_rowids, bool with_journal) {
  std::string out;
  std::vector<std::string> tables;
  const std::string which = with_journal ? "" : " WHERE tbl_name NOT LIKE 'KIV27!_%' ESCAPE '!'";
  std::string failure =
      each_row(db, "SELECT type, name, tbl_name, sql FROM sqlite_master" + which + " ORDER BY name", [&](auto* st) {
        out += "schema";
        for (int c = 0; c < 4; ++c) {
          out += ' ';
          append_value(out, st, c);
        }
        out += '\n';
        if (std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) == "table") {
          tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        }
      });
  for (const std::string& table : tables) {
    if (!failure.empty()) break;
    out += "== " + table + "\n";
    const std::string columns = with_rowids ? "rowid, *" : "*";
    failure = each_row(db, "SELECT " + columns + " FROM \"" + table + "\" ORDER BY rowid", [&](auto* st) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        if (c > 0) out += '|';
        append_value(out, st, c);
      }
      out += '\n';
    });
  }
  if (!failure.empty()) out += "!! cannot be read: " + failure + "\n";
  return out;
}

std::string dump_file(const std::string& path, bool with_rowids, bool with_journal) {
  DiskDb db(path);
  return dump(db.handle(), with_rowids, with_journal);
}

std::int64_t journal_lines(const std::string& path) {
  DiskDb db(path);
  if (db.scalar("SELECT count(*) FROM sqlite_master WHERE name = 'KIV27_Line'") == "0") return 0;
  return std::stoll(db.scalar("SELECT count(*) FROM KIV27_Line"));
}

std::string integrity(const std::string& path) {
  DiskDb db(path);
  std::string verdict;
  const std::string failure = each_row(db.handle(), "PRAGMA integrity_check", [&](auto* st) {
    if (!verdict.empty()) verdict += "; ";
    verdict += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  });
  return failure.empty() ? verdict : "cannot be checked: " + failure;
}

std::string dump_difference(const std::string& expected, const std::string& actual, int max_lines) {
  std::istringstream a(expected), b(actual);
  std::string left, right, out;
  for (int line = 1, shown = 0; shown < max_lines; ++line) {
    const bool more_a = static_cast<bool>(std::getline(a, left));
    const bool more_b = static_cast<bool>(std::getline(b, right));
    if (!more_a && !more_b) break;
    if (more_a && more_b && left == right) continue;
    out += "  line " + std::to_string(line) + "\n    clean: " + (more_a ? left : "(none)") +
           "\n    here:  " + (more_b ? right : "(none)") + "\n";
    ++shown;
  }
  return out;
}

void PrefixStates::record(std::int64_t lines_done, const std::string& state) {
  auto [it, added] = by_state_.try_emplace(state, lines_done, lines_done);
  if (!added) it->second.second = lines_done;
  last_ = state;
  ++recorded_;
}

std::optional<std::pair<std::int64_t, std::int64_t>> PrefixStates::find(const std::string& state) const {
  const auto it = by_state_.find(state);
  if (it == by_state_.end()) return std::nullopt;
  return it->second;
}

namespace {

fault::Fault variant(fault::Call call, std::int64_t nth, std::size_t index) {
  fault::Fault f{call, nth};
  const bool two_ways = call == fault::Call::read || call == fault::Call::write;
  // Over four faults of a kind: once, from then on, and both ways of failing.
  f.persistent = index % 2 == 1;
  if (two_ways && (index / 2 + index) % 2 == 1) {
    f.how = call == fault::Call::read ? fault::Failure::short_read : fault::Failure::disk_full;
  }
  return f;
}

}  // namespace

std::vector<fault::Fault> plan(const fault::Counts& counts, std::size_t budget) {
  std::int64_t total = 0;
  std::size_t kinds = 0;
  for (const std::int64_t c : counts) {
    total += c;
    kinds += c > 0 ? 1 : 0;
  }
  std::vector<std::int64_t> take(fault::kCallKinds, 0);
  if (kinds == 0) return {};
  if (static_cast<std::size_t>(total) <= budget) {
    std::copy(counts.begin(), counts.end(), take.begin());
  } else {
    // Half the budget shared equally, so that rare kinds (a truncate, a
    // delete) are all tried; the other half in proportion to the calls.
    const auto equal_share = static_cast<std::int64_t>(budget / (2 * kinds));
    std::int64_t left = static_cast<std::int64_t>(budget), rest = 0;
    for (std::size_t i = 0; i < fault::kCallKinds; ++i) {
      take[i] = std::min(counts[i], equal_share);
      left -= take[i];
      rest += counts[i] - take[i];
    }
    for (std::size_t i = 0; i < fault::kCallKinds && rest > 0; ++i) {
      take[i] += std::min(counts[i] - take[i], (counts[i] - take[i]) * left / rest);
    }
  }
  std::vector<fault::Fault> faults;
  for (std::size_t i = 0; i < fault::kCallKinds; ++i) {
    const auto call = static_cast<fault::Call>(i);
    std::int64_t previous = 0;
    for (std::int64_t j = 0; j < take[i]; ++j) {
      // Evenly from the first call to the last.
      const std::int64_t nth = take[i] == 1 ? 1 : 1 + (j * (counts[i] - 1) + (take[i] - 1) / 2) / (take[i] - 1);
      if (nth == previous) continue;
      previous = nth;
      faults.push_back(variant(call, nth, static_cast<std::size_t>(j)));
    }
  }
  return faults;
}

std::size_t budget_from_environment(const char* variable, std::size_t normal, std::size_t sanitized) {
  if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
    return static_cast<std::size_t>(std::strtoull(value, nullptr, 10));
  }
#if defined(__SANITIZE_ADDRESS__)
  (void)normal;
  return sanitized;
#else
  (void)sanitized;
  return normal;
#endif
}

std::string describe(const fault::Counts& counts) {
  std::string out;
  for (std::size_t i = 0; i < fault::kCallKinds; ++i) {
    if (!out.empty()) out += ", ";
    out += std::string(fault::name(static_cast<fault::Call>(i))) + " " + std::to_string(counts[i]);
  }
  return out;
}

void Tally::problem(const fault::Fault& f, const std::string& what) {
  ++problems;
  if (first_problems.size() < 12) first_problems.push_back(fault::describe(f) + ": " + what);
}

std::string Tally::report(const std::string& title, double seconds) const {
  char head[256];
  std::snprintf(head, sizeof head,
                "[ sweep ] %s: %lld runs, %lld with a fault injected, %lld ended cleanly, %lld ended in error, "
                "%lld problems, %.1f s\n",
                title.c_str(), static_cast<long long>(runs), static_cast<long long>(injected),
                static_cast<long long>(ended_cleanly), static_cast<long long>(ended_in_error),
                static_cast<long long>(problems), seconds);
  std::string out = head;
  for (const auto& [name, count] : notes) out += "[ sweep ]   " + name + ": " + std::to_string(count) + "\n";
  return out;
}

std::vector<std::string> json_strings(const std::string& array) {
  std::vector<std::string> out;
  bool inside = false;
  for (std::size_t i = 0; i < array.size(); ++i) {
    const char c = array[i];
    if (!inside) {
      if (c == '"') {
        inside = true;
        out.emplace_back();
      }
      continue;
    }
    if (c == '"') {
      inside = false;
    } else if (c == '\\' && i + 1 < array.size()) {
      const char e = array[++i];
      out.back() += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
    } else {
      out.back() += c;
    }
  }
  return out;
}

}  // namespace kiv::testing::sweep
