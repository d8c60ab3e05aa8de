#include "shell/program.h"

#include <QApplication>

#include "core/money.h"
#include "import/import_run.h"
#include "shell/main_window.h"
#include "source/transfer_source.h"
#include "store/compaction.h"

namespace kiv::shell {

Program::Program(KIV2700F1& window, Operator& op, Context context)
    : window_(window), op_(op), context_(std::move(context)) {
  window_.set_confirm_action([this] { cmd_confirm_Click(); });
  window_.set_exit_action([this] { cmd_exit_Click(); });
  window_.set_close_guard([this] { return may_close(); });
}

void Program::cmd_confirm_Click() {
  if (window_.running() || exiting_) return;
  window_.clear_counters();
  window_.set_running(true);
  import::RunRequest request{window_.paths(), window_.floppy_selected(), window_.path_text()};
  request.context = {context_.ctx_arg1, context_.ctx_arg2, context_.ctx_arg3};
  const auto show_counters = [this](const import::RunResult& r) {
    window_.set_line_count_text(group_digits(r.lines));
    window_.set_posted_amount_text(group_digits(r.posted_total()));
    window_.set_ok_count_text(group_digits(r.ok));
    window_.set_failed_count_text(group_digits(r.failed));
  };
  const import::RunResult result = import::confirm_run(request, op_, nullptr, show_counters);
  if (result.read_data_ran) window_.clear_all();
  window_.set_running(false);
  if (result.focus_file_button) window_.focus_Cmd_showpath();
}

void Program::cmd_exit_Click() {
  leave(false);
}

bool Program::may_close() {
  if (closing_) return true;
  if (window_.running() || exiting_) return false;
  leave(true);
  return closing_;
}

void Program::leave(bool end_even_without_menu) {
  if (window_.running() || exiting_) return;
  exiting_ = true;
  window_.set_running(true);
  // Each step handles and reports its own failure; the next one runs anyway.
  source::update_drive(window_.paths(), op_, window_.path_text());
  (void)store::compress_mdb(window_.paths(), op_);
  if (call_exe(kMenuProgram)) return;
  if (end_even_without_menu) {
    end_program();
    return;
  }
  window_.set_running(false);
  exiting_ = false;
}

bool Program::call_exe(const std::string& prog_name) {
  const std::string path = window_.paths().program(prog_name);
  const std::string argument = context_.ctx_arg1 + "/" + context_.ctx_arg2 + "/" + context_.ctx_arg3;
  const std::string failure = op_.start_program(path, {argument});
  if (!failure.empty()) {
    const std::string text = failure.find(path) == std::string::npos ? failure + " (" + path + ")" : failure;
    op_.show_message(text, MessageIcon::critical, kAppTitle);
    return false;
  }
  wait_seconds(2);
  end_program();
  return true;
}

void Program::end_program() {
  closing_ = true;
  window_.close();
  QApplication::quit();
}

}  // namespace kiv::shell
