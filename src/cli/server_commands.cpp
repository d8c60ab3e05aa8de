// The commands that put a suite's database on a server.
#include "cli/server_commands.h"

#include <cstdio>

#include "core/money.h"
#include "store/server_setup.h"
#include "store/store_choice.h"

namespace kiv::cli {

namespace {

struct ServerArgs {
  std::string uri;
  SuitePaths paths;
};

// The URI and the suite folder, or a usage message and nothing.
std::optional<ServerArgs> parse(const Command& command, const Options& options, int& status) {
  const auto uri = options.values.find("--server");
  std::string problem;
  if (uri == options.values.end() || uri->second.empty()) problem = "--server URI is needed";
  if (problem.empty() && !options.positional.empty()) problem = "no FILE is taken";
  if (!problem.empty()) {
    status = usage_error(command, problem);
    return std::nullopt;
  }
  ServerArgs parsed{uri->second, suite_paths(options)};
  if (parsed.paths.root.empty()) {
    std::fprintf(stderr, "kiv2700 %s: no suite folder (use --root DIR or KIV_ROOT)\n",
                 std::string(command.name).c_str());
    status = 2;
    return std::nullopt;
  }
  return parsed;
}

}  // namespace

int run_init_server(const Options& options) {
  int status = 2;
  const auto parsed = parse(*find_command("init"), options, status);
  if (!parsed) return status;
  if (auto error = store::init_server_suite(parsed->paths, parsed->uri)) {
    std::fprintf(stderr, "%s\n", standard_error_text(*error).c_str());
    return 2;
  }
  std::printf("%s\n%s\n", parsed->paths.root.c_str(), store::pgconn_path(parsed->paths).c_str());
  return 0;
}

int run_copy_to_server(const Options& options) {
  int status = 2;
  const auto parsed = parse(*find_command("copy-to-server"), options, status);
  if (!parsed) return status;
  std::vector<store::CopiedTable> copied;
  if (auto error = store::copy_to_server(parsed->paths, parsed->uri, copied)) {
    std::fprintf(stderr, "%s\n", standard_error_text(*error).c_str());
    return 2;
  }
  for (const auto& table : copied) {
    std::printf("%-14s %10lld rows  numbers %s\n", table.name.c_str(), static_cast<long long>(table.rows),
                amount_text(table.numbers).c_str());
  }
  std::printf("%s\n", store::pgconn_path(parsed->paths).c_str());
  return 0;
}

}  // namespace kiv::cli
