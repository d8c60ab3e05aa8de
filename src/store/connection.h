#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/paths.h"
#include "store/sql.h"

namespace kiv::store {

class Backend;
class RowCapture;

inline constexpr const char* kSuitePassword = "QZMPW";

// One open connection to the suite's database, in whichever store the suite
// folder uses. Move-only; closed by the destructor.
class Connection {
 public:
  // Called about every 50 ms while another program holds the database.
  using BusyPump = std::function<void()>;

  // The suite's database, in the store the suite folder names (see
  // store_choice.h). Refuses a database that lacks any table or column the
  // program uses, and never creates one. Throws DbError with
  // kErrGeneralFailure when it cannot be opened.
  static Connection open(const SuitePaths& paths, BusyPump pump = {});

  // A database file of the file store by its path, with the same checks.
  static Connection open_file(const std::string& path, BusyPump pump = {},
                              const std::string& password = kSuitePassword);
  // A database on a server by its connection string or URI, with the same
  // checks. `shown` names it in messages (never with a password).
  static Connection open_server(const std::string& conninfo, BusyPump pump = {}, const std::string& shown = "");
  // The same without the checks: for setting a server up.
  static Connection connect_server(const std::string& conninfo, BusyPump pump = {}, const std::string& shown = "");
  // Creates a new database file (the file must not exist) keyed with the password.
  static Connection create_file(const std::string& path, const std::string& password = kSuitePassword);

  explicit Connection(std::unique_ptr<Backend> backend);
  Connection(Connection&&) noexcept;
  Connection& operator=(Connection&&) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  Dialect dialect() const;
  // Runs statements of the program's SQL without parameters or rows.
  void execute(std::string_view sql);
  // One such statement whose outcome can wait: a failure of it may be
  // reported by the next statement instead.
  void execute_later(std::string_view sql);
  // How long a statement waits for another program before failing as busy.
  void set_busy_timeout_ms(int ms);

  Backend& backend() { return *backend_; }

  // The capture that watches this connection's writes for the journal;
  // RowCapture attaches and detaches itself.
  void attach_capture(RowCapture* capture) { capture_ = capture; }
  RowCapture* capture() const { return capture_; }

 private:
  std::unique_ptr<Backend> backend_;
  RowCapture* capture_ = nullptr;
};

// Fails with kErrGeneralFailure naming the first table or column of the
// suite's that the connected database lacks.
void require_suite_schema(Connection& connection, const std::string& where);

}  // namespace kiv::store
