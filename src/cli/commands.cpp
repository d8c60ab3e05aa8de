#include "cli/commands.h"

#include "cli/server_commands.h"

namespace kiv::cli {

namespace {

constexpr OptionSpec kRoot{"--root", "DIR",
                           "the suite folder; else KIV_ROOT, else the folder above the program's exe/"};
constexpr OptionSpec kJson{"--json", "", "one JSON object on standard output instead of text"};
constexpr OptionSpec kServer{"--server", "URI", "the PostgreSQL server (a libpq connection string or URI)"};

}  // namespace

const std::vector<Command>& commands() {
  static const std::vector<Command> kCommands = {
      {"init",
       "",
       "makes a new suite folder with an empty database, in a file or with --server on a PostgreSQL "
       "server; never touches an existing one",
       {kRoot, kServer},
       &run_init},
      {"demo",
       "",
       "makes a new suite folder with a demo school and a collection file, medi/post1003.dat, to post",
       {kRoot,
        {"--students", "N", "about N students, one line each (default 300)"},
        {"--every-case", "", "a file whose lines reach every outcome of a run instead of an ordinary day's file"},
        kServer},
       &run_demo},
      {"check",
       "FILE",
       "checks a collection file against its control totals; never opens a database",
       {kJson},
       &run_check},
      {"post",
       "FILE",
       "posts a collection file to the school's database and logs the lines it cannot post",
       {kRoot,
        kJson,
        {"--again", "", "posts a file that a completed run posted before, instead of refusing it"},
        {"--dry-run", "", "does the whole run and reports it, but changes nothing and writes no log"},
        {"--lines", "", "also prints each detail line's outcome"}},
       &run_post},
      {"compact", "", "compacts the school's database (nothing to do on a server)", {kRoot}, &run_compact},
      {"copy-to-server",
       "",
       "copies the school's database file onto an empty PostgreSQL server schema and makes the suite use it",
       {kRoot, kServer},
       &run_copy_to_server},
      {"runs",
       "[show RUN]",
       "lists the import runs the journal recorded, newest first, or shows one run",
       {kRoot, kJson, {"--lines", "", "with show: also each detail line's outcome"}},
       &run_runs},
      {"undo",
       "RUN",
       "takes an import run back, unless a row it changed has been changed again since",
       {kRoot, kJson},
       &run_undo},
      {"help", "[COMMAND]", "shows how to use a command", {}, &run_help},
  };
  return kCommands;
}

const Command* find_command(std::string_view name) {
  for (const Command& command : commands()) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

}  // namespace kiv::cli
