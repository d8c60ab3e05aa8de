#pragma once

#include <vector>

#include "core/operator.h"

namespace kiv::import {

// Stands between the operations of a detail line and the real operator while
// the line's transaction is open: message boxes are held back until the run
// has rolled the line back or committed it, so that no box waits on the
// operator while the database is locked against the suite's other programs.
// Everything else goes straight through.
class DeferredOperator : public Operator {
 public:
  explicit DeferredOperator(Operator& target) : target_(target) {}

  void show_message(const std::string& text, MessageIcon icon, const std::string& title) override {
    held_.push_back({text, icon, title});
  }
  bool ask_yes_no(const std::string& text) override { return target_.ask_yes_no(text); }
  bool confirm_post_again(const std::string& text) override { return target_.confirm_post_again(text); }
  std::optional<std::string> choose_file(const std::string& title, const std::string& initial_dir) override {
    return target_.choose_file(title, initial_dir);
  }
  void show_progress(std::int64_t done, std::int64_t total) override { target_.show_progress(done, total); }
  void pump_events() override { target_.pump_events(); }
  std::string start_program(const std::string& path, const std::vector<std::string>& args) override {
    return target_.start_program(path, args);
  }
  std::string open_document(const std::string& path) override { return target_.open_document(path); }

  bool holding() const { return !held_.empty(); }
  // Shows what was held back, in order.
  void release() {
    auto held = std::move(held_);
    held_.clear();
    for (const auto& m : held) target_.show_message(m.text, m.icon, m.title);
  }

 private:
  struct Held {
    std::string text;
    MessageIcon icon;
    std::string title;
  };
  Operator& target_;
  std::vector<Held> held_;
};

}  // namespace kiv::import
