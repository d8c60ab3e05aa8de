#include <cstdio>

#include "cli/commands.h"
#include "cli/demo_school.h"
#include "cli/shared_folder.h"
#include "store/schema.h"
#include "store/server_setup.h"

namespace kiv::cli {

namespace {

// Student numbers stay unique up to here (see demo_school.cpp).
constexpr long long kMaxStudents = 10'000'000;

}  // namespace

// A new suite folder with a demo school and a matching collection file in
// its work folder.
int run_demo(const Options& options) {
  const Command& command = *find_command("demo");
  if (!options.positional.empty()) return usage_error(command, "no FILE is taken");
  long long students = 300;
  if (const auto value = options.values.find("--students"); value != options.values.end()) {
    const auto number = positive_number(value->second, kMaxStudents);
    if (!number) return usage_error(command, "--students needs a whole number from 1 to 10000000");
    students = *number;
  }
  const SuitePaths paths = suite_paths(options);
  if (paths.root.empty()) {
    std::fputs("kiv2700 demo: no suite folder (use --root DIR or KIV_ROOT)\n", stderr);
    return 2;
  }
  // The school goes on the server when one is named.
  const auto server = options.values.find("--server");
  auto error =
      server != options.values.end() ? store::init_server_suite(paths, server->second) : store::init_suite(paths);
  if (!error && server == options.values.end()) error = share_with_folder_group(paths.db_path());
  DemoFigures figures;
  const DemoDay day = options.has("--every-case") ? DemoDay::every_case : DemoDay::ordinary;
  if (!error) error = make_demo_school(paths, students, day, figures);
  if (error) {
    std::fprintf(stderr, "%s\n", standard_error_text(*error).c_str());
    return 2;
  }
  std::printf("%s\n%s (%lld lines)\n", paths.root.c_str(), paths.staging_file().c_str(),
              static_cast<long long>(figures.lines));
  return 0;
}

}  // namespace kiv::cli
