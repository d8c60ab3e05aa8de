#include "cli/stream_operator.h"

#include <unistd.h>

#include <cstdio>

namespace kiv::cli {

namespace {

// On a terminal a lone CR would overwrite the line: show it as a line break.
std::string printable(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      out += '\n';
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

StreamOperator::StreamOperator(bool post_again) : post_again_(post_again), terminal_(::isatty(STDERR_FILENO) == 1) {}

void StreamOperator::end_progress_line() {
  if (progress_shown_) {
    std::fputs("\n", stderr);
    progress_shown_ = false;
  }
}

void StreamOperator::show_message(const std::string& text, MessageIcon /*icon*/, const std::string& /*title*/) {
  messages_.push_back(text);
  end_progress_line();
  std::fprintf(stderr, "%s\n", printable(text).c_str());
}

bool StreamOperator::ask_yes_no(const std::string& text) {
  messages_.push_back(text);
  end_progress_line();
  std::fprintf(stderr, "%s\n(no)\n", printable(text).c_str());
  return false;
}

bool StreamOperator::confirm_post_again(const std::string& text) {
  messages_.push_back(text);
  end_progress_line();
  std::fprintf(stderr, "%s\n%s\n", printable(text).c_str(), post_again_ ? "(yes: --again)" : "(no)");
  return post_again_;
}

std::optional<std::string> StreamOperator::choose_file(const std::string& /*title*/,
                                                       const std::string& /*initial_dir*/) {
  return std::nullopt;  // no dialog without a window: the file comes from the command line
}

void StreamOperator::show_progress(std::int64_t done, std::int64_t total) {
  if (!terminal_) return;
  if (total <= 0) {
    if (progress_shown_) std::fputs("\r\033[K", stderr);
    progress_shown_ = false;
    last_permille_ = -1;
    return;
  }
  const int permille = static_cast<int>(done * 1000 / total);
  if (permille == last_permille_ && done != total) return;
  last_permille_ = permille;
  constexpr int kWidth = 40;
  const int filled = permille * kWidth / 1000;
  std::fprintf(stderr, "\r[%s%s] %lld / %lld", std::string(static_cast<std::size_t>(filled), '#').c_str(),
               std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(), static_cast<long long>(done),
               static_cast<long long>(total));
  std::fflush(stderr);
  progress_shown_ = true;
}

std::string StreamOperator::start_program(const std::string& path, const std::vector<std::string>& /*args*/) {
  return "沒有視窗環境,無法啟動 " + path;
}

std::string StreamOperator::open_document(const std::string& path) {
  return "沒有視窗環境,無法開啟 " + path;
}

}  // namespace kiv::cli
