#pragma once

#include <string>
#include <vector>

namespace kiv::cli {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  int (*run)(const Args& args);
};

// Each command file adds itself here (commands.cpp).
const std::vector<Command>& commands();

int run_init(const Args& args);
int run_check(const Args& args);
int run_post(const Args& args);
int run_demo(const Args& args);
int run_compact(const Args& args);
int run_runs(const Args& args);
int run_undo(const Args& args);

}  // namespace kiv::cli
