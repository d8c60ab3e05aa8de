#pragma once

#include <sys/types.h>

#include <string>

namespace kiv::testing {

// Another program holding the suite database: a separate process (this test
// program run again, see lock_holder.cpp) that takes a lock on the file and
// keeps it until told to let go.
class LockHolder {
 public:
  enum class Kind {
    write,  // BEGIN IMMEDIATE: no other writer may start
    read,   // an open read transaction: no writer may commit
  };
  // Returns once the lock is held.
  LockHolder(const std::string& db_path, Kind kind);
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  ~LockHolder();

  // Lets go and waits for the process to end.
  void release();
  bool holding() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int tell_fd_ = -1;
};

}  // namespace kiv::testing
