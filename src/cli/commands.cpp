#include "cli/commands.h"

namespace kiv::cli {

const std::vector<Command>& commands() {
  static const std::vector<Command> kCommands = {
      {"init", &run_init},       {"check", &run_check}, {"post", &run_post}, {"demo", &run_demo},
      {"compact", &run_compact}, {"runs", &run_runs},   {"undo", &run_undo},
  };
  return kCommands;
}

}  // namespace kiv::cli
