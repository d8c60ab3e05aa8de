#include "shell/glfunc.h"

#include <QTest>

#include "shell_tests.h"

using kiv::shell::Context;
using kiv::shell::parse_command_line;

namespace {

Context parsed(const std::string& line) {
  Context context{"old1", "old2", "old3"};
  if (!parse_command_line(line, context)) qFatal("parse failed for %s", line.c_str());
  return context;
}

void expect(const std::string& line, const char* a1, const char* a2, const char* a3) {
  const Context c = parsed(line);
  QCOMPARE(QString::fromStdString(c.ctx_arg1), QString::fromUtf8(a1));
  QCOMPARE(QString::fromStdString(c.ctx_arg2), QString::fromUtf8(a2));
  QCOMPARE(QString::fromStdString(c.ctx_arg3), QString::fromUtf8(a3));
}

}  // namespace

void ShellTest::splits_the_context() {
  expect("u1/p2/x3", "u1", "p2", "x3");
  expect("a/b/c/d", "a", "b", "c");
  expect("/b/c", "", "b", "c");
  expect("a", "a", "", "");
  expect("a/b", "a", "b", "");
  expect("a//", "a", "", "");
  expect(" a / b / c ", " a ", " b ", " c ");  // blanks are kept
  expect("教務/王 小明/x", "教務", "王 小明", "x");

  Context untouched{"k1", "k2", "k3"};
  QVERIFY(!parse_command_line("", untouched));
  QCOMPARE(untouched.ctx_arg1, std::string("k1"));
  QCOMPARE(untouched.ctx_arg3, std::string("k3"));
}

void ShellTest::joins_the_arguments_qt_left() {
  using kiv::shell::command_line_text;
  QCOMPARE(command_line_text({"/x/exe/Kiv2700P1"}), std::string());
  QCOMPARE(command_line_text({"/x/exe/Kiv2700P1", "a/b/c"}), std::string("a/b/c"));
  QCOMPARE(command_line_text({"/x/exe/Kiv2700P1", "a/b", "c/d"}), std::string("a/b c/d"));
}
