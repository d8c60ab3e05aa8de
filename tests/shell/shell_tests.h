#pragma once

#include <QObject>

// The window program's tests; main.cpp runs both classes.
class ShellTest : public QObject {
  Q_OBJECT
 private slots:
  void splits_the_context();
  void joins_the_arguments_qt_left();
  void message_boxes();
  void file_dialog_cancel();
  void start_program_and_progress();
  void ends_at_once_without_a_command_line();
};

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void root_caption_and_paths();
  void work_folder_at_load();
  void restores_the_remembered_source();
  void controls_and_captions();
  void arrangement();
  void hot_keys_and_buttons();
  void file_dialog();
  void clear_all_selects_the_floppy_only();
  void running_locks_the_controls();
};

class ProgramTest : public QObject {
  Q_OBJECT
 private slots:
  void confirm_runs_the_import_and_fills_the_counters();
  void floppy_without_file_stops_before_the_run();
  void exit_hands_back_to_the_menu_with_the_context();
  void missing_menu_keeps_the_window_but_closing_still_ends();
};
