#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

using cli::Command;
using cli::commands;

std::string option_text(const cli::OptionSpec& option) {
  return std::string(option.name) + (option.argument.empty() ? "" : " " + std::string(option.argument));
}

TEST(Help, GoesToStandardOutputWithStatusZeroAndAWrongCommandLineToStandardErrorWithTwo) {
  TempSuite scratch(false);
  const std::string overview = run_tool(scratch.root(), {"--help"}).out;
  const std::string post_help = "usage: kiv2700 post [--root DIR] [--json] [--again] [--dry-run] [--lines] FILE\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out_starts, err_starts;
  } rows[] = {
      {{"--help"}, 0, "usage: kiv2700 init [--root DIR] [--server URI]\n       kiv2700 demo", ""},
      {{"-h"}, 0, overview, ""},
      {{"help"}, 0, overview, ""},
      {{"help", "post"}, 0, post_help, ""},
      {{"post", "--bogus", "-h"}, 0, post_help, ""},
      {{"demo", "-h"}, 0, "usage: kiv2700 demo [--root DIR] [--students N] [--every-case] [--server URI]\n", ""},
      {{"--version"}, 0, "kiv2700 " KIV_VERSION "\n", ""},
      {{}, 2, "", "usage: kiv2700 init [--root DIR] [--server URI]\n"},
      {{"frobnicate"}, 2, "", "kiv2700: unknown command frobnicate\nusage: kiv2700 init"},
      {{"--frobnicate"}, 2, "", "kiv2700: unknown option --frobnicate\nusage: kiv2700 init"},
      {{"post", "--bogus", "f"}, 2, "", "kiv2700 post: unknown option --bogus\n" + post_help},
      {{"post", "--root"}, 2, "", "kiv2700 post: --root needs DIR\n"},
      {{"post", "--json=yes", "f"}, 2, "", "kiv2700 post: --json takes no value\n"},
      {{"post", "f", "g"}, 2, "", "kiv2700 post: one collection file is needed\n"},
      {{"check", "--root", "x", "f"}, 2, "", "kiv2700 check: unknown option --root\n"},
      {{"compact", "--json"}, 2, "", "kiv2700 compact: unknown option --json\n"},
      {{"init", "f"}, 2, "", "kiv2700 init: no FILE is taken\n"},
      {{"help", "frobnicate"}, 2, "", "kiv2700 help: unknown command frobnicate\nusage: "},
      {{"help", "post", "check"}, 2, "", "kiv2700 help: one COMMAND at most\n"},
  };
  for (const auto& row : rows) {
    const ToolRun run = run_tool(scratch.root(), row.args);
    EXPECT_TRUE(run.status == row.status && run.out.starts_with(row.out_starts) &&
                run.err.starts_with(row.err_starts) && run.out.empty() == row.out_starts.empty() &&
                run.err.empty() == row.err_starts.empty())
        << ::testing::PrintToString(row.args) << " " << run.status << "\n"
        << run.out << run.err;
  }

  for (const Command& command : commands()) {
    EXPECT_TRUE(overview.find(cli::synopsis(command) + "\n") != std::string::npos &&
                overview.find(std::string(command.summary) + "\n") != std::string::npos)
        << command.name;
    const std::string help = run_tool(scratch.root(), {std::string(command.name), "--help"}).out;
    EXPECT_EQ(help, run_tool(scratch.root(), {"help", std::string(command.name)}).out);
    for (const auto& option : command.options) {
      EXPECT_TRUE(help.find("  " + option_text(option) + " ") != std::string::npos &&
                  help.find(std::string(option.description) + "\n") != std::string::npos)
          << command.name << option.name;
    }
  }
  const std::string to_full = std::string(KIV_CLI_PATH) + " --help >/dev/full";
  EXPECT_EQ(WEXITSTATUS(std::system(to_full.c_str())), 2) << "help that could not be written";
}

// The page's text as it reads: font changes dropped, escapes resolved.
std::string plain(std::string line) {
  const std::pair<std::string, std::string> escapes[] = {{"\\fB", ""}, {"\\fI", ""}, {"\\fR", ""},
                                                         {"\\fP", ""}, {"\\-", "-"}, {"\\(aq", "'"}};
  for (const auto& [from, to] : escapes) {
    for (std::size_t at = 0; (at = line.find(from, at)) != std::string::npos; at += to.size())
      line.replace(at, from.size(), to);
  }
  return line;
}

TEST(Help, ManualPageDocumentsEveryCommandAndOptionThatExistsAndNoOther) {
  std::ifstream page(KIV_SOURCE_DIR "/doc/kiv2700.1");
  ASSERT_TRUE(page);
  std::set<std::string> synopsis_lines;
  std::map<std::string, std::set<std::string>> command_options;  // .SS under COMMANDS -> its .TP tags
  std::string section, command;
  bool tag_next = false;
  for (std::string line; std::getline(page, line);) {
    if (line.starts_with(".SH ")) section = line.substr(4), command.clear();
    if (line.starts_with(".SS ") && section == "COMMANDS") command_options[command = line.substr(4)];
    if (!line.starts_with(".") && section == "SYNOPSIS") synopsis_lines.insert(plain(line));
    if (tag_next && !line.starts_with(".") && !command.empty() && plain(line).starts_with("--"))
      command_options[command].insert(plain(line));
    tag_next = line == ".TP";
  }

  std::set<std::string> usage_lines;
  std::istringstream usage(cli::usage_text());
  for (std::string line; std::getline(usage, line);) usage_lines.insert(line.substr(line.find("kiv2700")));
  EXPECT_EQ(synopsis_lines, usage_lines);

  std::map<std::string, std::set<std::string>> table_options;
  for (const Command& command : commands()) {
    auto& options = table_options[std::string(command.name)];
    for (const auto& option : command.options) options.insert(option_text(option));
  }
  EXPECT_EQ(command_options, table_options);
}

// Installed: ROOT/exe/kiv2700, run through bin/kiv2700 -> ../suite/exe/kiv2700.
TEST(SuiteFolder, FoundFromTheRealProgramBehindALink) {
  namespace fs = std::filesystem;
  TempSuite scratch(false);
  const fs::path base = scratch.root(), suite = base / "suite";
  fs::create_symlink(install_behind_link(base, KIV_CLI_PATH, "kiv2700"), base / "kiv");  // a link to the link
  for (const char* link : {"bin/kiv2700", "kiv"}) {
    fs::remove_all(suite / "mdb");
    const ToolRun run = run_program_without_root((base / link).string(), scratch.root(), {"init"});
    EXPECT_TRUE(run.status == 0 && run.out == fs::canonical(suite).string() + "\n") << link << run.out << run.err;
    EXPECT_TRUE(fs::is_regular_file(suite / "mdb/KIV.mdb")) << link;
  }
  EXPECT_FALSE(fs::exists(base / "mdb"));
}

}  // namespace
}  // namespace kiv::testing
