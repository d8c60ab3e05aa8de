#include <cstdio>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/server_commands.h"
#include "store/schema.h"

namespace kiv::cli {

int run_init(const Args& args) {
  if (has_server_option(args)) return run_init_server(args);
  const Options options = parse_options(args);
  if (!options.error.empty() || !options.positional.empty()) {
    std::fprintf(stderr, "kiv2700 init: %s\n", options.error.empty() ? "no file is taken" : options.error.c_str());
    return 2;
  }
  const SuitePaths paths = suite_paths(options);
  if (paths.root.empty()) {
    std::fputs("kiv2700 init: no suite folder (use --root DIR or KIV_ROOT)\n", stderr);
    return 2;
  }
  if (auto error = store::init_suite(paths)) {
    std::fprintf(stderr, "%s\n", standard_error_text(*error).c_str());
    return 2;
  }
  std::printf("%s\n", paths.root.c_str());
  return 0;
}

}  // namespace kiv::cli
