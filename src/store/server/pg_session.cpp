#include "store/server/pg_session.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>

#include "store/db_error.h"
#include "store/server/conninfo.h"
#include "store/server/pg_error.h"

namespace kiv::store::server {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPumpEvery = std::chrono::milliseconds(50);
// How long a connection may take when the connection string sets no limit:
// a server that never answers must not hold the window for ever.
constexpr int kDefaultConnectSeconds = 30;

std::string trimmed(const char* text) {
  std::string out = text != nullptr ? text : "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// The server's notices (a table that already exists, and the like) are for
// a person at a terminal, not for the program's standard error.
void discard_notice(void* /*arg*/, const char* /*message*/) {}

int milliseconds_until(Clock::time_point when) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left + 1);
}

int connect_seconds(const std::string& conninfo) {
  const std::optional<std::string> given = conninfo_value(conninfo, "connect_timeout");
  if (!given) return kDefaultConnectSeconds;
  const int seconds = std::atoi(given->c_str());
  return seconds > 0 ? seconds : kDefaultConnectSeconds;
}

struct Attempt {
  PgConnHandle conn;
  std::string failure;  // empty when connected
};

// One attempt to connect, polled so that the pump keeps running. Settings
// before "dbname" are defaults the connection string may override; those
// after it are the program's own.
Attempt connect_once(const std::string& conninfo, const char* password, int seconds, const PgSession::Pump& pump) {
  std::vector<const char*> keys = {"keepalives_idle", "keepalives_interval",       "keepalives_count",
                                   "dbname",          "fallback_application_name", "client_encoding"};
  std::vector<const char*> values = {"30", "10", "3", conninfo.c_str(), "kiv2700", "UTF8"};
  if (password != nullptr) {
    keys.push_back("password");
    values.push_back(password);
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);

  Attempt attempt{PgConnHandle(PQconnectStartParams(keys.data(), values.data(), 1)), {}};
  PGconn* conn = attempt.conn.get();
  if (conn == nullptr) return Attempt{nullptr, "out of memory"};
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  auto next_pump = Clock::now() + kPumpEvery;
  PostgresPollingStatusType state = PQstatus(conn) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK && state != PGRES_POLLING_FAILED) {
    if (Clock::now() >= deadline) {
      attempt.failure = "timeout expired";
      return attempt;
    }
    pollfd watch{PQsocket(conn), static_cast<short>(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
    const int ready = ::poll(&watch, 1, std::min(milliseconds_until(next_pump), milliseconds_until(deadline)));
    if (ready > 0) state = PQconnectPoll(conn);
    if (ready < 0 && errno != EINTR) state = PQconnectPoll(conn);  // it reports the broken socket
    if (Clock::now() >= next_pump) {
      if (pump) pump();
      next_pump = Clock::now() + kPumpEvery;
    }
  }
  if (state == PGRES_POLLING_FAILED) attempt.failure = trimmed(PQerrorMessage(conn));
  return attempt;
}

}  // namespace

PgSession::PgSession(const std::string& conninfo, const std::string& fallback_password, const std::string& shown,
                     Pump pump)
    : pump_(std::move(pump)) {
  const auto cannot_open = [&](const std::string& reason) {
    throw DbError(Error{kErrGeneralFailure, "無法開啟資料庫 " + shown + ": " + reason, true});
  };
  if (auto problem = conninfo_problem(conninfo)) cannot_open(*problem);
  const int seconds = connect_seconds(conninfo);
  Attempt attempt = connect_once(conninfo, nullptr, seconds, pump_);
  // Only when no password was found anywhere: a wrong one is not retried.
  if (!attempt.failure.empty() && attempt.conn && PQconnectionNeedsPassword(attempt.conn.get()) != 0 &&
      !fallback_password.empty()) {
    attempt = connect_once(conninfo, fallback_password.c_str(), seconds, pump_);
  }
  if (!attempt.failure.empty()) cannot_open(attempt.failure);
  conn_ = std::move(attempt.conn);
  PQsetNoticeProcessor(conn_.get(), &discard_notice, nullptr);
  try {
    // Dates travel as YYYY-MM-DD; the busy wait is the file store's.
    exec("SET DateStyle = ISO; SET lock_timeout = 5000");
  } catch (const DbError& e) {
    cannot_open(e.error().description);
  }
}

void PgSession::pump_if_due() {
  if (Clock::now() < next_pump_) return;
  if (pump_) pump_();
  next_pump_ = Clock::now() + kPumpEvery;
}

// Waits until a whole answer has arrived or the connection broke. The
// socket is read only when it has something: a request's answer cannot be
// there the moment it was sent.
void PgSession::await_answer() {
  PGconn* conn = conn_.get();
  while (PQisBusy(conn) != 0) {
    pollfd watch{PQsocket(conn), POLLIN, 0};
    if (watch.fd < 0) return;
    const int ready = ::poll(&watch, 1, milliseconds_until(next_pump_));
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0 && PQconsumeInput(conn) == 0) return;  // PQgetResult tells why
    pump_if_due();
  }
}

namespace {

// A request that could not even be sent: the connection is gone, or libpq
// refused it.
[[noreturn]] void throw_not_sent(PGconn* conn) {
  const std::string message = trimmed(PQerrorMessage(conn));
  if (PQstatus(conn) == CONNECTION_BAD) throw DbError(connection_error(message));
  throw DbError(Error{1, message, true});
}

// The failure a result reports, by its SQLSTATE.
Error error_of(PGconn* conn, const PGresult* result) {
  const char* sqlstate = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
  const std::string message = trimmed(primary != nullptr ? primary : PQresultErrorMessage(result));
  return PQstatus(conn) == CONNECTION_BAD ? connection_error(message)
                                          : server_error(sqlstate != nullptr ? sqlstate : "", message);
}

}  // namespace

PgResult PgSession::finish(bool sent) {
  PGconn* conn = conn_.get();
  if (!sent) throw_not_sent(conn);
  next_pump_ = Clock::now() + kPumpEvery;
  PgResult last;
  std::optional<Error> failure;
  for (;;) {
    await_answer();
    PgResult result(PQgetResult(conn));
    if (!result) break;
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE) {
      if (!failure) failure = error_of(conn, result.get());
    } else {
      last = std::move(result);
    }
  }
  if (failure) throw DbError(*failure);
  if (PQstatus(conn) == CONNECTION_BAD) throw DbError(connection_error(trimmed(PQerrorMessage(conn))));
  return last;
}

namespace {

std::vector<const char*> pointers(const PgSession::Values& values) {
  std::vector<const char*> out;
  out.reserve(values.size());
  for (const auto& v : values) out.push_back(v ? v->c_str() : nullptr);
  return out;
}

}  // namespace

PgResult PgSession::finish_pipeline(bool sent) {
  PGconn* conn = conn_.get();
  sent = sent && PQpipelineSync(conn) == 1;
  pending_ = 0;
  if (!sent) throw_not_sent(conn);
  next_pump_ = Clock::now() + kPumpEvery;
  PgResult last;
  std::optional<Error> failure;
  // Each statement's answer ends with a null; the exchange ends with the
  // sync. After a failure the server skips the rest up to the sync.
  for (;;) {
    await_answer();
    PgResult result(PQgetResult(conn));
    if (!result) {
      if (PQstatus(conn) == CONNECTION_BAD) break;
      continue;
    }
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_PIPELINE_SYNC) break;
    if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE) {
      if (!failure) failure = error_of(conn, result.get());
    } else if (status != PGRES_PIPELINE_ABORTED) {
      last = std::move(result);
    }
  }
  if (PQstatus(conn) == CONNECTION_BAD) {
    throw DbError(failure ? *failure : connection_error(trimmed(PQerrorMessage(conn))));
  }
  PQexitPipelineMode(conn);
  if (failure) throw DbError(*failure);
  return last;
}

bool PgSession::may_defer() const {
  return piped() || PQtransactionStatus(conn_.get()) == PQTRANS_INTRANS;
}

void PgSession::send_later(const std::string& sql) {
  PGconn* conn = conn_.get();
  if (!may_defer() || (!piped() && PQenterPipelineMode(conn) != 1)) {
    exec(sql);
    return;
  }
  if (PQsendQueryParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) != 1) {
    finish_pipeline(false);
  }
  ++pending_;
}

void PgSession::send_prepared_later(const std::string& name, const Values& values) {
  PGconn* conn = conn_.get();
  if (!may_defer() || (!piped() && PQenterPipelineMode(conn) != 1)) {
    exec_prepared(name, values);
    return;
  }
  const std::vector<const char*> params = pointers(values);
  if (PQsendQueryPrepared(conn, name.c_str(), static_cast<int>(params.size()), params.data(), nullptr, nullptr, 0) !=
      1) {
    finish_pipeline(false);
  }
  ++pending_;
}

PgResult PgSession::exec(const std::string& sql) {
  if (piped()) {
    // One statement goes along with those held back; several need the simple
    // protocol, which a pipeline does not carry.
    if (sql.find(';') == std::string::npos) {
      return finish_pipeline(PQsendQueryParams(conn_.get(), sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) ==
                             1);
    }
    finish_pipeline(true);
  }
  return finish(PQsendQuery(conn_.get(), sql.c_str()) != 0);
}

void PgSession::prepare(const std::string& name, const std::string& sql, int parameters) {
  const bool sent = PQsendPrepare(conn_.get(), name.c_str(), sql.c_str(), parameters, nullptr) != 0;
  piped() ? finish_pipeline(sent) : finish(sent);
}

PgResult PgSession::exec_prepared(const std::string& name, const Values& values) {
  const std::vector<const char*> params = pointers(values);
  const bool sent = PQsendQueryPrepared(conn_.get(), name.c_str(), static_cast<int>(params.size()), params.data(),
                                        nullptr, nullptr, 0) != 0;
  return piped() ? finish_pipeline(sent) : finish(sent);
}

PgResult PgSession::exec_params(const std::string& sql, const Values& values) {
  const std::vector<const char*> params = pointers(values);
  const bool sent = PQsendQueryParams(conn_.get(), sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(),
                                      nullptr, nullptr, 0) != 0;
  return piped() ? finish_pipeline(sent) : finish(sent);
}

}  // namespace kiv::store::server
