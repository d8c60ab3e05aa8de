#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/operator.h"

namespace kiv::testing {

// An operator for tests: records everything shown and answers as told.
class RecordingOperator : public Operator {
 public:
  struct Message {
    std::string text;
    MessageIcon icon;
    std::string title;
    std::size_t lines_started = 0;  // progress reports before it was shown
  };

  void show_message(const std::string& text, MessageIcon icon, const std::string& title) override {
    messages.push_back({text, icon, title, progress.size()});
  }
  bool ask_yes_no(const std::string& text) override { return questions.push_back(text), answer_yes; }
  bool confirm_post_again(const std::string& text) override { return again_questions.push_back(text), post_again; }
  std::optional<std::string> choose_file(const std::string& title, const std::string& initial_dir) override {
    return dialogs.push_back(title + "|" + initial_dir), next_file;
  }
  void show_progress(std::int64_t done, std::int64_t total) override { progress.emplace_back(done, total); }
  void pump_events() override { ++pumps; }
  std::string start_program(const std::string& path, const std::vector<std::string>& args) override {
    return started.push_back({path, args}), start_failure;
  }
  std::string open_document(const std::string& path) override { return opened.push_back(path), open_failure; }

  std::vector<Message> messages;
  std::vector<std::string> questions, again_questions, dialogs, opened;  // dialogs: "title|initial folder"
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  std::vector<std::pair<std::string, std::vector<std::string>>> started;
  int pumps = 0;

  bool answer_yes = false;
  // Tests that post one file repeatedly mean to: Yes unless told otherwise.
  bool post_again = true;
  std::optional<std::string> next_file;
  std::string start_failure, open_failure;
};

}  // namespace kiv::testing
