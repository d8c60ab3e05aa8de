#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "import/collection_writer.h"
#include "journal/history.h"
#include "recording_operator.h"
#include "shell/main_window.h"
#include "shell/program.h"
#include "shell/qt_operator.h"
#include "shell_tests.h"
#include "temp_suite.h"

using kiv::testing::caption;
using kiv::testing::control;

void ShellTest::same_file_question_box_and_answers_in_the_window() {
  kiv::shell::QtOperator qt;
  const char* question = "此檔案已於 2004/10/15 09:05 入帳,是否再次入帳?";
  for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    QStringList seen;
    kiv::testing::press_when_shown(seen, answer);
    QCOMPARE(qt.confirm_post_again(question), answer == QMessageBox::Yes);
    seen.removeAt(3);  // the text format
    QCOMPARE(seen, (QStringList{"Tavenor", question, QString::number(QMessageBox::Question),
                                QString::number((QMessageBox::Yes | QMessageBox::No).toInt()),
                                QString::number(QMessageBox::No)}));
  }

  for (const auto store : kiv::testing::stores_to_test()) {
    kiv::testing::TempSuite suite(store);
    suite.exec(
        "INSERT INTO KIV7_Student (stdid, delmark) VALUES ('10001', 0);"
        "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee) VALUES ('10001', '2004-10-15', 1, 1500, 15);");
    const std::string file = suite.write_file(
        "in/post1003.dat", kiv::import::format_detail({"0931015", "", "", 151500, "0", "10001", "01", ""}) + "\r\n" +
                               kiv::import::format_trailer(1, 151500, 1, 151500) + "\r\n");
    kiv::testing::RecordingOperator op;
    kiv::shell::KIV2700F1 window(suite.paths(), op);
    kiv::shell::Program program(window, op, {"u1", "p2", "x3"});
    window.show();
    // Posts the file; returns the counters Label3 and Label7.
    const auto confirm = [&] {
      window.set_path_text(file);
      control<QRadioButton>(window, "Opt2")->setChecked(true);
      control<QPushButton>(window, "cmd_confirm")->click();
      return caption(control(window, "Label3")) + "|" + caption(control(window, "Label7"));
    };
    QCOMPARE(confirm(), QStringLiteral("1|1"));
    QVERIFY(op.again_questions.empty());
    auto db = suite.open();
    const auto first = kiv::journal::find_run(db, 1);
    QVERIFY(first.has_value());
    QCOMPARE(first->context.arg1 + "/" + first->context.arg2 + "/" + first->context.arg3, std::string("u1/p2/x3"));

    op.post_again = false;
    QCOMPARE(confirm(), QStringLiteral("|"));  // counters not filled
    QVERIFY(op.again_questions.size() == 1 && op.again_questions[0].starts_with("此檔案已於 "));
    QVERIFY2(window.floppy_selected(), "the floppy is the source again, as after a stopped run");
    QVERIFY(control(window, "cmd_confirm")->isEnabled());

    op.post_again = true;
    QCOMPARE(confirm(), QStringLiteral("1|0"));  // its line was written off already
    QCOMPARE(op.again_questions.size(), std::size_t{2});
  }
}
