#include "shell/glfunc.h"

#include <QEventLoop>
#include <QTimer>
#include <chrono>

namespace kiv::shell {

std::string command_line_text(const QStringList& arguments) {
  return arguments.mid(1).join(QLatin1Char(' ')).toStdString();
}

bool parse_command_line(const std::string& command_line, Context& context) {
  if (command_line.empty()) return false;
  Context parsed;
  std::string rest;
  const std::size_t first = command_line.find('/');
  if (first == std::string::npos) {
    parsed.ctx_arg1 = command_line;
  } else {
    parsed.ctx_arg1 = command_line.substr(0, first);
    rest = command_line.substr(first + 1);
    const std::size_t second = rest.find('/');
    if (second == std::string::npos) {
      parsed.ctx_arg2 = rest;
    } else {
      parsed.ctx_arg2 = rest.substr(0, second);
      rest = rest.substr(second + 1);
      parsed.ctx_arg3 = rest.substr(0, rest.find('/'));
    }
  }
  context = std::move(parsed);
  return true;
}

void wait_seconds(int seconds) {
  QEventLoop loop;
  QTimer::singleShot(std::chrono::seconds(seconds), &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace kiv::shell
