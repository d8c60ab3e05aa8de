#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "import/collection_writer.h"
#include "recording_operator.h"
#include "shell/glfunc.h"
#include "shell/main_window.h"
#include "shell/program.h"
#include "shell/qt_operator.h"
#include "shell_tests.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace fs = std::filesystem;
using kiv::MessageIcon;
using kiv::shell::KIV2700F1;
using kiv::shell::Program;
using kiv::testing::caption;
using kiv::testing::control;
using kiv::testing::RecordingOperator;
using kiv::testing::TempSuite;

namespace {

QString q(const std::string& text) {
  return QString::fromStdString(text);
}
QPushButton* button(KIV2700F1& window, const char* name) {
  return control<QPushButton>(window, name);
}

// The four counters and the progress text, joined by "|".
QString figures(KIV2700F1& window) {
  QStringList texts;
  for (const char* name : {"Label3", "Label4", "Label7", "Label10", "L_cnt"}) texts << caption(control(window, name));
  return texts.join('|');
}

// Counts the S and E presses that reach the controls it watches.
class KeyCounter : public QObject {
 public:
  int presses = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      presses += key == Qt::Key_S || key == Qt::Key_E;
    }
    return false;
  }
};

// Tries, once, to close the window and to leave while a run is going on.
class ImpatientOperator : public RecordingOperator {
 public:
  KIV2700F1* window = nullptr;
  int attempts = 0;
  void pump_events() override {
    if (window == nullptr || attempts++ > 0) return;
    window->close();
    QKeyEvent alt_e(QEvent::KeyPress, Qt::Key_E, Qt::AltModifier);
    QApplication::sendEvent(window->findChild<QLineEdit*>("txt_path"), &alt_e);
    button(*window, "cmd_exit")->click();
  }
};

}  // namespace

void ShellTest::load_controls_source_choice_and_hot_keys() {
  QCOMPARE(q(kiv::root_from_executable_dir("/opt/SUITE/exe")), QStringLiteral("/opt/SUITE"));
  TempSuite suite;
  const std::string root = suite.root(), dir = root + "/data/";
  fs::create_directories(dir);
  fs::remove_all(root + "/medi");
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('', '" + dir + "')");
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  QCOMPARE(window.windowTitle() + q("|" + window.db_path() + "|" + window.path_text() + "|" + window.dialog_dir()),
           q("郵政Tavenor(" + root + ")|" + root + "/mdb/KIV.mdb|/|" + dir));
  QVERIFY2(fs::is_directory(root + "/medi") && window.floppy_selected(), "the work folder is made at start");
  {
    // A file where the work folder belongs: the operator hears of it once.
    const std::string blocked = root + "/blocked";
    fs::create_directories(blocked + "/mdb");
    fs::copy_file(suite.paths().db_path(), blocked + "/mdb/KIV.mdb");
    suite.write_file("blocked/medi", "not a folder");
    RecordingOperator blocked_op;
    KIV2700F1 blocked_window(kiv::SuitePaths{blocked}, blocked_op);
    QCOMPARE(blocked_op.messages.size(), std::size_t{1});
    QVERIFY(blocked_op.messages[0].text.ends_with("(" + std::to_string(ENOTDIR) + ")"));
  }
  // clang-format off
  const std::pair<const char*, const char*> captions[] = {
      {"fra_00", "程式代號 KIV 2700"}, {"lbl_00", "程式名稱"}, {"lbl_01", "轉帳銷帳檔案讀入"},
      {"Frame1", "請選擇磁碟機代號"}, {"Opt1", "A:磁碟機"}, {"Opt2", ""}, {"Cmd_showpath", "..."},
      {"Label1", "銷帳總筆數"}, {"Label2", "總金額"}, {"Label5", "轉帳成功筆數"}, {"Label9", "轉帳不成功筆數"},
      {"Label3", ""}, {"Label4", ""}, {"Label7", ""}, {"Label10", ""}, {"L_cnt", ""}, {"fra_04", ""},
      {"cmd_confirm", "確認 S"}, {"cmd_exit", "離開 E"}, {"lbl_msg", "磁片製作中，請稍後......"}};
  // clang-format on
  for (const auto& [name, text] : captions) QCOMPARE(caption(control<QObject>(window, name)), QString::fromUtf8(text));
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QVERIFY(!control(window, "lbl_msg")->isVisible());
  for (const bool running : {true, false}) {
    window.set_running(running);
    for (const char* name : {"cmd_confirm", "cmd_exit", "Cmd_showpath", "Opt1", "Opt2", "txt_path"})
      QVERIFY2(control(window, name)->isEnabled() != running, name);
  }
  window.show_progress(3, 8);
  QCOMPARE(figures(window), QStringLiteral("||||3 / 8"));
  window.show_progress(0, 0);
  QCOMPARE(figures(window), QStringLiteral("||||"));

  QTest::mouseClick(button(window, "Cmd_showpath"), Qt::LeftButton);  // cancelled
  QVERIFY(window.path_text() == "/" && !window.floppy_selected());
  op.next_file = "/data/it's/post1003.dat";
  window.Cmd_showpath_Click();
  QCOMPARE(q(window.path_text()), QStringLiteral("/data/it's/post1003.dat"));
  QCOMPARE(op.dialogs, std::vector<std::string>(2, "選擇欲載入之檔案|" + dir));
  window.set_line_count_text("12");
  window.clear_all();
  QVERIFY(window.floppy_selected() && !control<QRadioButton>(window, "Opt2")->isChecked());
  QCOMPARE(q(window.path_text()) + caption(control(window, "Label3")), QStringLiteral("/data/it's/post1003.dat12"));
  QVERIFY(op.messages.empty());

  int confirms = 0, exits = 0;  // the hot keys
  window.set_confirm_action([&] { ++confirms; });
  window.set_exit_action([&] { ++exits; });
  QMessageBox box(QMessageBox::Information, "Tavenor", "a box of the program", QMessageBox::Ok, &window);
  box.show();
  QWidget* path = control<QLineEdit>(window, "txt_path");
  QWidget* confirm = control(window, "cmd_confirm");
  KeyCounter reached;
  for (QWidget* target : {path, confirm, static_cast<QWidget*>(&box)}) target->installEventFilter(&reached);
  const Qt::KeyboardModifiers alt = Qt::AltModifier;
  struct Case {
    QWidget* target;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool running;
    int confirms, exits;  // what the press starts
  } cases[] = {
      {path, Qt::Key_S, alt, false, 1, 0},
      {confirm, Qt::Key_E, alt, false, 0, 1},
      {path, Qt::Key_S, Qt::ControlModifier | alt, false, 0, 0},
      {path, Qt::Key_S, Qt::NoModifier, false, 0, 0},
      {path, Qt::Key_S, alt, true, 0, 0},
      {path, Qt::Key_E, alt, true, 0, 0},
      {&box, Qt::Key_S, alt, false, 0, 0},  // a dialog of the program has the keyboard
  };
  for (const Case& c : cases) {
    const QString trace = QStringLiteral("%1 %2 running %3").arg(c.key).arg(c.modifiers.toInt()).arg(c.running);
    window.set_running(c.running);
    c.target->setEnabled(true);  // a disabled control gets no keys at all
    c.target->setFocus();
    const int before_confirms = confirms, before_exits = exits, before_reached = reached.presses;
    QTest::keyClick(c.target, c.key, c.modifiers);
    QVERIFY2(confirms - before_confirms == c.confirms && exits - before_exits == c.exits, qPrintable(trace));
    const bool handled = c.running || c.confirms + c.exits > 0;
    QVERIFY2((reached.presses == before_reached) == handled, qPrintable(trace));
  }
}

void ShellTest::confirm_runs_the_import_from_the_chosen_source() {
  for (const auto store : kiv::testing::stores_to_test()) {
    TempSuite suite(store);
    suite.exec(
        "INSERT INTO KIV7_Student (stdid, delmark) VALUES ('10001', 0);"
        "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee) VALUES ('10001', '2004-10-15', 1, 1500, 15)");
    std::string content;
    for (const char* id : {"10001", "99999"})
      content += kiv::import::format_detail({"0931015", "", "", 151550, "0", id, "01", ""}) + "\r\n";
    const std::string file =
        suite.write_file("in/post1003.dat", content + kiv::import::format_trailer(2, 303100, 2, 303100) + "\r\n");
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
    QCOMPARE(figures(window), QStringLiteral("2|1,516|1|0|"));  // 1515.50 rounded once
    QVERIFY2(window.floppy_selected() && window.path_text() == file && button(window, "cmd_confirm")->isEnabled(),
             "the floppy is the source again after a run, the button usable");
    QCOMPARE(op.questions.size(), std::size_t{1});
    QVERIFY(op.opened.size() == 1 && op.opened[0].find("/medi/err27_") != std::string::npos);  // answered Yes
    QVERIFY2(op.attempts > 0 && window.isVisible() && op.started.empty(), "closing and leaving refused during a run");

    const std::string floppy = suite.root() + "/floppy";
    fs::create_directories(floppy);
    setenv("KIV_FLOPPY", floppy.c_str(), 1);
    button(window, "cmd_confirm")->click();
    QCOMPARE(figures(window) + q(op.messages.back().text), q("||||找 不 到 檔 案 ( post1003.dat )"));
    QVERIFY(button(window, "cmd_confirm")->isEnabled());

    window.set_path_text("   ");
    control<QRadioButton>(window, "Opt2")->setChecked(true);
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
}

// Records what it starts, and really starts it.
class StartingOperator : public RecordingOperator {
 public:
  std::string start_program(const std::string& path, const std::vector<std::string>& args) override {
    RecordingOperator::start_program(path, args);
    return real.start_program(path, args);
  }
  kiv::shell::QtOperator real;
};

void ShellTest::exit_hands_back_to_the_menu_with_the_context() {
  for (const auto store : kiv::testing::stores_to_test()) {
    for (const bool menu_exists : {true, false}) {
      TempSuite suite(store);
      suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('', '')");
      suite.write_file("mdb/kiv2700tmp.mdb", "stale");
      const std::string record = suite.root() + "/menu-args.txt", menu = suite.root() + "/exe/Kiv0000P1";
      if (menu_exists) {
        suite.write_file("exe/Kiv0000P1", "#!/bin/sh\nprintf '%s|' \"$@\" > " + record + "\n");
        fs::permissions(menu, fs::perms::owner_all);
      }
      StartingOperator op;
      KIV2700F1 window(suite.paths(), op);
      Program program(window, op, {"u1", "p2", "x3"});
      window.show();
      window.set_path_text(suite.root() + "/it's/post1003.dat");
      button(window, "cmd_exit")->click();
      QCOMPARE(q(suite.rows("SELECT tranidrive, tranidir FROM KIV2_School")), q("/ " + suite.root() + "/it's/"));
      QVERIFY2(store == kiv::testing::StoreKind::server || !fs::exists(suite.root() + "/mdb/kiv2700tmp.mdb"),
               "compacted on the way out (a server reclaims space itself)");
      QVERIFY(op.started.size() == 1 && op.started[0].first == menu);
      if (menu_exists) {
        QVERIFY2(op.messages.empty(), op.messages.empty() ? "" : op.messages[0].text.c_str());
        QTRY_COMPARE(q(kiv::testing::slurp(record)), QStringLiteral("u1/p2/x3|"));
        QVERIFY(!window.isVisible());
        continue;
      }
      QVERIFY2(window.isVisible() && button(window, "cmd_confirm")->isEnabled(), "the window is usable again");
      QVERIFY(op.messages.size() == 1 && op.messages[0].icon == MessageIcon::critical &&
              op.messages[0].text.find(menu) != std::string::npos);
      QVERIFY(window.close());
      QCOMPARE(op.started.size(), std::size_t{2});
      QVERIFY2(!window.isVisible(), "closing ends the program even without the menu");
    }
  }
}

void ShellTest::command_line_gives_the_context_or_ends_the_program() {
  const char* cases[][2] = {{"u1/p2/x3", "u1|p2|x3"},
                            {"a/b/c/d", "a|b|c"},
                            {"/b/c", "|b|c"},
                            {"a", "a||"},
                            {"a/b", "a|b|"},
                            {" a / b / c ", " a | b | c "},
                            {"教務/王 小明/x", "教務|王 小明|x"}};
  for (const auto& [line, texts] : cases) {
    kiv::shell::Context context{"old1", "old2", "old3"};
    QVERIFY2(kiv::shell::parse_command_line(line, context), line);
    QCOMPARE(q(context.ctx_arg1 + "|" + context.ctx_arg2 + "|" + context.ctx_arg3), QString::fromUtf8(texts));
  }
  kiv::shell::Context untouched{"k1", "k2", "k3"};
  QVERIFY(!kiv::shell::parse_command_line("", untouched) && untouched.ctx_arg1 + untouched.ctx_arg3 == "k1k3");
  QCOMPARE(kiv::shell::command_line_text({"/x/exe/Kiv2700P1", "a/b", "c/d"}), std::string("a/b c/d"));

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("KIV_ROOT"), QStringLiteral("/nonexistent-kiv-root"));
  QProcess program;
  program.setProcessEnvironment(env);
  for (const QStringList& args : {QStringList{}, QStringList{"-platform", "offscreen"}}) {  // no command line
    program.start(QStringLiteral(KIV_SHELL_EXE), args);
    const bool finished = program.waitForFinished(10000);
    if (!finished) program.kill();
    QVERIFY2(finished && program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
             "the program ends at once, without a window, when it has no command line");
  }

  // Installed as ROOT/exe/Kiv2700P1 and started through a link elsewhere with
  // no KIV_ROOT: loading makes the work folder of the suite folder it found.
  TempSuite scratch(false);
  const fs::path base = scratch.root(), suite = base / "suite";
  const fs::path link = kiv::testing::install_behind_link(base, KIV_SHELL_EXE, "Kiv2700P1");
  env.remove(QStringLiteral("KIV_ROOT"));
  program.setProcessEnvironment(env);
  program.start(q(link.string()), {QStringLiteral("a/b/c")});
  QTRY_VERIFY_WITH_TIMEOUT(fs::is_directory(suite / "medi"), 30000);  // then it waits on the error box
  program.kill();
  program.waitForFinished();
  QVERIFY2(!fs::exists(base / "medi"), "the link's folder taken for the program's");
}

void ShellTest::qt_operator_boxes_and_programs() {
  kiv::shell::QtOperator op;
  QStringList seen;
  kiv::testing::press_when_shown(seen, QMessageBox::Ok);
  op.show_message("磁 碟 未 就 緒\r\n\r\n回 到 預 設 路 徑 <b>", MessageIcon::critical, "Tavenor");
  QCOMPARE(seen.mid(0, 4), (QStringList{"Tavenor", "磁 碟 未 就 緒\n\n回 到 預 設 路 徑 <b>",
                                        QString::number(QMessageBox::Critical), QString::number(Qt::PlainText)}));
  kiv::testing::press_when_shown(seen, QMessageBox::Ok);
  op.show_message("a\rb", MessageIcon::information, "Tavenor");
  QCOMPARE(seen.mid(1, 2), (QStringList{"a\nb", QString::number(QMessageBox::Information)}));
  kiv::testing::press_when_shown(seen, QMessageBox::Yes);
  QVERIFY(op.ask_yes_no("open?"));
  QCOMPARE(seen.at(0) + seen.at(2), QString::number(QMessageBox::NoIcon));  // no title, no icon
  kiv::testing::press_when_shown(seen, QMessageBox::No);
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
  using Shown = std::pair<std::int64_t, std::int64_t>;
  QCOMPARE(shown.front(), (Shown{1, kLines}));
  QCOMPARE(shown.at(shown.size() - 2), (Shown{kLines, kLines}));
  QCOMPARE(shown.back(), (Shown{0, 0}));
}
