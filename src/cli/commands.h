#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"

namespace kiv::cli {

// One option a command takes. `argument` names its value ("DIR"), or is
// empty for a flag.
struct OptionSpec {
  std::string_view name;
  std::string_view argument;
  std::string_view description;
};

// A command of the tool. Its synopsis, its help and the options its
// parser accepts all come from this one entry, so they cannot disagree; the
// manual page is checked against the same table by a test.
struct Command {
  std::string_view name;
  std::string_view operands;  // after the options in the synopsis: "FILE", or empty
  std::string_view summary;   // one line
  std::vector<OptionSpec> options;
  int (*run)(const Options& options);
};

// Every command, in the order the usage lists them.
const std::vector<Command>& commands();
const Command* find_command(std::string_view name);

// "kiv2700 post [--root DIR] [--json] FILE".
std::string synopsis(const Command& command);
// The synopsis of every command: what a wrong command line gets on standard error.
std::string usage_text();
// `kiv2700 --help`: the usage, each command's summary, where to read on.
std::string overview_text();
// `kiv2700 help COMMAND`, `kiv2700 COMMAND --help`.
std::string help_text(const Command& command);

// Reads `args` against the options `command` declares; --help and -h are
// taken by every command.
Options parse_options(const std::vector<std::string>& args, const Command& command);

// Help that was asked for, on standard output: 0, or 2 when it could not be
// written (a closed pipe, a full disk), which must not look like success.
int print_help(const std::string& text);

// A command line the command cannot use: the problem and the command's
// synopsis on standard error. Returns the exit status, 2.
int usage_error(const Command& command, const std::string& problem);

int run_init(const Options& options);
int run_demo(const Options& options);
int run_check(const Options& options);
int run_post(const Options& options);
int run_compact(const Options& options);
int run_help(const Options& options);
int run_runs(const Options& options);
int run_undo(const Options& options);

}  // namespace kiv::cli
