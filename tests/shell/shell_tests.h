#pragma once

#include <QObject>

class ShellTest : public QObject {
  Q_OBJECT
 private slots:
  void command_line_gives_the_context_or_ends_the_program();
  void qt_operator_boxes_and_programs();
  void log_shown_in_the_viewer_when_the_desktop_cannot_open_it();
  void log_viewer_text_is_whole_lines_up_to_its_limit();
  void desktop_opener_takes_xdg_open_exit_status();
  void window_finds_its_suite_folder_through_a_link();
  void load_controls_source_choice_and_hot_keys();
  void confirm_runs_the_import_from_the_chosen_source();
  void exit_hands_back_to_the_menu_with_the_context();
  void same_file_question_box_and_answers_in_the_window();
};
