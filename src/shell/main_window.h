#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "core/operator.h"
#include "core/paths.h"

class QButtonGroup;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace kiv::shell {

// Modifier bits as the key handler sees them.
inline constexpr int kShiftMask = 1;
inline constexpr int kCtrlMask = 2;
inline constexpr int kAltMask = 4;
inline constexpr int kMetaMask = 8;

// The program's one window. Every control carries its name as objectName.
// Loading (caption, work folder, remembered source) happens in the
// constructor, so a constructed window is a loaded one.
class KIV2700F1 : public QWidget {
  Q_OBJECT

 public:
  KIV2700F1(SuitePaths paths, Operator& op, QWidget* parent = nullptr);
  ~KIV2700F1() override;

  const SuitePaths& paths() const { return paths_; }
  const std::string& root_path() const { return paths_.root; }
  std::string db_path() const { return paths_.db_path(); }

  // The transfer source on screen.
  std::string path_text() const;
  void set_path_text(const std::string& text);
  const std::string& dialog_dir() const { return dialog_dir_; }
  bool floppy_selected() const;  // Opt1 rather than the path

  // The run's figures: Label3, Label4, Label7 and Label10.
  void set_line_count_text(const std::string& text);
  void set_posted_amount_text(const std::string& text);
  void set_ok_count_text(const std::string& text);
  void set_failed_count_text(const std::string& text);
  void clear_counters();
  // Progress of a run in L_cnt ("i / n") and the bar beside it; (0, 0) clears both.
  void show_progress(std::int64_t done, std::int64_t total);

  // While a run is in progress the operator can neither start another, nor
  // leave, nor change the source.
  void set_running(bool running);
  bool running() const { return running_; }
  void focus_Cmd_showpath();

  // What the two buttons (and Alt+S, Alt+E) do; nothing until set.
  void set_confirm_action(std::function<void()> action) { confirm_action_ = std::move(action); }
  void set_exit_action(std::function<void()> action) { exit_action_ = std::move(action); }
  // Asked before the window closes from its title bar; false keeps it open.
  void set_close_guard(std::function<bool()> guard) { close_guard_ = std::move(guard); }

  // Back to the floppy as the source; nothing else changes.
  void clear_all();

  // The window's hot keys. `shift_state` is a set of kShiftMask, kCtrlMask,
  // kAltMask and kMetaMask. True when the key was taken.
  bool Form_KeyDown(int key_code, int shift_state);

 public slots:
  void cmd_confirm_Click();
  void cmd_exit_Click();
  void Cmd_showpath_Click();

 protected:
  // Sees every key meant for this window before the focused control does.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void build_controls();
  void Form_Load();

  SuitePaths paths_;
  Operator& op_;
  std::string dialog_dir_;
  bool running_ = false;
  std::function<void()> confirm_action_;
  std::function<void()> exit_action_;
  std::function<bool()> close_guard_;

  QGroupBox* fra_00_ = nullptr;
  QLabel* lbl_00_ = nullptr;
  QLabel* lbl_01_ = nullptr;
  QGroupBox* Frame1_ = nullptr;
  QRadioButton* Opt1_ = nullptr;
  QRadioButton* Opt2_ = nullptr;
  QButtonGroup* source_group_ = nullptr;
  QLineEdit* txt_path_ = nullptr;
  QPushButton* Cmd_showpath_ = nullptr;
  QLabel* Label1_ = nullptr;
  QLabel* Label3_ = nullptr;
  QLabel* Label2_ = nullptr;
  QLabel* Label4_ = nullptr;
  QLabel* Label5_ = nullptr;
  QLabel* Label7_ = nullptr;
  QLabel* Label9_ = nullptr;
  QLabel* Label10_ = nullptr;
  QLabel* L_cnt_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QGroupBox* fra_04_ = nullptr;
  QPushButton* cmd_confirm_ = nullptr;
  QPushButton* cmd_exit_ = nullptr;
  QLabel* lbl_msg_ = nullptr;
};

// Modifier bits of a Qt key event.
int shift_state_of(Qt::KeyboardModifiers modifiers);

}  // namespace kiv::shell
