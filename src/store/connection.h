#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace kiv::store {

inline constexpr const char* kSuitePassword = "QZMPW";

// One open SQLCipher database. Move-only; closed by the destructor.
class Connection {
 public:
  // Called about every 50 ms while another program holds the database.
  using BusyPump = std::function<void()>;

  // Opens an existing database with the suite's password; never creates a
  // file. Throws DbError with kErrGeneralFailure when the file is missing, is
  // not a database or has another password.
  static Connection open(const std::string& path, BusyPump pump = {}, const std::string& password = kSuitePassword);
  // Creates a new database (the file must not exist) keyed with the password.
  static Connection create(const std::string& path, const std::string& password = kSuitePassword);

  Connection(Connection&&) noexcept;
  Connection& operator=(Connection&&) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // Runs statements without parameters or results (DDL, PRAGMA, BEGIN...).
  void execute(const std::string& sql);
  // How long a statement waits for another program before failing as busy.
  void set_busy_timeout_ms(int ms);

  sqlite3* handle() const { return db_; }

  // Prepared statements are kept for reuse: an import run prepares the same
  // few statements for every detail line. Used by Statement only.
  sqlite3_stmt* take_cached(const std::string& sql);
  void give_back(const std::string& sql, sqlite3_stmt* stmt);

  struct BusyState;

 private:
  Connection(sqlite3* db, std::unique_ptr<BusyState> busy);
  sqlite3* db_ = nullptr;
  std::unique_ptr<BusyState> busy_;
};

}  // namespace kiv::store
