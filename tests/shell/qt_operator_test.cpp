#include "shell/qt_operator.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "shell_tests.h"

using kiv::MessageIcon;

namespace {

void when_modal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      act(modal);
    }
  });
  timer->start();
}

void answer(QStringList& seen, QMessageBox::StandardButton button) {
  when_modal([&seen, button](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) qFatal("expected a message box");
    seen = {box->windowTitle(), box->text(), QString::number(box->icon()), QString::number(box->textFormat())};
    box->button(button)->click();
  });
}

}  // namespace

void ShellTest::qt_operator_boxes_and_programs() {
  kiv::shell::QtOperator op;
  QStringList seen;
  answer(seen, QMessageBox::Ok);
  op.show_message("磁 碟 未 就 緒\r\n\r\n回 到 預 設 路 徑 <b>", MessageIcon::critical, "Tavenor");
  QCOMPARE(seen, (QStringList{"Tavenor", "磁 碟 未 就 緒\n\n回 到 預 設 路 徑 <b>",
                              QString::number(QMessageBox::Critical), QString::number(Qt::PlainText)}));
  answer(seen, QMessageBox::Ok);
  op.show_message("a\rb", MessageIcon::information, "Tavenor");
  QCOMPARE(seen.mid(1, 2), (QStringList{"a\nb", QString::number(QMessageBox::Information)}));
  answer(seen, QMessageBox::Yes);
  QVERIFY(op.ask_yes_no("open?"));
  QCOMPARE(seen.at(0), QString());
  QCOMPARE(seen.at(2), QString::number(QMessageBox::NoIcon));
  answer(seen, QMessageBox::No);
  QVERIFY(!op.ask_yes_no("open?"));

  QVERIFY2(!op.start_program("/nonexistent/exe/Kiv0000P1", {"a/b/c"}).empty(), "a reason to show");
}
