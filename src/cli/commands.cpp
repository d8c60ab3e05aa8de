#include "cli/commands.h"

namespace kiv::cli {

const std::vector<Command>& commands() {
  static const std::vector<Command> kCommands = {
      {"init", &run_init},
  };
  return kCommands;
}

}  // namespace kiv::cli
