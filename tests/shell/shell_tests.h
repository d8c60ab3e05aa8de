#pragma once

#include <QObject>

class ShellTest : public QObject {
  Q_OBJECT
 private slots:
  void splits_the_command_line();
  void ends_at_once_without_a_command_line();
  void qt_operator_boxes_and_programs();
  void log_shown_in_the_viewer_when_the_desktop_cannot_open_it();
  void log_viewer_text_is_whole_lines_up_to_its_limit();
  void desktop_opener_takes_xdg_open_exit_status();
  void window_finds_its_suite_folder_through_a_link();
  void load_root_caption_work_folder_and_source();
  void controls_captions_arrangement_lock_and_progress();
  void hot_keys();
  void file_dialog_and_clear_all();
  void confirm_runs_the_import_from_the_chosen_source();
  void exit_hands_back_to_the_menu_with_the_context();
  void missing_menu_keeps_the_window_but_closing_still_ends();
};
