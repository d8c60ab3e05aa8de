#include "shell/main_window.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cerrno>
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

class KeyCounter : public QObject {
 public:
  int presses = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_S || key == Qt::Key_E) ++presses;
    }
    return false;
  }
};

}  // namespace

void ShellTest::load_root_caption_work_folder_and_source() {
  TempSuite scratch(false);
  const std::string root = kiv::root_from_executable_dir(scratch.root() + "/SUITE/exe");
  QCOMPARE(q(root), q(scratch.root() + "/SUITE"));
  fs::create_directories(root + "/mdb");
  {
    RecordingOperator op;
    KIV2700F1 window(kiv::SuitePaths{root}, op);
    QCOMPARE(window.windowTitle(), q("郵政Tavenor(" + root + ")"));
    QCOMPARE(q(window.db_path()), q(root + "/mdb/KIV.mdb"));
    QCOMPARE(q(window.path_text()), q(root + "/medi/"));
    QCOMPARE(q(window.dialog_dir()), q(root + "/medi/"));
    QCOMPARE(op.messages.size(), std::size_t{1});
    QVERIFY(op.messages[0].text.ends_with("(-2147467259)"));
    QVERIFY(!fs::exists(root + "/mdb/KIV.mdb"));
  }

  TempSuite suite;
  {
    // A file where the work folder belongs: the operator hears of it once.
    const std::string blocked = suite.root() + "/blocked";
    fs::create_directories(blocked + "/mdb");
    fs::copy_file(suite.paths().db_path(), blocked + "/mdb/KIV.mdb");
    suite.write_file("blocked/medi", "not a folder");
    RecordingOperator op;
    KIV2700F1 window(kiv::SuitePaths{blocked}, op);
    QCOMPARE(op.messages.size(), std::size_t{1});
    QVERIFY(op.messages[0].text.ends_with("(" + std::to_string(ENOTDIR) + ")"));
  }
  const std::string dir = suite.root() + "/data/";
  fs::create_directories(dir);
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('', '" + dir + "')");
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  QCOMPARE(q(window.path_text()), QStringLiteral("/"));
  QCOMPARE(q(window.dialog_dir()), q(dir));
  QVERIFY(window.floppy_selected());
  QVERIFY(op.messages.empty());
}

void ShellTest::controls_captions_arrangement_lock_and_progress() {
  TempSuite suite;
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  // clang-format off
  const std::pair<const char*, const char*> captions[] = {
      {"fra_00", "程式代號 KIV 2700"}, {"lbl_00", "程式名稱"}, {"lbl_01", "轉帳銷帳檔案讀入"},
      {"Frame1", "請選擇磁碟機代號"}, {"Opt1", "A:磁碟機"}, {"Opt2", ""}, {"Cmd_showpath", "..."},
      {"Label1", "銷帳總筆數"}, {"Label2", "總金額"}, {"Label5", "轉帳成功筆數"}, {"Label9", "轉帳不成功筆數"},
      {"Label3", ""}, {"Label4", ""}, {"Label7", ""}, {"Label10", ""}, {"L_cnt", ""}, {"fra_04", ""},
      {"cmd_confirm", "確認 S"}, {"cmd_exit", "離開 E"}, {"lbl_msg", "磁片製作中，請稍後......"}};
  // clang-format on
  for (const auto& [name, text] : captions) QCOMPARE(caption(control<QObject>(window, name)), QString::fromUtf8(text));
  control<QLineEdit>(window, "txt_path");
  QVERIFY(control<QRadioButton>(window, "Opt1")->isChecked());
  for (const char* name : {"Label3", "Label4", "Label7", "Label10"}) {  // the figures: right-aligned in a box
    auto* label = control<QLabel>(window, name);
    QVERIFY(label->alignment() & Qt::AlignRight);
    QCOMPARE(label->frameShape(), QFrame::Box);
  }

  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QVERIFY(!control(window, "lbl_msg")->isVisible());
  QVERIFY(!control(window, "progress_bar")->isVisible());
  window.show_progress(1, 2);
  auto at = [&window](const char* name) {
    QWidget* widget = control(window, name);
    return QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size());
  };
  const char* left_to_right[][2] = {{"Label1", "Label3"},      {"Label3", "Label2"}, {"Label2", "Label4"},
                                    {"Label5", "Label7"},      {"Label7", "Label9"}, {"Label9", "Label10"},
                                    {"L_cnt", "progress_bar"}, {"Opt2", "txt_path"}, {"txt_path", "Cmd_showpath"}};
  for (const auto& [left, right] : left_to_right) {
    QVERIFY2(at(left).right() <= at(right).left() && at(right).contains(at(right).left(), at(left).center().y()),
             right);
  }
  const char* top_to_bottom[][2] = {{"Label1", "Label5"}, {"Label7", "L_cnt"}, {"L_cnt", "cmd_confirm"}};
  for (const auto& [top, bottom] : top_to_bottom) QVERIFY2(at(top).bottom() <= at(bottom).top(), bottom);
  for (const bool running : {true, false}) {
    window.set_running(running);
    QCOMPARE(window.running(), running);
    for (const char* name : {"cmd_confirm", "cmd_exit", "Cmd_showpath", "Opt1", "Opt2", "txt_path"}) {
      QVERIFY2(control(window, name)->isEnabled() != running, name);
    }
  }
  auto* bar = control<QProgressBar>(window, "progress_bar");
  window.show_progress(3, 8);
  QVERIFY(bar->isVisible());
  QCOMPARE(bar->value(), 3);
  QCOMPARE(bar->maximum(), 8);
  window.show_progress(5'000'000'000, 10'000'000'000);  // beyond int
  QCOMPARE(bar->value() * 2, bar->maximum());
  window.show_progress(0, 0);
  QVERIFY(!bar->isVisible());
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
  auto* path = control<QLineEdit>(window, "txt_path");
  auto* button = control(window, "cmd_confirm");
  KeyCounter reached;
  path->installEventFilter(&reached);
  button->installEventFilter(&reached);
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

void ShellTest::file_dialog_and_clear_all() {
  TempSuite suite;
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  const std::string before = window.path_text();
  QTest::mouseClick(control<QPushButton>(window, "Cmd_showpath"), Qt::LeftButton);  // cancelled
  QCOMPARE(q(window.path_text()), q(before));
  QVERIFY(!window.floppy_selected());
  QCOMPARE(op.dialog_titles, std::vector<std::string>{"選擇欲載入之檔案"});
  QCOMPARE(op.dialog_initial_dirs, std::vector<std::string>{suite.root() + "/medi/"});
  op.next_file = "/data/it's/post1003.dat";
  window.Cmd_showpath_Click();
  QCOMPARE(q(window.path_text()), QStringLiteral("/data/it's/post1003.dat"));

  window.set_line_count_text("12");
  window.set_posted_amount_text("1,234");
  window.set_ok_count_text("10");
  window.set_failed_count_text("1");
  window.show_progress(12, 12);
  const char* labels[] = {"Label3", "Label4", "Label7", "Label10", "L_cnt"};
  const QStringList shown = {"12", "1,234", "10", "1", "12 / 12"};
  window.clear_all();
  QVERIFY(window.floppy_selected());
  QVERIFY(!control<QRadioButton>(window, "Opt2")->isChecked());
  QCOMPARE(q(window.path_text()), QStringLiteral("/data/it's/post1003.dat"));
  for (int i = 0; i < 5; ++i) QCOMPARE(control<QLabel>(window, labels[i])->text(), shown[i]);
  window.clear_counters();
  for (int i = 0; i < 4; ++i) QCOMPARE(control<QLabel>(window, labels[i])->text(), QString());
  QCOMPARE(control<QLabel>(window, "L_cnt")->text(), shown[4]);
  QVERIFY(op.messages.empty());
}
