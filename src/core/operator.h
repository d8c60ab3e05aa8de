#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"

namespace kiv {

inline constexpr const char* kAppTitle = "Tavenor";

enum class MessageIcon { information, critical, none };

// Everything the core needs from the person at the desk or from the desktop.
// The window implements it with Qt, the headless tool with standard streams,
// the tests with a recorder.
class Operator {
 public:
  virtual ~Operator() = default;

  // A message box with an OK button.
  virtual void show_message(const std::string& text, MessageIcon icon, const std::string& title) = 0;
  // The Yes/No question (no icon, empty title). True for Yes.
  virtual bool ask_yes_no(const std::string& text) = 0;
  // Whether to post a file that was posted before: Yes and No, No the
  // default, question icon, title "Tavenor". True for Yes.
  virtual bool confirm_post_again(const std::string& text) = 0;
  // The file-open dialog; nullopt when the operator cancels.
  virtual std::optional<std::string> choose_file(const std::string& title, const std::string& initial_dir) = 0;
  // Progress of a run: `done` of `total` detail lines. (0, 0) clears it.
  virtual void show_progress(std::int64_t done, std::int64_t total) = 0;
  // Let the window system handle what is pending (repaint, input).
  virtual void pump_events() = 0;
  // Starts a program detached. Empty on success, else the system's reason.
  virtual std::string start_program(const std::string& path, const std::vector<std::string>& args) = 0;
  // Opens a file in the desktop's default application. Empty on success, else the reason.
  virtual std::string open_document(const std::string& path) = 0;
};

// The standard error report: critical icon, title "Tavenor".
inline void report_error(Operator& op, const Error& error) {
  op.show_message(standard_error_text(error), MessageIcon::critical, kAppTitle);
}

inline void inform(Operator& op, const std::string& text) {
  op.show_message(text, MessageIcon::information, kAppTitle);
}

}  // namespace kiv
