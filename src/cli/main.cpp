// kiv2700: the headless tool. Each command lives in a file of its own; the
// command table (commands.cpp) says what each one takes.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

int usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "kiv2700: %s\n", problem.c_str());
  std::fputs(kiv::cli::usage_text().c_str(), stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kiv::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage("");
  const std::string& first = args.front();
  if (first == "--help" || first == "-h") return print_help(overview_text());
  if (first == "--version") return print_help("kiv2700 " KIV_VERSION "\n");
  const Command* command = find_command(first);
  if (command == nullptr) return usage((first.starts_with("-") ? "unknown option " : "unknown command ") + first);

  const Options options = parse_options({args.begin() + 1, args.end()}, *command);
  if (options.help) return print_help(help_text(*command));
  if (!options.error.empty()) return usage_error(*command, options.error);
  return command->run(options);
}
