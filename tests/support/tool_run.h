#pragma once

#include <sys/resource.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kiv::testing {

struct ToolOptions {
  std::optional<std::chrono::microseconds> kill_after;  // SIGKILL after this long
  std::optional<rlim_t> file_size_limit;                // RLIMIT_FSIZE, SIGXFSZ ignored
  bool watch_memory = false;                            // sample the peak resident set
};

struct ToolRun {
  int status = -1;  // exit status, -1 when killed by a signal
  bool killed = false;
  std::string out, err;
  double seconds = 0;
  long peak_kib = 0;
};

// Runs the built kiv2700 with `args` (environment inherited), catching its
// standard output and error in files under `scratch_dir`.
ToolRun run_tool(const std::string& scratch_dir, const std::vector<std::string>& args, const ToolOptions& options = {});

std::string slurp(const std::string& path);

// The value of `key` in the tool's one-line JSON: a string's text up to the next
// quote (the values read carry none), an array or a number as written.
std::string json_field(const std::string& json, const std::string& key);

}  // namespace kiv::testing
