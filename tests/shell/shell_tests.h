#pragma once

#include <QObject>

class ShellTest : public QObject {
  Q_OBJECT
 private slots:
  void splits_the_command_line();
  void ends_at_once_without_a_command_line();
  void qt_operator_boxes_and_programs();
  void load_root_caption_work_folder_and_source();
  void controls_captions_arrangement_lock_and_progress();
  void hot_keys();
  void file_dialog_and_clear_all();
  void confirm_runs_the_import_from_the_chosen_source();
  void exit_hands_back_to_the_menu_with_the_context();
  void missing_menu_keeps_the_window_but_closing_still_ends();
  void same_file_question_box_and_answers_in_the_window();
};
