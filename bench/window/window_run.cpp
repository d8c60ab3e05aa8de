// Times an import run in the window as the operator starts it: the window is
// shown, the path option chosen, and Alt+S pressed. Message boxes are answered
// at once (they would wait for the operator), everything else is the window's
// own: progress, repaint, event processing.
//   bench_window_run ROOT COLLECTION_FILE
// Prints the seconds from the key press to the end of the run.
#include <QApplication>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTest>
#include <cstdio>

#include "core/paths.h"
#include "shell/glfunc.h"
#include "shell/main_window.h"
#include "shell/program.h"
#include "shell/qt_operator.h"
#include "shell/screen_font.h"

namespace {

class AnsweringOperator : public kiv::shell::QtOperator {
 public:
  using QtOperator::QtOperator;
  void show_message(const std::string& text, kiv::MessageIcon, const std::string&) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  bool ask_yes_no(const std::string&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: bench_window_run ROOT COLLECTION_FILE\n", stderr);
    return 2;
  }
  QApplication app(argc, argv);
  kiv::shell::use_traditional_chinese_font(app);
  AnsweringOperator op;
  kiv::shell::KIV2700F1 window(kiv::SuitePaths{argv[1]}, op);
  op.set_parent(&window);
  op.set_progress_handler([&window](std::int64_t done, std::int64_t total) { window.show_progress(done, total); });
  kiv::shell::Program program(window, op, kiv::shell::Context{"bench", "window", "run"});
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 2;
  window.findChild<QRadioButton*>(QStringLiteral("Opt2"))->setChecked(true);
  window.set_path_text(argv[2]);
  QElapsedTimer timer;
  timer.start();
  QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
  std::printf("%.3f\n", static_cast<double>(timer.nsecsElapsed()) / 1e9);
  return 0;
}
