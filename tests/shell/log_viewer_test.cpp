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

void ShellTest::log_shown_in_the_viewer_when_the_desktop_cannot_open_it() {
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
}

void ShellTest::log_viewer_text_is_whole_lines_up_to_its_limit() {
  TempSuite suite(false);
  const QString log = QString::fromStdString(suite.write_file("err.txt", "aaaa\r\nbbbb\r\n銷帳\r\n"));
  const struct {
    qint64 limit;
    QString shown;
  } rows[] = {
      {1000, QStringLiteral("aaaa\nbbbb\n銷帳\n")},
      {20, QStringLiteral("aaaa\nbbbb\n銷帳\n")},
      {19, QStringLiteral("aaaa\nbbbb\n\n(記錄檔共 20 位元組,此處只顯示前 12 位元組)\n")},
      {14, QStringLiteral("aaaa\nbbbb\n\n(記錄檔共 20 位元組,此處只顯示前 12 位元組)\n")},  // not half a character
      {6, QStringLiteral("aaaa\n\n(記錄檔共 20 位元組,此處只顯示前 6 位元組)\n")},
      {3, QStringLiteral("\n(記錄檔共 20 位元組,此處只顯示前 0 位元組)\n")},
  };
  for (const auto& row : rows) {
    QString reason;
    QCOMPARE(kiv::shell::read_log_text(log, row.limit, reason).value_or(reason), row.shown);
  }
}

void ShellTest::desktop_opener_takes_xdg_open_exit_status() {
  TempSuite suite(false);
  const std::string log = suite.write_file("medi/err.txt", "x\r\n");
  const QByteArray path = qgetenv("PATH");
  const struct {
    const char* script;
    bool opened;
  } rows[] = {
      {"#!/bin/sh\nexit 0\n", true},
      {"#!/bin/sh\necho 'xdg-open: no method available for opening' >&2\nexit 3\n", false},
      {"#!/bin/sh\nkill -9 $$\n", false},
  };
  for (const auto& row : rows) {
    const std::string xdg_open = suite.write_file("bin/xdg-open", row.script);
    fs::permissions(xdg_open, fs::perms::owner_all);
    qputenv("PATH", QByteArray::fromStdString(suite.root() + "/bin:") + path);
    const bool opened = kiv::shell::open_with_desktop(QString::fromStdString(log));
    qputenv("PATH", path);
    QCOMPARE(opened, row.opened);
  }
}
