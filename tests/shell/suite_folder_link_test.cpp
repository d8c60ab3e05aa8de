#include <QProcess>
#include <QTest>
#include <filesystem>

#include "shell_tests.h"
#include "temp_suite.h"

namespace fs = std::filesystem;

// As installed: ROOT/exe/Kiv2700P1, started through a link elsewhere
// (bin/Kiv2700P1 -> ../suite/exe/Kiv2700P1), with no KIV_ROOT.
void ShellTest::window_finds_its_suite_folder_through_a_link() {
  kiv::testing::TempSuite scratch(false);
  const fs::path base = scratch.root(), suite = base / "suite";
  fs::create_directories(suite / "exe");
  fs::create_directories(base / "bin");
  std::error_code ec;
  fs::create_hard_link(KIV_SHELL_EXE, suite / "exe/Kiv2700P1", ec);
  if (ec) fs::copy_file(KIV_SHELL_EXE, suite / "exe/Kiv2700P1");
  fs::create_symlink("../suite/exe/Kiv2700P1", base / "bin/Kiv2700P1");

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.remove(QStringLiteral("KIV_ROOT"));
  QProcess program;
  program.setProcessEnvironment(env);
  program.start(QString::fromStdString((base / "bin/Kiv2700P1").string()), {QStringLiteral("a/b/c")});
  // Loading makes the work folder of the suite folder the window found (and,
  // with no database there, then waits on the error box).
  QTRY_VERIFY_WITH_TIMEOUT(fs::is_directory(suite / "medi"), 30000);
  program.kill();
  program.waitForFinished();
  QVERIFY2(!fs::exists(base / "medi"), "the link's folder taken for the program's");
}
