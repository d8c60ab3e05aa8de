#include "shell/main_window.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>

#include "recording_operator.h"
#include "shell_tests.h"
#include "temp_suite.h"

namespace fs = std::filesystem;
using kiv::shell::KIV2700F1;
using kiv::testing::RecordingOperator;
using kiv::testing::TempSuite;

namespace {

QString q(const std::string& text) {
  return QString::fromStdString(text);
}

template <class Control = QWidget>
Control* control(KIV2700F1& window, const char* name) {
  auto* found = window.findChild<Control*>(QString::fromLatin1(name));
  if (found == nullptr) qFatal("no control %s", name);
  return found;
}

QString caption(QObject* object) {
  if (auto* label = qobject_cast<QLabel*>(object)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(object)) return button->text();
  if (auto* box = qobject_cast<QGroupBox*>(object)) return box->title();
  return QStringLiteral("<no caption>");
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

}  // namespace

void ShellTest::load_controls_and_source_choice() {
  TempSuite scratch(false);
  const std::string root = kiv::root_from_executable_dir(scratch.root() + "/SUITE/exe");
  fs::create_directories(root + "/mdb");
  {
    RecordingOperator op;
    KIV2700F1 window(kiv::SuitePaths{root}, op);
    QCOMPARE(q(root), q(scratch.root() + "/SUITE"));
    QCOMPARE(window.windowTitle(), q("郵政Tavenor(" + root + ")"));
    QCOMPARE(q(window.db_path()), q(root + "/mdb/KIV.mdb"));
    QCOMPARE(q(window.path_text() + "|" + window.dialog_dir()), q(root + "/medi/|" + root + "/medi/"));
    QVERIFY(fs::is_directory(root + "/medi") && !fs::exists(root + "/mdb/KIV.mdb"));
    QCOMPARE(op.messages.size(), std::size_t{1});
    QVERIFY(op.messages[0].text.ends_with("(-2147467259)"));
  }
  TempSuite suite;
  const std::string dir = suite.root() + "/data/";
  fs::create_directories(dir);
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('', '" + dir + "')");
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  QCOMPARE(q(window.path_text() + "|" + window.dialog_dir()), q("/|" + dir));
  QVERIFY(window.floppy_selected());
  // clang-format off
  const std::pair<const char*, const char*> captions[] = {
      {"fra_00", "程式代號 KIV 2700"}, {"lbl_00", "程式名稱"}, {"lbl_01", "轉帳銷帳檔案讀入"},
      {"Frame1", "請選擇磁碟機代號"}, {"Opt1", "A:磁碟機"}, {"Opt2", ""}, {"Cmd_showpath", "..."},
      {"Label1", "銷帳總筆數"}, {"Label2", "總金額"}, {"Label5", "轉帳成功筆數"}, {"Label9", "轉帳不成功筆數"},
      {"Label3", ""}, {"Label4", ""}, {"Label7", ""}, {"Label10", ""}, {"L_cnt", ""}, {"fra_04", ""},
      {"cmd_confirm", "確認 S"}, {"cmd_exit", "離開 E"}, {"lbl_msg", "磁片製作中，請稍後......"}};
  // clang-format on
  for (const auto& [name, text] : captions) QCOMPARE(caption(control<QObject>(window, name)), QString::fromUtf8(text));
  for (const char* name : {"Label3", "Label4", "Label7", "Label10"}) {  // the figures: right-aligned in a box
    QVERIFY(control<QLabel>(window, name)->alignment() & Qt::AlignRight);
    QCOMPARE(control<QLabel>(window, name)->frameShape(), QFrame::Box);
  }
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QVERIFY(!control(window, "lbl_msg")->isVisible());
  for (const bool running : {true, false}) {
    window.set_running(running);
    for (const char* name : {"cmd_confirm", "cmd_exit", "Cmd_showpath", "Opt1", "Opt2", "txt_path"}) {
      QVERIFY2(control(window, name)->isEnabled() != running, name);
    }
  }
  auto* bar = control<QProgressBar>(window, "progress_bar");
  window.show_progress(3, 8);
  QVERIFY(caption(control(window, "L_cnt")) == "3 / 8" && bar->isVisible() && bar->value() * 8 == bar->maximum() * 3);
  window.show_progress(0, 0);
  QVERIFY(caption(control(window, "L_cnt")).isEmpty() && !bar->isVisible());

  QTest::mouseClick(control<QPushButton>(window, "Cmd_showpath"), Qt::LeftButton);  // cancelled
  QCOMPARE(q(window.path_text()), QStringLiteral("/"));
  QVERIFY(!window.floppy_selected());
  op.next_file = "/data/it's/post1003.dat";
  window.Cmd_showpath_Click();
  QCOMPARE(q(window.path_text()), QStringLiteral("/data/it's/post1003.dat"));
  QCOMPARE(op.dialogs, std::vector<std::string>(2, "選擇欲載入之檔案|" + dir));
  window.set_line_count_text("12");
  window.clear_all();
  QVERIFY(window.floppy_selected() && !control<QRadioButton>(window, "Opt2")->isChecked());
  QCOMPARE(q(window.path_text()) + caption(control(window, "Label3")), QStringLiteral("/data/it's/post1003.dat12"));
  QVERIFY(op.messages.empty());
}

void ShellTest::hot_keys() {
  TempSuite suite;
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  int confirms = 0, exits = 0;
  window.set_confirm_action([&] { ++confirms; });
  window.set_exit_action([&] { ++exits; });
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QMessageBox box(QMessageBox::Information, "Tavenor", "a box of the program", QMessageBox::Ok, &window);
  box.show();
  QWidget* path = control<QLineEdit>(window, "txt_path");
  QWidget* button = control(window, "cmd_confirm");
  KeyCounter reached;
  for (QWidget* target : {path, button, static_cast<QWidget*>(&box)}) target->installEventFilter(&reached);
  const Qt::KeyboardModifiers alt = Qt::AltModifier;
  struct Case {
    QWidget* target;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool running;
    int confirms, exits;  // what the press starts
  } cases[] = {
      {path, Qt::Key_S, alt, false, 1, 0},
      {button, Qt::Key_E, alt, false, 0, 1},
      {path, Qt::Key_S, Qt::ControlModifier | alt, false, 0, 0},
      {path, Qt::Key_E, Qt::ShiftModifier | alt, false, 0, 0},
      {path, Qt::Key_S, Qt::MetaModifier | alt, false, 0, 0},
      {path, Qt::Key_S, Qt::NoModifier, false, 0, 0},
      {path, Qt::Key_S, alt, true, 0, 0},
      {path, Qt::Key_E, alt, true, 0, 0},
      {&box, Qt::Key_S, alt, false, 0, 0},  // a dialog of the program has the keyboard
      {&box, Qt::Key_E, alt, false, 0, 0},
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
