#include "shell/glfunc.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "shell/qt_operator.h"
#include "shell_tests.h"

using kiv::MessageIcon;
using kiv::shell::Context;

void ShellTest::command_line_gives_the_context_or_ends_the_program() {
  const char* cases[][2] = {{"u1/p2/x3", "u1|p2|x3"},
                            {"a/b/c/d", "a|b|c"},
                            {"/b/c", "|b|c"},
                            {"a", "a||"},
                            {"a/b", "a|b|"},
                            {" a / b / c ", " a | b | c "},
                            {"教務/王 小明/x", "教務|王 小明|x"}};
  for (const auto& [line, texts] : cases) {
    Context context{"old1", "old2", "old3"};
    QVERIFY2(kiv::shell::parse_command_line(line, context), line);
    QCOMPARE(QString::fromStdString(context.ctx_arg1 + "|" + context.ctx_arg2 + "|" + context.ctx_arg3),
             QString::fromUtf8(texts));
  }
  Context untouched{"k1", "k2", "k3"};
  QVERIFY(!kiv::shell::parse_command_line("", untouched) && untouched.ctx_arg1 + untouched.ctx_arg3 == "k1k3");
  QCOMPARE(kiv::shell::command_line_text({"/x/exe/Kiv2700P1", "a/b", "c/d"}), std::string("a/b c/d"));
  for (const QStringList& args : {QStringList{}, QStringList{"-platform", "offscreen"}}) {  // no command line
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KIV_ROOT"), QStringLiteral("/nonexistent-kiv-root"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KIV_SHELL_EXE), args);
    const bool finished = program.waitForFinished(10000);
    if (!finished) program.kill();
    QVERIFY2(finished && program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
             "the program ends at once, without a window, when it has no command line");
  }
}

void ShellTest::qt_operator_boxes_and_programs() {
  kiv::shell::QtOperator op;
  QStringList seen;
  // Answers the next message box with `button`, noting its title, text, icon and text format.
  const auto answer = [&seen](QMessageBox::StandardButton button) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, button, &seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      timer->deleteLater();
      seen = {box->windowTitle(), box->text(), QString::number(box->icon()), QString::number(box->textFormat())};
      box->button(button)->click();
    });
    timer->start(10);
  };
  answer(QMessageBox::Ok);
  op.show_message("磁 碟 未 就 緒\r\n\r\n回 到 預 設 路 徑 <b>", MessageIcon::critical, "Tavenor");
  QCOMPARE(seen, (QStringList{"Tavenor", "磁 碟 未 就 緒\n\n回 到 預 設 路 徑 <b>",
                              QString::number(QMessageBox::Critical), QString::number(Qt::PlainText)}));
  answer(QMessageBox::Ok);
  op.show_message("a\rb", MessageIcon::information, "Tavenor");
  QCOMPARE(seen.mid(1, 2), (QStringList{"a\nb", QString::number(QMessageBox::Information)}));
  answer(QMessageBox::Yes);
  QVERIFY(op.ask_yes_no("open?"));
  QCOMPARE(seen.at(0) + seen.at(2), QString::number(QMessageBox::NoIcon));  // no title, no icon
  answer(QMessageBox::No);
  QVERIFY(!op.ask_yes_no("open?"));
  QVERIFY2(!op.start_program("/nonexistent/exe/Kiv0000P1", {"a/b/c"}).empty(), "a reason to show");
}
