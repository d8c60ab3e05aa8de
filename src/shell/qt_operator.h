#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "core/operator.h"

namespace kiv::shell {

// The operator at the desk, reached through Qt: message boxes, the file
// dialog, the event loop, starting programs and opening files.
class QtOperator : public Operator {
 public:
  using ProgressHandler = std::function<void(std::int64_t done, std::int64_t total)>;
  // Opens a file in the desktop's application for it; false when there is none.
  using DocumentOpener = std::function<bool(const QString& path)>;

  explicit QtOperator(QWidget* parent = nullptr) : parent_(parent) {}

  // The window the boxes and the dialog belong to.
  void set_parent(QWidget* parent) { parent_ = parent; }
  void set_progress_handler(ProgressHandler handler) { progress_ = std::move(handler); }
  // The desktop itself unless set (open_with_desktop).
  void set_document_opener(DocumentOpener opener) { opener_ = std::move(opener); }

  void show_message(const std::string& text, MessageIcon icon, const std::string& title) override;
  bool ask_yes_no(const std::string& text) override;
  bool confirm_post_again(const std::string& text) override;
  std::optional<std::string> choose_file(const std::string& title, const std::string& initial_dir) override;
  void show_progress(std::int64_t done, std::int64_t total) override;
  void pump_events() override;
  std::string start_program(const std::string& path, const std::vector<std::string>& args) override;
  // When the desktop has no application for the file, the file (the error
  // log) is shown in the program's own viewer; only a file that cannot be
  // read is a failure.
  std::string open_document(const std::string& path) override;

 private:
  static constexpr qint64 kRepaintIntervalMs = 33;
  static constexpr qint64 kPumpIntervalMs = 20;
  QPointer<QWidget> parent_;
  ProgressHandler progress_;
  DocumentOpener opener_;
  QElapsedTimer progress_shown_;
  QElapsedTimer events_pumped_;
};

// Message texts break lines with CR LF (or a lone CR); the screen wants LF.
QString screen_text(const std::string& text);

}  // namespace kiv::shell
