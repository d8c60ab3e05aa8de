#include "shell/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <limits>

#include "source/folder_probe.h"
#include "source/transfer_source.h"

namespace kiv::shell {

namespace {

QString text_of(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

int shift_state_of(Qt::KeyboardModifiers modifiers) {
  int state = 0;
  if (modifiers & Qt::ShiftModifier) state |= kShiftMask;
  if (modifiers & Qt::ControlModifier) state |= kCtrlMask;
  if (modifiers & Qt::AltModifier) state |= kAltMask;
  if (modifiers & Qt::MetaModifier) state |= kMetaMask;
  return state;
}

KIV2700F1::KIV2700F1(SuitePaths paths, Operator& op, QWidget* parent)
    : QWidget(parent), paths_(std::move(paths)), op_(op) {
  setObjectName(QStringLiteral("KIV2700F1"));
  build_controls();
  // Keys reach the focused control first; only an application-wide filter
  // sees them before it, whichever control has the focus.
  qApp->installEventFilter(this);
  Form_Load();
}

KIV2700F1::~KIV2700F1() {
  qApp->removeEventFilter(this);
}

void KIV2700F1::Form_Load() {
  setWindowTitle(text_of("郵政Tavenor(" + paths_.root + ")"));
  // A folder that cannot be made is reported once, by get_dir, which tries
  // again before it reads the remembered source.
  (void)source::ensure_folder(paths_.work_dir());
  txt_path_->setText(text_of(paths_.default_path()));
  const source::SourceChoice choice = source::get_dir(paths_, op_);
  txt_path_->setText(text_of(choice.path_text));
  dialog_dir_ = choice.dialog_dir;
  clear_counters();
}

std::string KIV2700F1::path_text() const {
  return txt_path_->text().toStdString();
}

void KIV2700F1::set_path_text(const std::string& text) {
  txt_path_->setText(text_of(text));
}

bool KIV2700F1::floppy_selected() const {
  return Opt1_->isChecked();
}

void KIV2700F1::set_line_count_text(const std::string& text) {
  Label3_->setText(text_of(text));
}
void KIV2700F1::set_posted_amount_text(const std::string& text) {
  Label4_->setText(text_of(text));
}
void KIV2700F1::set_ok_count_text(const std::string& text) {
  Label7_->setText(text_of(text));
}
void KIV2700F1::set_failed_count_text(const std::string& text) {
  Label10_->setText(text_of(text));
}
void KIV2700F1::clear_counters() {
  for (QLabel* label : {Label3_, Label4_, Label7_, Label10_}) label->clear();
}

void KIV2700F1::show_progress(std::int64_t done, std::int64_t total) {
  L_cnt_->setText(total > 0 ? text_of(std::to_string(done) + " / " + std::to_string(total)) : QString());
  if (total <= 0) {
    progress_bar_->reset();
    progress_bar_->hide();
    return;
  }
  // A bar counts in int; a file longer than that is shown in parts per million.
  constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();
  if (total > kIntMax) {
    done = static_cast<std::int64_t>(static_cast<double>(done) / static_cast<double>(total) * 1e6);
    total = 1000000;
  }
  progress_bar_->setRange(0, static_cast<int>(total));
  progress_bar_->setValue(static_cast<int>(std::min(done, total)));
  progress_bar_->show();
}

void KIV2700F1::set_running(bool running) {
  running_ = running;
  for (QWidget* control :
       std::initializer_list<QWidget*>{cmd_confirm_, cmd_exit_, Cmd_showpath_, Opt1_, Opt2_, txt_path_}) {
    control->setEnabled(!running);
  }
}

void KIV2700F1::focus_Cmd_showpath() {
  Cmd_showpath_->setFocus(Qt::OtherFocusReason);
}

void KIV2700F1::clear_all() {
  Opt1_->setChecked(true);
}

void KIV2700F1::cmd_confirm_Click() {
  if (confirm_action_) confirm_action_();
}

void KIV2700F1::cmd_exit_Click() {
  if (exit_action_) exit_action_();
}

void KIV2700F1::Cmd_showpath_Click() {
  Opt2_->setChecked(true);
  txt_path_->setText(text_of(source::choose_source_file(op_, dialog_dir_, path_text())));
}

bool KIV2700F1::Form_KeyDown(int key_code, int shift_state) {
  if (shift_state != kAltMask) return false;
  if (key_code != Qt::Key_E && key_code != Qt::Key_S) return false;
  // A run in progress refuses both keys, and they do nothing else either.
  if (running_) return true;
  if (key_code == Qt::Key_E) {
    cmd_exit_Click();
  } else {
    cmd_confirm_Click();
  }
  return true;
}

bool KIV2700F1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (Form_KeyDown(key->key(), shift_state_of(key->modifiers()))) return true;
  }
  return QWidget::eventFilter(watched, event);
}

void KIV2700F1::closeEvent(QCloseEvent* event) {
  if (close_guard_ && !close_guard_()) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace kiv::shell
