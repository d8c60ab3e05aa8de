#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include "shell_tests.h"

void ShellTest::ends_at_once_without_a_command_line() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("KIV_ROOT"), QStringLiteral("/nonexistent-kiv-root"));
  // No argument at all, and only Qt's own arguments: both leave an empty command line.
  for (const QStringList& args : {QStringList{}, QStringList{"-platform", "offscreen"}}) {
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KIV_SHELL_EXE), args);
    QVERIFY(program.waitForStarted());
    const bool finished = program.waitForFinished(10000);
    if (!finished) program.kill();
    QVERIFY2(finished, "the program kept running without a command line");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
  }
}
