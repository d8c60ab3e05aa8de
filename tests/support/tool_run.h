#pragma once

#include <sys/resource.h>

#include <optional>
#include <string>
#include <vector>

namespace kiv::testing {

struct ToolRun {  // the exit status (-1 when killed by a signal), standard output and error
  int status = -1;
  std::string out, err;
};

// Runs the built kiv2700 with `args` (environment inherited), catching its
// standard output and error in files under `scratch_dir`; with a limit, files
// it writes cannot grow beyond that many bytes (RLIMIT_FSIZE).
ToolRun run_tool(const std::string& scratch_dir, const std::vector<std::string>& args,
                 std::optional<rlim_t> file_size_limit = std::nullopt);

// Runs `program` (a copy of the tool, or a link to one) with KIV_ROOT taken
// out of the environment, so that it finds its suite folder by itself.
ToolRun run_program_without_root(const std::string& program, const std::string& scratch_dir,
                                 const std::vector<std::string>& args);

// Starts one kiv2700 per argument list at the same moment and waits for all
// of them; each catches its output in scratch_dir/N/.
std::vector<ToolRun> run_tools_together(const std::string& scratch_dir,
                                        const std::vector<std::vector<std::string>>& args);

std::string slurp(const std::string& path);

// The value of `key` in the tool's one-line JSON: a string's text up to the next
// quote (the values read carry none), a flat array or object, or a number as written.
std::string json_field(const std::string& json, const std::string& key);

}  // namespace kiv::testing
