#include "store/transaction.h"

#include "store/backend.h"
#include "store/db_error.h"

namespace kiv::store {

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.backend().begin_write();
  active_ = true;
}

Transaction::~Transaction() {
  if (active_) {
    try {
      connection_.backend().rollback();
    } catch (const DbError&) {
      // A store that failed mid-statement may have rolled back already.
    }
  }
}

void Transaction::commit() {
  try {
    connection_.backend().commit();
  } catch (const DbError& e) {
    if (connection_.backend().committed_despite(e.error())) {
      active_ = false;
      committed_ = true;
    }
    throw;
  }
  active_ = false;
  committed_ = true;
}

bool Transaction::still_open() const {
  return active_ && connection_.backend().in_transaction();
}

void Transaction::rollback() {
  active_ = false;
  connection_.backend().rollback();
}

// A line's savepoint commands travel with the line's statements: only a lost
// connection can make them fail, and the next statement reports that. They
// are the same text on every store and need no rendering.
Savepoint::Savepoint(Connection& connection, std::string name)
    : connection_(connection),
      name_(std::move(name)),
      // Built by appending: GCC 12 warns falsely (-Wrestrict) on "..." + string.
      begin_(std::string("SAVEPOINT ").append(name_)),
      release_(std::string("RELEASE ").append(name_)),
      rollback_(std::string("ROLLBACK TO ").append(name_)) {
  connection_.backend().execute_later(begin_);
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
  connection_.backend().execute_later(release_);
  active_ = false;
}

void Savepoint::rollback() {
  active_ = false;
  connection_.backend().execute_later(rollback_);
  connection_.backend().execute_later(release_);
}

}  // namespace kiv::store
