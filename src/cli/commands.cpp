#include "cli/commands.h"

#include "cli/server_commands.h"

namespace kiv::cli {

const std::vector<Command>& commands() {
  static const std::vector<Command> kCommands = {
      {"init", &run_init}, {"check", &run_check},     {"post", &run_post},
      {"demo", &run_demo}, {"compact", &run_compact}, {"copy-to-server", &run_copy_to_server},
  };
  return kCommands;
}

}  // namespace kiv::cli
