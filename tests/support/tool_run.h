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

// Runs `program` (a copy of the tool, or a link to one) with KIV_ROOT taken
// out of the environment, so that it finds its suite folder by itself.
ToolRun run_program_without_root(const std::string& program, const std::string& scratch_dir,
                                 const std::vector<std::string>& args);

std::string slurp(const std::string& path);

}  // namespace kiv::testing
