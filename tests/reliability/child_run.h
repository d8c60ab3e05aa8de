#pragma once

#include <sys/resource.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kiv::testing {

// The built kiv2700 run as a child process under conditions a test sets:
// killed at a given moment, or with a limit on the size of files it writes.
struct ChildSetup {
  std::vector<std::string> args;                        // after the program name
  std::string scratch_dir;                              // where its output is caught
  std::optional<std::chrono::microseconds> kill_after;  // SIGKILL this long after the start
  std::optional<rlim_t> file_size_limit;                // RLIMIT_FSIZE, with SIGXFSZ ignored
  bool watch_memory = false;                            // sample the peak resident set while it runs
};

struct ChildEnd {
  bool killed = false;  // ended by our SIGKILL
  int status = -1;      // exit status when it exited
  std::string out, err;
  std::chrono::duration<double> elapsed{};
  long peak_rss_kib = 0;  // high-water mark of its resident set, when watched
};

ChildEnd run_child(const ChildSetup& setup);

}  // namespace kiv::testing
