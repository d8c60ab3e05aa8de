#include "shell/qt_operator.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>

#include "shell/desktop_opener.h"
#include "shell/log_viewer.h"

namespace kiv::shell {

namespace {

QMessageBox::Icon box_icon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::information:
      return QMessageBox::Information;
    case MessageIcon::critical:
      return QMessageBox::Critical;
    case MessageIcon::none:
      break;
  }
  return QMessageBox::NoIcon;
}

// File names are bytes on Linux; the locale's codec turns them into text and back.
QString file_name_text(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string file_name_bytes(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

}  // namespace

QString screen_text(const std::string& text) {
  QString screen = QString::fromStdString(text);
  screen.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  screen.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return screen;
}

void QtOperator::show_message(const std::string& text, MessageIcon icon, const std::string& title) {
  QMessageBox box(box_icon(icon), QString::fromStdString(title), screen_text(text), QMessageBox::Ok, parent_);
  // A path or a database reason may contain "<": it is text, never markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool QtOperator::ask_yes_no(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QString(), screen_text(text), QMessageBox::Yes | QMessageBox::No, parent_);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

bool QtOperator::confirm_post_again(const std::string& text) {
  QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppTitle), screen_text(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  box.setTextFormat(Qt::PlainText);
  // Posting a file twice is the costly mistake: a reflex Enter must not do it.
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtOperator::choose_file(const std::string& title, const std::string& initial_dir) {
  QFileDialog dialog(parent_, QString::fromStdString(title), file_name_text(initial_dir));
  // The desktop's own dialog may load a second SQLite library into the process.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return file_name_bytes(chosen.first());
}

// A run reports every line, some tens of thousands a second; the screen
// shows about thirty pictures a second. The counter is brought up to date at
// most that often (and at once for the first and last line and for the
// clearing), and pending events are handled at least every 50 ms.
void QtOperator::show_progress(std::int64_t done, std::int64_t total) {
  if (!progress_) return;
  const bool edge = total <= 0 || done <= 1 || done >= total;
  if (!edge && progress_shown_.isValid() && progress_shown_.elapsed() < kRepaintIntervalMs) return;
  progress_shown_.start();
  progress_(done, total);
}

void QtOperator::pump_events() {
  if (events_pumped_.isValid() && events_pumped_.elapsed() < kPumpIntervalMs) return;
  events_pumped_.start();
  QCoreApplication::processEvents();
}

std::string QtOperator::start_program(const std::string& path, const std::vector<std::string>& args) {
  QProcess process;
  process.setProgram(file_name_text(path));
  QStringList arguments;
  for (const auto& arg : args) arguments << QString::fromStdString(arg);
  process.setArguments(arguments);
  if (process.startDetached()) return {};
  const std::string reason = process.errorString().toStdString();
  return reason.empty() ? "無法啟動程式 " + path : reason;
}

std::string QtOperator::open_document(const std::string& path) {
  const QString name = file_name_text(path);
  if (opener_ ? opener_(name) : open_with_desktop(name)) return {};
  QString reason;
  const std::optional<QString> text = read_log_text(name, kLogViewerLimit, reason);
  if (!text) return "無法開啟檔案 " + path + ": " + reason.toStdString();
  show_log_viewer(name, *text, parent_);
  return {};
}

}  // namespace kiv::shell
