#pragma once

#include <string>
#include <vector>

namespace kiv::testing {

struct ToolRun {
  int status = -1;  // exit status, -1 when killed by a signal
  std::string out, err;
};

// Runs the built kiv2700 with `args` (environment inherited), catching its
// standard output and error in files under `scratch_dir`.
ToolRun run_tool(const std::string& scratch_dir, const std::vector<std::string>& args);

// Starts one kiv2700 per argument list at the same moment and waits for all
// of them; each catches its output in scratch_dir/N/.
std::vector<ToolRun> run_tools_together(const std::string& scratch_dir,
                                        const std::vector<std::vector<std::string>>& args);

std::string slurp(const std::string& path);

}  // namespace kiv::testing
