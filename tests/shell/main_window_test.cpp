#include "shell/main_window.h"

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
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

template <class Control>
Control* control(KIV2700F1& window, const char* name) {
  auto* found = window.findChild<Control*>(QString::fromLatin1(name));
  if (found == nullptr) qFatal("no control %s", name);
  return found;
}

// Counts the presses of S and E that get past the window to a control.
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

QString caption(QObject* object) {
  if (auto* label = qobject_cast<QLabel*>(object)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(object)) return button->text();
  if (auto* box = qobject_cast<QGroupBox*>(object)) return box->title();
  return QStringLiteral("<no caption>");
}

}  // namespace

void MainWindowTest::root_caption_and_paths() {
  TempSuite scratch(false);
  const std::string root = kiv::root_from_executable_dir(scratch.root() + "/SUITE/exe");
  QCOMPARE(q(root), q(scratch.root() + "/SUITE"));
  fs::create_directories(root + "/mdb");

  RecordingOperator op;
  KIV2700F1 window(kiv::SuitePaths{root}, op);
  QCOMPARE(window.windowTitle(), q("郵政Tavenor(" + root + ")"));
  QCOMPARE(q(window.root_path()), q(root));
  QCOMPARE(q(window.db_path()), q(root + "/mdb/KIV.mdb"));
  // No database here: the remembered source cannot be read, the default stays.
  QCOMPARE(q(window.path_text()), q(root + "/medi/"));
  QCOMPARE(q(window.dialog_dir()), q(root + "/medi/"));
  QCOMPARE(op.messages.size(), std::size_t{1});
  QVERIFY(op.messages[0].text.ends_with("(-2147467259)"));
  QVERIFY(!fs::exists(root + "/mdb/KIV.mdb"));
}

void MainWindowTest::work_folder_at_load() {
  TempSuite suite;
  fs::remove_all(suite.paths().work_dir());
  {
    RecordingOperator op;
    KIV2700F1 window(suite.paths(), op);
    QVERIFY(fs::is_directory(suite.paths().work_dir()));
    QVERIFY(op.messages.empty());
  }
  // Cannot be made: reported, and the window still loads.
  fs::remove_all(suite.paths().work_dir());
  suite.write_file("medi", "a file where the folder belongs");
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  QVERIFY(!op.messages.empty());
  QVERIFY(op.messages[0].text.starts_with("錯誤:"));
  QCOMPARE(op.messages[0].icon, kiv::MessageIcon::critical);
  QCOMPARE(q(window.path_text()), q(suite.root() + "/medi/"));
}

void MainWindowTest::restores_the_remembered_source() {
  TempSuite suite;
  const std::string dir = suite.root() + "/data/";
  fs::create_directories(dir);
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('', '" + dir + "')");
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  QCOMPARE(q(window.path_text()), QStringLiteral("/"));
  QCOMPARE(q(window.dialog_dir()), q(dir));
  QVERIFY(window.floppy_selected());
}

void MainWindowTest::controls_and_captions() {
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
  for (const auto& [name, text] : captions) {
    QObject* found = window.findChild<QObject*>(QString::fromLatin1(name));
    QVERIFY2(found != nullptr, name);
    QCOMPARE(caption(found), QString::fromUtf8(text));
  }
  QVERIFY(control<QLineEdit>(window, "txt_path") != nullptr);
  QVERIFY(control<QRadioButton>(window, "Opt1")->isChecked());
  QVERIFY(!control<QRadioButton>(window, "Opt2")->isChecked());

  // The run's figures: right-aligned in a single-line box.
  for (const char* name : {"Label3", "Label4", "Label7", "Label10"}) {
    auto* label = control<QLabel>(window, name);
    QVERIFY(label->alignment() & Qt::AlignRight);
    QCOMPARE(label->frameShape(), QFrame::Box);
    QCOMPARE(label->lineWidth(), 1);
  }
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QVERIFY(!control<QLabel>(window, "lbl_msg")->isVisible());
  QVERIFY(!control<QProgressBar>(window, "progress_bar")->isVisible());
  QVERIFY(control<QLabel>(window, "Label3")->isVisible());
}

void MainWindowTest::arrangement() {
  TempSuite suite;
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  window.show();
  window.show_progress(1, 2);
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  auto at = [&window](const char* name) {
    QWidget* widget = control<QWidget>(window, name);
    return QRect(widget->mapTo(&window, QPoint(0, 0)), widget->size());
  };
  // Two rows of caption and value, L_cnt below them with the bar beside it.
  const char* rows[2][4] = {{"Label1", "Label3", "Label2", "Label4"}, {"Label5", "Label7", "Label9", "Label10"}};
  for (const auto& row : rows) {
    for (int i = 1; i < 4; ++i) {
      QVERIFY2(at(row[i]).left() >= at(row[i - 1]).right(), row[i]);
      QCOMPARE(at(row[i]).center().y(), at(row[0]).center().y());
    }
  }
  QVERIFY(at("Label5").top() >= at("Label1").bottom());
  QVERIFY(at("L_cnt").top() >= at("Label7").bottom());
  QVERIFY(at("progress_bar").left() >= at("L_cnt").right());
  // Opt2 at the left of the path box, "..." at its right.
  QVERIFY(at("Opt2").right() <= at("txt_path").left());
  QVERIFY(at("Cmd_showpath").left() >= at("txt_path").right());
  QVERIFY(at("cmd_confirm").top() >= at("L_cnt").bottom());
}

void MainWindowTest::hot_keys_and_buttons() {
  TempSuite suite;
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  int confirms = 0;
  int exits = 0;
  window.set_confirm_action([&] { ++confirms; });
  window.set_exit_action([&] { ++exits; });
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  auto* path = control<QLineEdit>(window, "txt_path");
  path->setFocus();
  path->setText(QString());

  QTest::keyClick(path, Qt::Key_S, Qt::AltModifier);
  QCOMPARE(confirms, 1);
  QCOMPARE(exits, 0);

  // Other modifier states, and plain keys, are left to the focused control.
  KeyCounter reached;
  path->installEventFilter(&reached);
  QTest::keyClick(path, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
  QTest::keyClick(path, Qt::Key_E, Qt::ShiftModifier | Qt::AltModifier);
  QTest::keyClick(path, Qt::Key_S, Qt::MetaModifier | Qt::AltModifier);
  QCOMPARE(reached.presses, 3);
  QCOMPARE(confirms, 1);
  QCOMPARE(exits, 0);
  path->clear();
  QTest::keyClicks(path, QStringLiteral("se"));
  QCOMPARE(path->text(), QStringLiteral("se"));
  QCOMPARE(confirms, 1);
  QCOMPARE(reached.presses, 5);

  QTest::keyClick(control<QPushButton>(window, "cmd_confirm"), Qt::Key_E, Qt::AltModifier);
  QCOMPARE(exits, 1);

  // Refused while a run is in progress.
  window.set_running(true);
  QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
  QTest::keyClick(&window, Qt::Key_E, Qt::AltModifier);
  QCOMPARE(confirms, 1);
  QCOMPARE(exits, 1);
  window.set_running(false);
  QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
  QCOMPARE(confirms, 2);

  QTest::mouseClick(control<QPushButton>(window, "cmd_confirm"), Qt::LeftButton);
  QTest::mouseClick(control<QPushButton>(window, "cmd_exit"), Qt::LeftButton);
  QCOMPARE(confirms, 3);
  QCOMPARE(exits, 2);
  QVERIFY(op.messages.empty());
}

void MainWindowTest::file_dialog() {
  TempSuite suite;
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  const std::string before = window.path_text();

  QTest::mouseClick(control<QPushButton>(window, "Cmd_showpath"), Qt::LeftButton);
  QCOMPARE(q(window.path_text()), q(before));  // cancelled
  QVERIFY(!window.floppy_selected());
  QCOMPARE(op.dialog_titles.size(), std::size_t{1});
  QCOMPARE(q(op.dialog_titles[0]), QStringLiteral("選擇欲載入之檔案"));
  QCOMPARE(q(op.dialog_initial_dirs[0]), q(suite.root() + "/medi/"));

  window.clear_all();
  op.next_file = "/data/it's/post1003.dat";
  window.Cmd_showpath_Click();
  QCOMPARE(q(window.path_text()), QStringLiteral("/data/it's/post1003.dat"));
  QVERIFY(!window.floppy_selected());
  QVERIFY(op.messages.empty());
}

void MainWindowTest::clear_all_selects_the_floppy_only() {
  TempSuite suite;
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  control<QRadioButton>(window, "Opt2")->setChecked(true);
  QVERIFY(!window.floppy_selected());
  window.set_path_text("/data/post1003.dat");
  window.set_line_count_text("12");
  window.set_posted_amount_text("1,234");
  window.set_ok_count_text("10");
  window.set_failed_count_text("1");
  window.set_progress_text("12 / 12");

  window.clear_all();
  QVERIFY(window.floppy_selected());
  QVERIFY(!control<QRadioButton>(window, "Opt2")->isChecked());
  QCOMPARE(q(window.path_text()), QStringLiteral("/data/post1003.dat"));
  QCOMPARE(control<QLabel>(window, "Label3")->text(), QStringLiteral("12"));
  QCOMPARE(control<QLabel>(window, "Label4")->text(), QStringLiteral("1,234"));
  QCOMPARE(control<QLabel>(window, "Label7")->text(), QStringLiteral("10"));
  QCOMPARE(control<QLabel>(window, "Label10")->text(), QStringLiteral("1"));
  QCOMPARE(control<QLabel>(window, "L_cnt")->text(), QStringLiteral("12 / 12"));

  window.clear_counters();
  QCOMPARE(control<QLabel>(window, "Label4")->text(), QString());
  QCOMPARE(control<QLabel>(window, "L_cnt")->text(), QStringLiteral("12 / 12"));
}

void MainWindowTest::running_locks_the_controls() {
  TempSuite suite;
  RecordingOperator op;
  KIV2700F1 window(suite.paths(), op);
  const char* locked[] = {"cmd_confirm", "cmd_exit", "Cmd_showpath", "Opt1", "Opt2", "txt_path"};
  window.set_running(true);
  QVERIFY(window.running());
  for (const char* name : locked) QVERIFY2(!control<QWidget>(window, name)->isEnabled(), name);
  window.set_running(false);
  for (const char* name : locked) QVERIFY2(control<QWidget>(window, name)->isEnabled(), name);

  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
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
