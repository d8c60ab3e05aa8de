#pragma once

#include <libpq-fe.h>

#include <memory>

// Ownership of libpq's handles: a connection is finished and a result cleared
// exactly once, whichever way the code that holds it is left.
namespace kiv::store::server {

struct PgConnFinish {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
using PgConnHandle = std::unique_ptr<PGconn, PgConnFinish>;

struct PgResultClear {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultClear>;

struct PgConninfoFree {
  void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using PgConninfo = std::unique_ptr<PQconninfoOption, PgConninfoFree>;

}  // namespace kiv::store::server
