#pragma once

#include <string>
#include <vector>

#include "core/operator.h"

namespace kiv::cli {

// The operator of the headless tool: every message box and question goes to
// standard error (and is kept for --json), the question is answered No, and
// progress is a bar on standard error when that is a terminal. Whether to post
// a file posted before is answered as --again says.
class StreamOperator : public Operator {
 public:
  explicit StreamOperator(bool post_again = false);

  void show_message(const std::string& text, MessageIcon icon, const std::string& title) override;
  bool ask_yes_no(const std::string& text) override;
  bool confirm_post_again(const std::string& text) override;
  std::optional<std::string> choose_file(const std::string& title, const std::string& initial_dir) override;
  void show_progress(std::int64_t done, std::int64_t total) override;
  void pump_events() override {}
  std::string start_program(const std::string& path, const std::vector<std::string>& args) override;
  std::string open_document(const std::string& path) override;

  const std::vector<std::string>& messages() const { return messages_; }

 private:
  void end_progress_line();
  std::vector<std::string> messages_;
  bool post_again_ = false;
  bool terminal_ = false;
  bool progress_shown_ = false;
  int last_permille_ = -1;
};

}  // namespace kiv::cli
