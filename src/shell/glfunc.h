#pragma once

#include <QStringList>
#include <string>

namespace kiv::shell {

// The operator's context as the menu program hands it over. The program
// never looks inside; it gives the three texts back unchanged on exit.
struct Context {
  std::string ctx_arg1;
  std::string ctx_arg2;
  std::string ctx_arg3;
};

// The program's command line: its arguments after Qt took its own (the
// first entry, the program itself, is skipped), joined by one blank.
std::string command_line_text(const QStringList& arguments);

// Splits "a/b/c" into the context. False, leaving `context` alone, for an
// empty command line. Missing separators leave the later texts empty; text
// after a third "/" is dropped.
bool parse_command_line(const std::string& command_line, Context& context);

// Lets the window system work for `seconds` seconds, then returns: the
// window stays responsive, no core is kept busy, and midnight does not
// stretch the wait.
void wait_seconds(int seconds);

}  // namespace kiv::shell
