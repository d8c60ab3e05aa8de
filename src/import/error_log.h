#pragma once

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"

namespace kiv::import {

// "err27_" + the run's start as yyyymmddhhnnss less its first three
// characters + ".txt", in the work folder.
std::string error_log_path(const std::string& work_dir, const std::tm& local_start);

// The run's error log: created at the first failed line (never when no line
// fails), two lines per failed line, CR LF endings, the detail line copied
// byte for byte. A name already taken gets "_1", "_2", ... so that no run
// replaces another run's log.
class ErrorLog {
 public:
  explicit ErrorLog(std::string wanted_path) : wanted_path_(std::move(wanted_path)) {}
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;
  ~ErrorLog();

  // Writes one failed line; an Error when the log cannot be created or written.
  std::optional<Error> write(std::string_view detail_line, std::string_view message);
  // Puts what was written on disk and keeps the log open for more.
  std::optional<Error> sync();
  // Flushes to disk; an Error when that fails.
  std::optional<Error> close();

  bool created() const { return file_ != nullptr || closed_; }
  // The path actually used; empty until created.
  const std::string& path() const { return path_; }

 private:
  std::optional<Error> create();
  std::string wanted_path_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool closed_ = false;
};

}  // namespace kiv::import
