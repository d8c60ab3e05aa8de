#include <cstdio>
#include <cstdlib>

#include "cli/commands.h"
#include "cli/demo_school.h"
#include "cli/options.h"
#include "cli/server_commands.h"
#include "store/schema.h"
#include "store/server_setup.h"

namespace kiv::cli {

// kiv2700 demo [--root DIR] [--students N] [--server URI]: a new suite folder
// with a demo school and a matching collection file in its work folder; the
// school's database on the server when one is named.
int run_demo(const Args& args) {
  Args rest;
  std::int64_t students = 300;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--students" && i + 1 < args.size()) {
      students = std::strtoll(args[++i].c_str(), nullptr, 10);
    } else {
      rest.push_back(args[i]);
    }
  }
  const ServerOption server = take_server_option(rest);
  const Options options = parse_options(rest);
  if (!server.error.empty() || !options.error.empty() || !options.positional.empty() || students < 1) {
    std::fputs("usage: kiv2700 demo [--root DIR] [--students N] [--server URI]\n", stderr);
    return 2;
  }
  const SuitePaths paths = suite_paths(options);
  if (auto error = server.uri ? store::init_server_suite(paths, *server.uri) : store::init_suite(paths)) {
    std::fprintf(stderr, "%s\n", standard_error_text(*error).c_str());
    return 2;
  }
  DemoFigures figures;
  if (auto error = make_demo_school(paths, students, figures)) {
    std::fprintf(stderr, "%s\n", standard_error_text(*error).c_str());
    return 2;
  }
  std::printf("%s\n%s (%lld lines)\n", paths.root.c_str(), paths.staging_file().c_str(),
              static_cast<long long>(figures.lines));
  return 0;
}

}  // namespace kiv::cli
