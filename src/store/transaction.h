#pragma once

#include <string>

#include "store/connection.h"

namespace kiv::store {

// A writing transaction; rolled back by the destructor unless committed.
// It waits for any other writer at its start, where the busy wait can wait,
// and never halfway through a line.
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();

  void commit();
  void rollback();
  bool active() const { return active_; }
  // Whether the transaction is on disk: commit() returned, or threw only
  // after the commit was whole.
  bool committed() const { return committed_; }
  // Whether the store still holds it open: after some I/O errors SQLite has
  // rolled it back on its own, and what is written then would commit alone.
  bool still_open() const;

 private:
  Connection& connection_;
  bool active_ = false;
  bool committed_ = false;
};

// A savepoint inside an open transaction: one detail line. Rolled back (and
// released) by the destructor unless released.
class Savepoint {
 public:
  Savepoint(Connection& connection, std::string name);
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
  ~Savepoint();

  void release();
  void rollback();

 private:
  Connection& connection_;
  std::string name_;
  std::string begin_, release_, rollback_;
  bool active_ = false;
};

}  // namespace kiv::store
