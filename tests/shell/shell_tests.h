#pragma once

#include <QObject>

class ShellTest : public QObject {
  Q_OBJECT
 private slots:
  void command_line_gives_the_context_or_ends_the_program();
  void qt_operator_boxes_and_programs();
  void load_controls_source_choice_and_hot_keys();
  void confirm_runs_the_import_from_the_chosen_source();
  void exit_hands_back_to_the_menu_with_the_context();
};
