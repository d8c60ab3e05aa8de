#include <cstdio>

#include "cli/commands.h"
#include "cli/server_commands.h"
#include "cli/shared_folder.h"
#include "store/schema.h"

namespace kiv::cli {

int run_init(const Options& options) {
  if (options.has("--server")) return run_init_server(options);
  if (!options.positional.empty()) return usage_error(*find_command("init"), "no FILE is taken");
  const SuitePaths paths = suite_paths(options);
  if (paths.root.empty()) {
    std::fputs("kiv2700 init: no suite folder (use --root DIR or KIV_ROOT)\n", stderr);
    return 2;
  }
  auto error = store::init_suite(paths);
  if (!error) error = share_with_folder_group(paths.db_path());
  if (error) {
    std::fprintf(stderr, "%s\n", standard_error_text(*error).c_str());
    return 2;
  }
  std::printf("%s\n", paths.root.c_str());
  return 0;
}

}  // namespace kiv::cli
