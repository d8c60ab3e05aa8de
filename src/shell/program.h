#pragma once

#include <string>

#include "core/operator.h"
#include "core/paths.h"
#include "shell/glfunc.h"

namespace kiv::shell {

class KIV2700F1;

// The program's work behind the window: the import run behind the confirm
// button and the way out behind the exit button (and the title bar's close).
// The window stays a window; the core does the work.
class Program {
 public:
  // Name of the suite's menu program, started again on the way out.
  static constexpr const char* kMenuProgram = "Kiv0000P1";

  Program(KIV2700F1& window, Operator& op, Context context);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The confirm button: one import run from the chosen source.
  void cmd_confirm_Click();
  // The exit button: remember the source, compact, hand back to the menu.
  // The window stays open when the menu cannot be started.
  void cmd_exit_Click();
  // Closing from the title bar: true when the window may close. During a run
  // or an exit already under way it may not; otherwise the exit runs first
  // and the program ends even when the menu could not be started.
  bool may_close();

  // Starts `prog_name` from the suite's program folder with the context as its
  // one argument, waits two seconds and ends the program. False (window
  // kept) when it cannot be started; the reason has been shown.
  bool call_exe(const std::string& prog_name);

  const Context& context() const { return context_; }

 private:
  void leave(bool end_even_without_menu);
  void end_program();

  KIV2700F1& window_;
  Operator& op_;
  Context context_;
  bool exiting_ = false;
  bool closing_ = false;
};

}  // namespace kiv::shell
