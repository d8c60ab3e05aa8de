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

  // A run's progress reaches the window a few times a second, never once a
  // line, and always with its first and last line and the clearing.
  std::vector<std::pair<std::int64_t, std::int64_t>> shown;
  op.set_progress_handler([&shown](std::int64_t done, std::int64_t total) { shown.emplace_back(done, total); });
  constexpr std::int64_t kLines = 100000;
  for (std::int64_t i = 1; i <= kLines; ++i) {
    op.show_progress(i, kLines);
    op.pump_events();
  }
  op.show_progress(0, 0);
  QVERIFY2(shown.size() < kLines / 10, std::to_string(shown.size()).c_str());
  QCOMPARE(shown.front(), (std::pair<std::int64_t, std::int64_t>{1, kLines}));
  QCOMPARE(shown.at(shown.size() - 2), (std::pair<std::int64_t, std::int64_t>{kLines, kLines}));
  QCOMPARE(shown.back(), (std::pair<std::int64_t, std::int64_t>{0, 0}));
}
