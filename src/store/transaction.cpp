#include "store/transaction.h"

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
  connection_.execute("COMMIT");
  active_ = false;
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
