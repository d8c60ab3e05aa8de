#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "db_snapshot.h"
#include "import/collection_writer.h"
#include "journal/history.h"
#include "recording_operator.h"
#include "shell/main_window.h"
#include "shell/program.h"
#include "shell/qt_operator.h"
#include "shell_tests.h"
#include "temp_suite.h"

using kiv::shell::KIV2700F1;
using kiv::shell::Program;
using kiv::testing::RecordingOperator;
using kiv::testing::TempSuite;

namespace {

// Looks at the box the code under test opens, then presses `button` on it.
void press_when_shown(QStringList& seen, QMessageBox::StandardButton button) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, &seen, button] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer->stop();
    timer->deleteLater();
    seen = {box->windowTitle(), box->text(), QString::number(box->icon()),
            QString::number(static_cast<int>(box->standardButtons())),
            QString::number(box->standardButton(box->defaultButton()))};
    box->button(button)->click();
  });
  timer->start();
}

QString label(KIV2700F1& window, const char* name) {
  return window.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

}  // namespace

void ShellTest::same_file_question_box_and_answers_in_the_window() {
  kiv::shell::QtOperator qt;
  for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    QStringList seen;
    press_when_shown(seen, answer);
    QCOMPARE(qt.confirm_post_again("此檔案已於 2004/10/15 09:05 入帳,是否再次入帳?"), answer == QMessageBox::Yes);
    QCOMPARE(seen, (QStringList{"Tavenor", "此檔案已於 2004/10/15 09:05 入帳,是否再次入帳?",
                                QString::number(QMessageBox::Question),
                                QString::number(static_cast<int>(QMessageBox::Yes | QMessageBox::No)),
                                QString::number(QMessageBox::No)}));
  }

  for (const auto store : kiv::testing::stores_to_test()) {
    TempSuite suite(store);
    suite.exec(
        "INSERT INTO KIV7_Student (stdid, delmark) VALUES ('10001', 0);"
        "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee) VALUES ('10001', '2004-10-15', 1, 1500, 15);");
    const std::string file = suite.write_file(
        "in/post1003.dat", kiv::import::format_detail({"0931015", "", "", 151500, "0", "10001", "01", ""}) + "\r\n" +
                               kiv::import::format_trailer(1, 151500, 1, 151500) + "\r\n");
    RecordingOperator op;
    KIV2700F1 window(suite.paths(), op);
    Program program(window, op, {"u1", "p2", "x3"});
    window.show();
    const auto confirm = [&] {
      window.set_path_text(file);
      window.findChild<QRadioButton*>("Opt2")->setChecked(true);
      window.findChild<QPushButton*>("cmd_confirm")->click();
    };
    confirm();
    QCOMPARE(label(window, "Label7"), QStringLiteral("1"));
    QVERIFY(op.again_questions.empty());
    auto db = suite.open();
    const auto first = kiv::journal::find_run(db, 1);
    QVERIFY(first.has_value());
    QCOMPARE(first->context.arg1 + "/" + first->context.arg2 + "/" + first->context.arg3, std::string("u1/p2/x3"));
    const std::string posted = kiv::testing::snapshot(db);

    op.post_again = false;
    confirm();
    QCOMPARE(op.again_questions.size(), std::size_t{1});
    QVERIFY(op.again_questions[0].starts_with("此檔案已於 "));
    QCOMPARE(label(window, "Label3"), QString());  // counters not filled
    QCOMPARE(label(window, "Label7"), QString());
    QVERIFY2(window.floppy_selected(), "the floppy is the source again, as after a stopped run");
    QVERIFY(window.findChild<QPushButton*>("cmd_confirm")->isEnabled());
    QCOMPARE(kiv::testing::snapshot(db), posted);
    QCOMPARE(kiv::journal::list_runs(db).size(), std::size_t{1});

    op.post_again = true;
    confirm();
    QCOMPARE(op.again_questions.size(), std::size_t{2});
    QCOMPARE(label(window, "Label3"), QStringLiteral("1"));
    QCOMPARE(label(window, "Label7"), QStringLiteral("0"));  // its line was written off already
    QCOMPARE(kiv::journal::list_runs(db).size(), std::size_t{2});
  }
}
