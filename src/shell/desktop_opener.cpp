#include "shell/desktop_opener.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace kiv::shell {

namespace {

// xdg-open hands the file to the application and returns at once; it is
// given this long to say that there is none.
constexpr int kVerdictMs = 5000;

}  // namespace

bool open_with_desktop(const QString& path) {
  const QString xdg_open = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (xdg_open.isEmpty()) return QDesktopServices::openUrl(QUrl::fromLocalFile(path));

  // QDesktopServices only starts xdg-open and calls that success; whether an
  // application took the file shows in xdg-open's exit status.
  auto process = std::make_unique<QProcess>();
  process->setProgram(xdg_open);
  process->setArguments({path});
  process->setStandardInputFile(QProcess::nullDevice());
  process->start();
  if (!process->waitForStarted()) return false;
  if (process->state() != QProcess::NotRunning) {
    QEventLoop loop;
    QObject::connect(process.get(), &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kVerdictMs, &loop, &QEventLoop::quit);
    loop.exec();
  }
  if (process->state() != QProcess::NotRunning) {
    // Still running: it is showing the file itself (a viewer in the
    // foreground). It is left to run and cleans up after itself.
    QProcess* running = process.release();
    QObject::connect(running, &QProcess::finished, running, &QObject::deleteLater);
    return true;
  }
  return process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
}

}  // namespace kiv::shell
