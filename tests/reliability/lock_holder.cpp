#include "lock_holder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "store/connection.h"
#include "temp_suite.h"

extern char** environ;

namespace kiv::testing {

namespace {

constexpr int kHeldFd = 3;  // the holder writes one byte here once it holds the lock
constexpr int kTellFd = 4;  // and lets go when a byte arrives here or it closes
constexpr const char* kDbVariable = "KIV_LOCK_HOLDER_DB";
constexpr const char* kKindVariable = "KIV_LOCK_HOLDER_KIND";

}  // namespace

// The holder's side: this test program started again with only this test
// selected. Skipped (and disabled) in an ordinary run.
TEST(DISABLED_LockHolderProcess, HoldsTheDatabaseUntilTold) {
  const char* db_path = std::getenv(kDbVariable);
  const char* kind = std::getenv(kKindVariable);
  if (db_path == nullptr || kind == nullptr) GTEST_SKIP() << "started by LockHolder only";
  auto db = store::Connection::open(db_path);
  if (std::string(kind) == "write") {
    db.execute("BEGIN IMMEDIATE");
  } else {
    db.execute("BEGIN");
    query_int(db, "SELECT count(*) FROM KIV8_Payment");  // takes the shared lock
  }
  ASSERT_EQ(write(kHeldFd, "L", 1), 1);
  char byte = 0;
  (void)read(kTellFd, &byte, 1);
  db.execute("ROLLBACK");
}

LockHolder::LockHolder(const std::string& db_path, Kind kind) {
  int held[2], tell[2];
  if (pipe2(held, O_CLOEXEC) != 0 || pipe2(tell, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::vector<std::string> args = {self, "--gtest_filter=DISABLED_LockHolderProcess.*",
                                   "--gtest_also_run_disabled_tests"};
  std::vector<std::string> env = {std::string(kDbVariable) + "=" + db_path,
                                  std::string(kKindVariable) + "=" + (kind == Kind::write ? "write" : "read")};
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, held[1], kHeldFd);
  posix_spawn_file_actions_adddup2(&actions, tell[0], kTellFd);
  const int spawned = posix_spawn(&pid_, self.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(held[1]);
  close(tell[0]);
  tell_fd_ = tell[1];
  char byte = 0;
  const bool locked = spawned == 0 && read(held[0], &byte, 1) == 1;
  close(held[0]);
  if (!locked) {
    release();
    throw std::runtime_error("the lock holder did not take its lock");
  }
}

LockHolder::~LockHolder() {
  release();
}

void LockHolder::release() {
  if (tell_fd_ >= 0) {
    (void)write(tell_fd_, "U", 1);
    close(tell_fd_);
    tell_fd_ = -1;
  }
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
}

}  // namespace kiv::testing
