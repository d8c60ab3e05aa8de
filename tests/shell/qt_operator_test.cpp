#include "shell/qt_operator.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "shell_tests.h"

using kiv::MessageIcon;
using kiv::shell::QtOperator;

namespace {

// Runs `act` on the modal window as soon as one is up.
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

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::TextFormat format = Qt::AutoText;
};

void answer(SeenBox& seen, QMessageBox::StandardButton button) {
  when_modal([&seen, button](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) qFatal("expected a message box");
    seen = {box->windowTitle(), box->text(), box->icon(), box->textFormat()};
    box->button(button)->click();
  });
}

}  // namespace

void ShellTest::message_boxes() {
  QtOperator op;
  SeenBox seen;
  answer(seen, QMessageBox::Ok);
  op.show_message("磁 碟 未 就 緒\r\n\r\n回 到 預 設 路 徑", MessageIcon::critical, "Tavenor");
  QCOMPARE(seen.title, QStringLiteral("Tavenor"));
  QCOMPARE(seen.text, QStringLiteral("磁 碟 未 就 緒\n\n回 到 預 設 路 徑"));
  QCOMPARE(seen.icon, QMessageBox::Critical);
  QCOMPARE(seen.format, Qt::PlainText);

  answer(seen, QMessageBox::Ok);
  op.show_message("a\rb <b>c</b>", MessageIcon::information, "Tavenor");
  QCOMPARE(seen.text, QStringLiteral("a\nb <b>c</b>"));
  QCOMPARE(seen.icon, QMessageBox::Information);

  answer(seen, QMessageBox::Yes);
  QVERIFY(op.ask_yes_no("open?"));
  QCOMPARE(seen.title, QString());
  QCOMPARE(seen.icon, QMessageBox::NoIcon);
  answer(seen, QMessageBox::No);
  QVERIFY(!op.ask_yes_no("open?"));
}

void ShellTest::file_dialog_cancel() {
  QtOperator op;
  QString title;
  QString directory;
  bool native = true;
  when_modal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) qFatal("expected a file dialog");
    title = dialog->windowTitle();
    directory = dialog->directory().absolutePath();
    native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
    dialog->reject();
  });
  QVERIFY(!op.choose_file("選擇欲載入之檔案", "/tmp/").has_value());
  QCOMPARE(title, QStringLiteral("選擇欲載入之檔案"));
  QCOMPARE(directory, QStringLiteral("/tmp"));
  QVERIFY(!native);
}

void ShellTest::start_program_and_progress() {
  QtOperator op;
  QCOMPARE(op.start_program("/bin/true", {"a/b/c"}), std::string());
  QVERIFY(!op.start_program("/nonexistent/exe/Kiv0000P1", {"a/b/c"}).empty());

  int progress_calls = 0;
  op.set_progress_handler([&](std::int64_t done, std::int64_t total) {
    ++progress_calls;
    QCOMPARE(done, std::int64_t{2});
    QCOMPARE(total, std::int64_t{5});
  });
  op.show_progress(2, 5);
  QCOMPARE(progress_calls, 1);
}
