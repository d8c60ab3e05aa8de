#include "shell/log_viewer.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFont>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "shell/qt_operator.h"

namespace kiv::shell {

std::optional<QString> read_log_text(const QString& path, qint64 limit, QString& reason) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    reason = file.errorString();
    return std::nullopt;
  }
  QByteArray bytes = file.read(limit + 1);
  if (file.error() != QFileDevice::NoError) {
    reason = file.errorString();
    return std::nullopt;
  }
  const bool cut = bytes.size() > limit;
  if (cut) {
    // Whole lines only: a cut line, or a character cut in two, would look
    // like a fault in the log itself.
    bytes.truncate(limit);
    const qsizetype last_break = bytes.lastIndexOf('\n');
    bytes.truncate(last_break < 0 ? 0 : last_break + 1);
  }
  QString text = screen_text(bytes.toStdString());
  if (cut) {
    text += QStringLiteral("\n(記錄檔共 %1 位元組,此處只顯示前 %2 位元組)\n").arg(file.size()).arg(bytes.size());
  }
  return text;
}

QWidget* show_log_viewer(const QString& path, const QString& text, QWidget* parent) {
  auto* viewer = new QDialog(parent);
  viewer->setObjectName(QStringLiteral("log_viewer"));
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->setWindowTitle(path);
  auto* layout = new QVBoxLayout(viewer);

  auto* view = new QPlainTextEdit(viewer);
  view->setObjectName(QStringLiteral("log_text"));
  view->setReadOnly(true);
  view->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont font(QStringLiteral("monospace"));
  // The Traditional forms first, as in the rest of the program, then any
  // monospace font the system has.
  font.setFamilies({QStringLiteral("Noto Sans Mono CJK TC"), QStringLiteral("Noto Sans Mono CJK HK"),
                    QStringLiteral("Noto Sans Mono"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  view->setFont(font);
  view->setPlainText(text);
  layout->addWidget(view);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, viewer);
  QObject::connect(buttons, &QDialogButtonBox::rejected, viewer, &QDialog::close);
  layout->addWidget(buttons);

  viewer->resize(900, 560);
  viewer->show();
  return viewer;
}

}  // namespace kiv::shell
