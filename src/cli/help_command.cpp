#include <cstdio>

#include "cli/commands.h"

namespace kiv::cli {

// kiv2700 help [COMMAND]: the overview, or one command's help.
int run_help(const Options& options) {
  if (options.positional.size() > 1) return usage_error(*find_command("help"), "one COMMAND at most");
  const Command* command = nullptr;
  if (!options.positional.empty()) {
    command = find_command(options.positional.front());
    if (command == nullptr) {
      std::fprintf(stderr, "kiv2700 help: unknown command %s\n%s", options.positional.front().c_str(),
                   usage_text().c_str());
      return 2;
    }
  }
  return print_help(command != nullptr ? help_text(*command) : overview_text());
}

}  // namespace kiv::cli
