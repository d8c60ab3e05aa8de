#pragma once

#include <optional>
#include <string>

#include "store/connection.h"
#include "store/transaction.h"
#include "temp_suite.h"

// What another workstation or program does to a suite's database, for tests
// of waiting and of running side by side; the same on both stores.
namespace kiv::testing {

// Another connection's writing transaction, held until released: on the
// file store the file's write lock, on the server the suite's writer lock.
class HeldWriteLock {
 public:
  explicit HeldWriteLock(const TempSuite& suite);
  // Writing makes sure the lock is taken, and on the server row locks held too.
  void write(const std::string& sql);
  void release();

 private:
  std::optional<store::Connection> db_;
  std::optional<store::Transaction> tx_;
};

// True when a writing transaction on the suite's database can start at once.
bool write_lock_free(const TempSuite& suite);

}  // namespace kiv::testing
