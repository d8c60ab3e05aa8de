// Kiv2700P1: posts the school fees the postal service collected.
#include <QApplication>
#include <QFile>

#include "core/paths.h"
#include "shell/glfunc.h"
#include "shell/main_window.h"
#include "shell/program.h"
#include "shell/qt_operator.h"
#include "shell/screen_font.h"

int main(int argc, char** argv) {
  // Started without the menu's context: nothing to do, and no need to reach
  // the display to find that out.
  if (argc < 2) return 0;
  QApplication app(argc, argv);
  kiv::shell::Context context;
  if (!kiv::shell::parse_command_line(kiv::shell::command_line_text(QCoreApplication::arguments()), context)) {
    return 0;
  }
  const kiv::SuitePaths paths{
      kiv::resolve_root(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString())};

  kiv::shell::use_traditional_chinese_font(app);
  kiv::shell::QtOperator op;
  kiv::shell::KIV2700F1 window(paths, op);
  op.set_parent(&window);
  op.set_progress_handler([&window](std::int64_t done, std::int64_t total) { window.show_progress(done, total); });
  kiv::shell::Program program(window, op, context);
  window.show();
  return app.exec();
}
