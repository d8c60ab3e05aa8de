#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/server/pg_handles.h"

// One connection to the server, used asynchronously: every request is sent,
// then its answer is awaited on the socket while the caller's pump runs every
// 50 ms, so that a window stays responsive while the server works or waits
// for another workstation's lock. Every failure is thrown as DbError.
namespace kiv::store::server {

class PgSession {
 public:
  using Pump = std::function<void()>;
  // Parameter values as text; nullopt is SQL null.
  using Values = std::vector<std::optional<std::string>>;

  // Connects with the connection string or URI. The password comes from the
  // string, PGPASSWORD or ~/.pgpass; when the server asks for one and none was
  // given, `fallback_password` is tried. Throws DbError with
  // kErrGeneralFailure naming `shown` when no connection can be made.
  PgSession(const std::string& conninfo, const std::string& fallback_password, const std::string& shown, Pump pump);
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  // One or more statements without parameters; the last one's result.
  PgResult exec(const std::string& sql);
  // One statement without parameters or rows whose outcome can wait: it is
  // sent with the next request, in the same exchange, and a failure of it is
  // reported by that request. Only inside a transaction, whose COMMIT is
  // such a request: outside one it runs at once, so that nothing is left
  // unsent or unreported when the connection closes.
  void send_later(const std::string& sql);
  // The same for a prepared statement with its values.
  void send_prepared_later(const std::string& name, const Values& values);
  void prepare(const std::string& name, const std::string& sql, int parameters);
  PgResult exec_prepared(const std::string& name, const Values& values);
  // A statement used once: parsed, bound and run in one exchange.
  PgResult exec_params(const std::string& sql, const Values& values);

  PGconn* get() const { return conn_.get(); }

 private:
  PgResult finish(bool sent);
  // Sends the statements held back, with the request just sent when there
  // is one, and reads every answer up to the end of the exchange.
  PgResult finish_pipeline(bool sent);
  bool piped() const { return pending_ > 0; }
  bool may_defer() const;
  void await_answer();
  void pump_if_due();

  PgConnHandle conn_;
  Pump pump_;
  int pending_ = 0;  // statements sent later, their answers not read yet
  std::chrono::steady_clock::time_point next_pump_;
};

}  // namespace kiv::store::server
