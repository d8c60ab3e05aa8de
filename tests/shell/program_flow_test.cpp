#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "import/collection_writer.h"
#include "recording_operator.h"
#include "shell/main_window.h"
#include "shell/program.h"
#include "shell/qt_operator.h"
#include "shell_tests.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace fs = std::filesystem;
using kiv::shell::KIV2700F1;
using kiv::shell::Program;
using kiv::testing::RecordingOperator;
using kiv::testing::TempSuite;

namespace {

QString q(const std::string& text) {
  return QString::fromStdString(text);
}
// Label3, Label4, Label7, Label10 and L_cnt, joined by "|".
QString figures(KIV2700F1& window) {
  QStringList texts;
  for (const char* name : {"Label3", "Label4", "Label7", "Label10", "L_cnt"}) {
    texts << window.findChild<QLabel*>(QString::fromLatin1(name))->text();
  }
  return texts.join('|');
}
QPushButton* button(KIV2700F1& window, const char* name) {
  return window.findChild<QPushButton*>(QString::fromLatin1(name));
}

class ImpatientOperator : public RecordingOperator {
 public:
  KIV2700F1* window = nullptr;
  int attempts = 0;
  void pump_events() override {
    RecordingOperator::pump_events();
    if (window == nullptr || attempts++ > 0) return;
    window->close();
    QKeyEvent alt_e(QEvent::KeyPress, Qt::Key_E, Qt::AltModifier);
    QApplication::sendEvent(window->findChild<QLineEdit*>("txt_path"), &alt_e);
    button(*window, "cmd_exit")->click();
    button(*window, "cmd_confirm")->click();
  }
};

}  // namespace

void ShellTest::confirm_runs_the_import_from_the_chosen_source() {
  TempSuite suite;
  suite.exec(
      "INSERT INTO KIV7_Student (stdid, delmark) VALUES ('10001', 0), ('10002', 0), ('10003', 0);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee) VALUES "
      "('10001', '2004-10-15', 1, 1500, 15), ('10002', '2004-10-15', 1, 1000, 0), "
      "('10003', '2004-10-15', 1, 999, 0);");
  std::string content;
  for (auto [id, cents] : {std::pair{"10001", 151500}, {"10002", 100000}, {"10003", 99850}, {"99999", 50000}}) {
    content += kiv::import::format_detail({"0931015", "", "", cents, "0", id, "01", ""}) + "\r\n";
  }
  content += kiv::import::format_trailer(4, 401350, 4, 401350) + "\r\n";
  const std::string file = suite.write_file("in/post1003.dat", content);
  ImpatientOperator op;
  op.answer_yes = true;
  op.next_file = file;
  KIV2700F1 window(suite.paths(), op);
  Program program(window, op, {"a", "b", "c"});
  window.show();
  op.window = &window;
  button(window, "Cmd_showpath")->click();
  QVERIFY(!window.floppy_selected());

  QTest::keyClick(window.findChild<QLineEdit*>("txt_path"), Qt::Key_S, Qt::AltModifier);
  QCOMPARE(figures(window), QStringLiteral("4|3,514|3|0|"));  // 1515 + 1000 + 998.50, rounded once
  QVERIFY2(window.floppy_selected(), "the floppy is the source again after a run");
  QCOMPARE(window.path_text(), file);
  QVERIFY(button(window, "cmd_confirm")->isEnabled());
  QCOMPARE(op.questions.size(), std::size_t{1});
  QCOMPARE(op.opened.size(), std::size_t{1});  // answered Yes
  QVERIFY(op.opened[0].find("/medi/err27_") != std::string::npos);
  QVERIFY2(op.attempts > 0 && window.isVisible() && op.started.empty(), "closing and leaving refused during a run");

  const std::string floppy = suite.root() + "/floppy";
  fs::create_directories(floppy);
  setenv("KIV_FLOPPY", floppy.c_str(), 1);
  button(window, "cmd_confirm")->click();
  QCOMPARE(figures(window), QStringLiteral("||||"));
  QCOMPARE(op.messages.back().text, std::string("找 不 到 檔 案 ( post1003.dat )"));
  QVERIFY(button(window, "cmd_confirm")->isEnabled());

  window.set_path_text("   ");
  window.findChild<QRadioButton*>("Opt2")->setChecked(true);
  button(window, "cmd_confirm")->click();
  QCOMPARE(op.messages.back().text, std::string("請 選 擇 檔 案"));
  QCOMPARE(window.focusWidget(), button(window, "Cmd_showpath"));

  std::ofstream(floppy + "/post1003.dat", std::ios::binary) << kiv::import::format_trailer(0, 0, 0, 0) << "\r\n";
  window.clear_all();
  button(window, "cmd_confirm")->click();
  unsetenv("KIV_FLOPPY");
  QVERIFY(fs::exists(suite.paths().staging_file()));
  QCOMPARE(figures(window), QStringLiteral("0|0|0|0|"));
}

void ShellTest::exit_hands_back_to_the_menu_with_the_context() {
  for (const bool menu_exists : {true, false}) {
    TempSuite suite;
    suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('', '')");
    suite.write_file("mdb/kiv2700tmp.mdb", "stale");
    const std::string record = suite.root() + "/menu-args.txt", menu = suite.root() + "/exe/Kiv0000P1";
    if (menu_exists) {
      suite.write_file("exe/Kiv0000P1", "#!/bin/sh\nprintf '%s|' \"$@\" > " + record + "\n");
      fs::permissions(menu, fs::perms::owner_all);
    }
    class Starter : public RecordingOperator {  // records, and really starts
     public:
      std::string start_program(const std::string& path, const std::vector<std::string>& args) override {
        RecordingOperator::start_program(path, args);
        return real.start_program(path, args);
      }
      kiv::shell::QtOperator real;
    } op;
    KIV2700F1 window(suite.paths(), op);
    Program program(window, op, {"u1", "p2", "x3"});
    window.show();
    window.set_path_text(suite.root() + "/it's/post1003.dat");
    button(window, "cmd_exit")->click();
    QCOMPARE(q(suite.rows("SELECT tranidrive, tranidir FROM KIV2_School")), q("/ " + suite.root() + "/it's/"));
    QVERIFY2(!fs::exists(suite.root() + "/mdb/kiv2700tmp.mdb"), "compacted on the way out");
    QCOMPARE(op.started.size(), std::size_t{1});
    QCOMPARE(op.started[0].first, menu);
    if (menu_exists) {
      QVERIFY2(op.messages.empty(), op.messages.empty() ? "" : op.messages[0].text.c_str());
      QTRY_COMPARE(QString::fromStdString(kiv::testing::slurp(record)), QStringLiteral("u1/p2/x3|"));
      QVERIFY(!window.isVisible());
      continue;
    }
    QVERIFY2(window.isVisible() && button(window, "cmd_confirm")->isEnabled(), "the window is usable again");
    QCOMPARE(op.messages.size(), std::size_t{1});
    QCOMPARE(op.messages[0].icon, kiv::MessageIcon::critical);
    QVERIFY(op.messages[0].text.find(menu) != std::string::npos);
    QVERIFY(window.close());
    QCOMPARE(op.started.size(), std::size_t{2});
    QVERIFY2(!window.isVisible(), "closing ends the program even without the menu");
  }
}
