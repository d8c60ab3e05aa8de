#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/operator.h"

namespace kiv::testing {

// An operator for tests: records everything shown, answers from queues.
class RecordingOperator : public Operator {
 public:
  struct Message {
    std::string text;
    MessageIcon icon;
    std::string title;
  };
  struct Started {
    std::string path;
    std::vector<std::string> args;
  };

  void show_message(const std::string& text, MessageIcon icon, const std::string& title) override {
    messages.push_back({text, icon, title});
  }
  bool ask_yes_no(const std::string& text) override {
    questions.push_back(text);
    return answer_yes;
  }
  bool confirm_post_again(const std::string& text) override {
    again_questions.push_back(text);
    return post_again;
  }
  std::optional<std::string> choose_file(const std::string& title, const std::string& initial_dir) override {
    dialog_titles.push_back(title);
    dialog_initial_dirs.push_back(initial_dir);
    return next_file;
  }
  void show_progress(std::int64_t done, std::int64_t total) override { progress.emplace_back(done, total); }
  void pump_events() override { ++pumps; }
  std::string start_program(const std::string& path, const std::vector<std::string>& args) override {
    started.push_back({path, args});
    return start_failure;
  }
  std::string open_document(const std::string& path) override {
    opened.push_back(path);
    return open_failure;
  }

  std::vector<Message> messages;
  std::vector<std::string> questions;
  std::vector<std::string> again_questions;
  std::vector<std::string> dialog_titles;
  std::vector<std::string> dialog_initial_dirs;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  std::vector<Started> started;
  std::vector<std::string> opened;
  int pumps = 0;

  bool answer_yes = false;
  // Tests that post one file repeatedly mean to: Yes unless told otherwise.
  bool post_again = true;
  std::optional<std::string> next_file;
  std::string start_failure;
  std::string open_failure;
};

}  // namespace kiv::testing
