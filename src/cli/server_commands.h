#pragma once

#include "cli/commands.h"

namespace kiv::cli {

// kiv2700 init --server URI [--root DIR]
int run_init_server(const Options& options);
// kiv2700 copy-to-server --server URI [--root DIR]
int run_copy_to_server(const Options& options);

}  // namespace kiv::cli
