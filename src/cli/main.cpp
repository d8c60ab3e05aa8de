// kiv2700: the headless tool. Each command lives in a file of its own.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

int usage() {
  std::fputs(
      "usage: kiv2700 init [--root DIR]\n"
      "       kiv2700 demo [--root DIR]\n"
      "       kiv2700 check [--json] FILE\n"
      "       kiv2700 post [--root DIR] [--json] [--again] [--dry-run] [--lines] FILE\n"
      "       kiv2700 compact [--root DIR]\n"
      "       kiv2700 runs [--root DIR] [--json]\n"
      "       kiv2700 runs show RUN [--root DIR] [--json] [--lines]\n"
      "       kiv2700 undo RUN [--root DIR] [--json]\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& entry : kiv::cli::commands()) {
    if (command == entry.name) return entry.run(args);
  }
  return usage();
}
