#include "store/transaction.h"

#include <sqlite3.h>

#include "store/db_error.h"

namespace kiv::store {

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.execute("BEGIN IMMEDIATE");
  active_ = true;
}

Transaction::~Transaction() {
  if (active_) {
    try {
      connection_.execute("ROLLBACK");
    } catch (const DbError&) {
      // SQLite has already rolled back when a statement failed with an I/O error.
    }
  }
}

void Transaction::commit() {
  try {
    connection_.execute("COMMIT");
  } catch (const DbError& e) {
    // The file lock is let go only once the commit is whole on disk: when
    // that last step fails, the transaction is committed all the same.
    if (e.error().number == SQLITE_IOERR_UNLOCK) {
      active_ = false;
      committed_ = true;
    }
    throw;
  }
  active_ = false;
  committed_ = true;
}

void Transaction::rollback() {
  active_ = false;
  connection_.execute("ROLLBACK");
}

Savepoint::Savepoint(Connection& connection, std::string name) : connection_(connection), name_(std::move(name)) {
  connection_.execute("SAVEPOINT " + name_);
  active_ = true;
}

Savepoint::~Savepoint() {
  if (active_) {
    try {
      rollback();
    } catch (const DbError&) {
    }
  }
}

void Savepoint::release() {
  connection_.execute("RELEASE " + name_);
  active_ = false;
}

void Savepoint::rollback() {
  active_ = false;
  connection_.execute("ROLLBACK TO " + name_);
  connection_.execute("RELEASE " + name_);
}

}  // namespace kiv::store
