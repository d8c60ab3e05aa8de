#pragma once

#include <QObject>

class ShellTest : public QObject {
  Q_OBJECT
 private slots:
  void splits_the_command_line();
  void ends_at_once_without_a_command_line();
  void qt_operator_boxes_and_programs();
  void load_controls_and_source_choice();
  void hot_keys();
  void confirm_runs_the_import_from_the_chosen_source();
  void exit_hands_back_to_the_menu_with_the_context();
};
