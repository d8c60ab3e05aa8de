#include <QApplication>
#include <QTest>

#include "shell_tests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ShellTest shell;
  MainWindowTest window;
  ProgramTest program;
  const int failed =
      QTest::qExec(&shell, argc, argv) + QTest::qExec(&window, argc, argv) + QTest::qExec(&program, argc, argv);
  return failed == 0 ? 0 : 1;
}
