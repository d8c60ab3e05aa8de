#include "shell/glfunc.h"

#include <QProcess>
#include <QTest>

#include "shell_tests.h"

using kiv::shell::Context;

void ShellTest::splits_the_command_line() {
  const char* cases[][4] = {
      {"u1/p2/x3", "u1", "p2", "x3"},
      {"a/b/c/d", "a", "b", "c"},
      {"/b/c", "", "b", "c"},
      {"a", "a", "", ""},
      {"a/b", "a", "b", ""},
      {" a / b / c ", " a ", " b ", " c "},
      {"教務/王 小明/x", "教務", "王 小明", "x"},
  };
  for (const auto& c : cases) {
    Context context{"old1", "old2", "old3"};
    QVERIFY2(kiv::shell::parse_command_line(c[0], context), c[0]);
    QCOMPARE(QString::fromStdString(context.ctx_arg1 + "|" + context.ctx_arg2 + "|" + context.ctx_arg3),
             QString::fromUtf8(std::string(c[1]) + "|" + c[2] + "|" + c[3]));
  }
  Context untouched{"k1", "k2", "k3"};
  QVERIFY(!kiv::shell::parse_command_line("", untouched));
  QCOMPARE(untouched.ctx_arg1 + untouched.ctx_arg3, std::string("k1k3"));
  QCOMPARE(kiv::shell::command_line_text({"/x/exe/Kiv2700P1", "a/b", "c/d"}), std::string("a/b c/d"));
}

void ShellTest::ends_at_once_without_a_command_line() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("KIV_ROOT"), QStringLiteral("/nonexistent-kiv-root"));
  for (const QStringList& args : {QStringList{}, QStringList{"-platform", "offscreen"}}) {
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KIV_SHELL_EXE), args);
    const bool finished = program.waitForFinished(10000);
    if (!finished) program.kill();
    QVERIFY2(finished, "the program kept running without a command line");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
  }
}
