#include "shell/log_viewer.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>

#include "shell/desktop_opener.h"
#include "shell/qt_operator.h"
#include "shell_tests.h"
#include "temp_suite.h"

namespace fs = std::filesystem;
using kiv::testing::TempSuite;

namespace {

QList<QWidget*> open_viewers() {
  QList<QWidget*> viewers;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QStringLiteral("log_viewer") && widget->isVisible()) viewers << widget;
  }
  return viewers;
}

}  // namespace

void ShellTest::log_viewer_and_desktop_opener() {
  TempSuite suite(false);
  const std::string log = suite.write_file("medi/err27_61206120000.txt",
                                           "1000000000931015   00012345678901\r\n 重複銷帳 \r\nlone\rend\r\n");
  kiv::shell::QtOperator op;
  QStringList offered;
  bool desktop_opens = false;
  op.set_document_opener([&](const QString& path) {
    offered << path;
    return desktop_opens;
  });

  QCOMPARE(op.open_document(log), std::string());
  QCOMPARE(offered, QStringList{QString::fromStdString(log)});
  const QList<QWidget*> viewers = open_viewers();
  QVERIFY(viewers.size() == 1 && viewers[0]->windowTitle() == QString::fromStdString(log));
  auto* view = kiv::testing::control<QPlainTextEdit>(*viewers[0], "log_text");
  QCOMPARE(view->toPlainText(), QStringLiteral("1000000000931015   00012345678901\n 重複銷帳 \nlone\nend\n"));
  QVERIFY(view->isReadOnly());
  // The copied lines are fixed-width records: their columns must line up.
  const QFontMetrics metrics(view->font());
  for (const QString& glyphs : {QStringLiteral("WWWW"), QStringLiteral("0000"), QStringLiteral("    ")}) {
    QVERIFY2(metrics.horizontalAdvance(glyphs) == metrics.horizontalAdvance(QStringLiteral("iiii")),
             qPrintable(QFontInfo(view->font()).family() + ": " + glyphs));
  }
  viewers[0]->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  // A log that cannot be read stays a failure of the run, and nothing is shown.
  for (const std::string& unreadable : {suite.root() + "/medi/none.txt", suite.root() + "/medi"}) {
    const std::string failure = op.open_document(unreadable);
    QVERIFY2(failure.starts_with("無法開啟檔案 " + unreadable + ": ") && open_viewers().isEmpty(), failure.c_str());
  }

  desktop_opens = true;
  QCOMPARE(op.open_document(log), std::string());
  QVERIFY2(open_viewers().isEmpty(), "the desktop's application shows it");

  // The viewer shows whole lines up to its limit, never half a character.
  const QString small_log = QString::fromStdString(suite.write_file("err.txt", "aaaa\r\nbbbb\r\n銷帳\r\n"));
  const std::pair<qint64, const char*> limits[] = {
      {1000, "aaaa\nbbbb\n銷帳\n"},
      {20, "aaaa\nbbbb\n銷帳\n"},
      {19, "aaaa\nbbbb\n\n(記錄檔共 20 位元組,此處只顯示前 12 位元組)\n"},
      {14, "aaaa\nbbbb\n\n(記錄檔共 20 位元組,此處只顯示前 12 位元組)\n"},
      {6, "aaaa\n\n(記錄檔共 20 位元組,此處只顯示前 6 位元組)\n"},
      {3, "\n(記錄檔共 20 位元組,此處只顯示前 0 位元組)\n"},
  };
  for (const auto& [limit, shown] : limits) {
    QString reason;
    QCOMPARE(kiv::shell::read_log_text(small_log, limit, reason).value_or(reason), QString::fromUtf8(shown));
  }

  // The desktop opened it only when xdg-open says so.
  const QByteArray path = qgetenv("PATH");
  const std::pair<const char*, bool> scripts[] = {
      {"#!/bin/sh\nexit 0\n", true},
      {"#!/bin/sh\necho 'xdg-open: no method available for opening' >&2\nexit 3\n", false},
      {"#!/bin/sh\nkill -9 $$\n", false},
  };
  for (const auto& [script, opens] : scripts) {
    fs::permissions(suite.write_file("bin/xdg-open", script), fs::perms::owner_all);
    qputenv("PATH", QByteArray::fromStdString(suite.root() + "/bin:") + path);
    const bool opened = kiv::shell::open_with_desktop(QString::fromStdString(log));
    qputenv("PATH", path);
    QCOMPARE(opened, opens);
  }
}
