#pragma once

#include <optional>
#include <string>

#include "cli/commands.h"

namespace kiv::cli {

// "--server URI" taken out of the arguments.
struct ServerOption {
  std::optional<std::string> uri;
  std::string error;  // set when --server has no URI
};
ServerOption take_server_option(Args& args);

bool has_server_option(const Args& args);

// kiv2700 init --server URI [--root DIR]
int run_init_server(const Args& args);
// kiv2700 copy-to-server --server URI [--root DIR]
int run_copy_to_server(const Args& args);

}  // namespace kiv::cli
