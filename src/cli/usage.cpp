// Every text that tells how to call the tool, made from the command table.
#include <algorithm>
#include <cstdio>

#include "cli/commands.h"

namespace kiv::cli {

namespace {

constexpr std::string_view kHelpOption = "--help";
constexpr std::string_view kHelpDescription = "shows this help";

std::string option_text(const OptionSpec& option) {
  std::string text(option.name);
  if (!option.argument.empty()) text.append(" ").append(option.argument);
  return text;
}

void append_row(std::string& out, std::string_view left, std::size_t width, std::string_view right) {
  out.append("  ").append(left).append(width - left.size() + 2, ' ').append(right).append("\n");
}

}  // namespace

std::string synopsis(const Command& command) {
  std::string text = "kiv2700 ";
  text += command.name;
  for (const OptionSpec& option : command.options) text += " [" + option_text(option) + "]";
  if (!command.operands.empty()) text.append(" ").append(command.operands);
  return text;
}

std::string usage_text() {
  std::string text;
  for (const Command& command : commands()) text += (text.empty() ? "usage: " : "       ") + synopsis(command) + "\n";
  text += "       kiv2700 --help\n";
  text += "       kiv2700 --version\n";
  return text;
}

std::string overview_text() {
  std::string text = usage_text() + "\nPosts the school fees that the postal service collected.\n\ncommands:\n";
  std::size_t width = 0;
  for (const Command& command : commands()) width = std::max(width, command.name.size());
  for (const Command& command : commands()) append_row(text, command.name, width, command.summary);
  text += "\n`kiv2700 help COMMAND` shows a command's options; the manual is kiv2700(1).\n";
  return text;
}

std::string help_text(const Command& command) {
  std::string text = "usage: " + synopsis(command) + "\n\n";
  text.append(command.summary).append("\n\n");
  std::size_t width = kHelpOption.size();
  for (const OptionSpec& option : command.options) width = std::max(width, option_text(option).size());
  for (const OptionSpec& option : command.options) append_row(text, option_text(option), width, option.description);
  append_row(text, kHelpOption, width, kHelpDescription);
  return text;
}

int print_help(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 2;
}

int usage_error(const Command& command, const std::string& problem) {
  std::fprintf(stderr, "kiv2700 %.*s: %s\nusage: %s\n", static_cast<int>(command.name.size()), command.name.data(),
               problem.c_str(), synopsis(command).c_str());
  return 2;
}

}  // namespace kiv::cli
