#include "workstations.h"

#include "store/db_error.h"

namespace kiv::testing {

HeldWriteLock::HeldWriteLock(const TempSuite& suite) {
  db_.emplace(suite.open());
  tx_.emplace(*db_);
}

void HeldWriteLock::write(const std::string& sql) {
  db_->execute(sql);
}

void HeldWriteLock::release() {
  tx_.reset();
  db_.reset();
}

bool write_lock_free(const TempSuite& suite) {
  try {
    auto db = suite.open();
    db.set_busy_timeout_ms(0);
    store::Transaction tx(db);
    tx.commit();
    return true;
  } catch (const store::DbError&) {
    return false;
  }
}

}  // namespace kiv::testing
