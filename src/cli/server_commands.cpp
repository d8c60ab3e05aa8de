// The commands that put a suite's database on a server.
#include "cli/server_commands.h"

#include <cstdio>

#include "cli/options.h"
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
std::optional<ServerArgs> parse(const char* command, const char* usage, Args args) {
  const ServerOption server = take_server_option(args);
  const Options options = parse_options(args);
  std::string error = !server.error.empty() ? server.error : options.error;
  if (error.empty() && !server.uri) error = "--server URI is needed";
  if (error.empty() && (!options.positional.empty() || options.json)) error = "takes no file and no --json";
  ServerArgs parsed{server.uri.value_or(""), suite_paths(options)};
  if (error.empty() && parsed.paths.root.empty()) error = "no suite folder (use --root DIR or KIV_ROOT)";
  if (!error.empty()) {
    std::fprintf(stderr, "kiv2700 %s: %s\nusage: %s\n", command, error.c_str(), usage);
    return std::nullopt;
  }
  return parsed;
}

}  // namespace

ServerOption take_server_option(Args& args) {
  ServerOption option;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--server") continue;
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      option.error = "--server needs a connection URI";
      return option;
    }
    option.uri = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return option;
  }
  return option;
}

bool has_server_option(const Args& args) {
  for (const auto& arg : args) {
    if (arg == "--server") return true;
  }
  return false;
}

int run_init_server(const Args& args) {
  const auto parsed = parse("init", "kiv2700 init --server URI [--root DIR]", args);
  if (!parsed) return 2;
  if (auto error = store::init_server_suite(parsed->paths, parsed->uri)) {
    std::fprintf(stderr, "%s\n", standard_error_text(*error).c_str());
    return 2;
  }
  std::printf("%s\n%s\n", parsed->paths.root.c_str(), store::pgconn_path(parsed->paths).c_str());
  return 0;
}

int run_copy_to_server(const Args& args) {
  const auto parsed = parse("copy-to-server", "kiv2700 copy-to-server --server URI [--root DIR]", args);
  if (!parsed) return 2;
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
