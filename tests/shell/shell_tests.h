#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QTimer>

class ShellTest : public QObject {
  Q_OBJECT
 private slots:
  void command_line_gives_the_context_or_ends_the_program();
  void qt_operator_boxes_and_programs();
  void log_viewer_and_desktop_opener();
  void load_controls_source_choice_and_hot_keys();
  void confirm_runs_the_import_from_the_chosen_source();
  void exit_hands_back_to_the_menu_with_the_context();
  void same_file_question_box_and_answers_in_the_window();
};

namespace kiv::testing {

template <class Control = QWidget>
Control* control(QWidget& window, const char* name) {
  auto* found = window.findChild<Control*>(QString::fromLatin1(name));
  if (found == nullptr) qFatal("no control %s", name);
  return found;
}

inline QString caption(QObject* object) {
  if (auto* label = qobject_cast<QLabel*>(object)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(object)) return button->text();
  if (auto* box = qobject_cast<QGroupBox*>(object)) return box->title();
  return QStringLiteral("<no caption>");
}

// Presses `button` on the next message box the code under test opens, noting
// its title, text, icon, text format, buttons and default button in `seen`.
inline void press_when_shown(QStringList& seen, QMessageBox::StandardButton button) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, &seen, button] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer->stop();
    timer->deleteLater();
    seen = {box->windowTitle(),
            box->text(),
            QString::number(box->icon()),
            QString::number(box->textFormat()),
            QString::number(box->standardButtons().toInt()),
            QString::number(box->standardButton(box->defaultButton()))};
    box->button(button)->click();
  });
  timer->start(10);
}

}  // namespace kiv::testing
